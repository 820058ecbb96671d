// Every way an FTP request can fail, each against a peer that really fails that way:
// no reply, one clear exit line, and the destination exactly as it was before.
#include <cstdio>
#include <sstream>

#include "ftp_e2e_support.h"

namespace ftp_e2e {
namespace {

const char kRetrieveExit[] = "Exiting DownloadFTPFile as couldn't retrieve file - ";

class FtpFault : public FtpAgent {
 protected:
  // Sends one request whose destination holds the user's own file, waits for the
  // download's exit line and checks that nothing was answered, lost or left behind (a
  // request that ended keeps no bytes for a later one).
  std::string Fails(const std::string& source, const std::string& exitPrefix = kRetrieveExit,
                    const std::string& credentials = " Username=velmora Password=secret PassiveMode=1") {
    ++runs_;
    const std::string dest = "own-" + std::to_string(runs_) + ".txt";
    const std::wstring wdest = dest_ + L"\\" + std::wstring(dest.begin(), dest.end());
    EXPECT_TRUE(WriteFileBytes(wdest, "the user's own file"));
    EXPECT_TRUE(Send("GET Type=FTP Reference=F SourceFileName=" + source + " DestinationFileName=" + Dest(dest) +
                     credentials));
    EXPECT_TRUE(WaitCount("Finish frmVelmoraSkytrove:tmrDownloadFiles_Timer", runs_, 180000)) << source;
    EXPECT_FALSE(requester_.WaitReply(300)) << source;  // its tick is over: no reply is on its way
    EXPECT_EQ(ReadFileBytes(wdest), "the user's own file") << source;
    kept_.push_back(std::wstring(dest.begin(), dest.end()));
    EXPECT_TRUE(Leftovers(kept_).empty()) << source;
    // This request's exit line: the last one of the download procedure.
    std::string exit;
    for (const auto& t : Texts())
      if (t.rfind("Exiting DownloadFTPFile", 0) == 0 || t == "Finished DownloadFTPFile") exit = t;
    EXPECT_EQ(exit.compare(0, exitPrefix.size(), exitPrefix), 0) << exit;
    return exit.size() > exitPrefix.size() ? exit.substr(exitPrefix.size()) : std::string();
  }
  size_t runs_ = 0;
  std::vector<std::wstring> kept_;
};

TEST_F(FtpFault, LoginAndAddressFailures) {
  ASSERT_TRUE(PutRemote("f.txt", "remote"));
  const std::string wrong = Fails(Source("f.txt"), kRetrieveExit, " Username=velmora Password=not-this-one");
  EXPECT_FALSE(wrong.empty());
  const std::string unknown = Fails(Source("f.txt", "no-such-host.invalid"));
  EXPECT_FALSE(unknown.empty());
  const std::string refused = Fails(Source("f.txt", Narrow(Env("VELMORA_FTP_CLOSED_HOST"))));
  EXPECT_FALSE(refused.empty());
  // Three different causes, three different descriptions.
  EXPECT_NE(wrong, unknown);
  EXPECT_NE(unknown, refused);
  EXPECT_TRUE(Logged("Start cFTP:Connect no-such-host.invalid"));
  for (const auto& t : Texts()) EXPECT_EQ(t.find("not-this-one"), std::string::npos) << t;
  ExpectNoPasswordLogged();
}

TEST_F(FtpFault, MissingRemoteFileOrFolderGivesTheServersAnswer) {
  EXPECT_EQ(Fails(Source("not-there.txt")).substr(0, 3), "550");
  EXPECT_EQ(Fails(Source("no-folder/not-there.txt")).substr(0, 3), "550");
  EXPECT_TRUE(Logged("Exit cFTP:DownloadFile - Failed to Set Remote Directory"));
  // Nothing to time: the failed transfer is not followed by a second login.
  EXPECT_EQ(CountLogged("Start cFTP:Connect "), 2u);
}

TEST_F(FtpFault, DataConnectionClosedMidFileIsAFailureNotAShortFile) {
  ASSERT_TRUE(PutRemote("long.bin", Generated(400000)));
  // WinINet under Wine reads the cut as the end of the file: the listed size tells.
  const std::string why = Fails(Source("long.bin", Narrow(Env("VELMORA_FTP_FAULT_HOST"))), kRetrieveExit);
  EXPECT_EQ(why, "received 65536 of 400000 bytes");

  // A cut transfer is transient: with Retries=1 it is tried once more, continuing the kept
  // bytes (the server cuts that one too), and the reply says so.
  ASSERT_TRUE(Send(Request(Source("long.bin", Narrow(Env("VELMORA_FTP_FAULT_HOST"))), Dest("again.bin"),
                           " ReplyOnFailure=1 Retries=1")));
  const auto reply = requester_.WaitReply(60000);
  ASSERT_TRUE(reply);
  const std::string reason = reply->Field("Reason");
  EXPECT_EQ(reason, "received 131072 of 400000 bytes (after 2 attempts)");
  EXPECT_TRUE(Logged("Resuming " + Dest("again.bin") + " from byte 65536"));
  EXPECT_FALSE(FileExists(dest_ + L"\\again.bin"));
}

TEST_F(FtpFault, SourceWithoutSlashAfterTheHost) {
  const std::string why = Fails("ftp://" + host_);
  EXPECT_NE(why.find("no \"/\" after the host"), std::string::npos) << why;
  EXPECT_TRUE(Logged("Exit cFTP:Connect - No Server Address"));
}

TEST_F(FtpFault, EmptyRemoteFileIsNotADownload) {
  ASSERT_TRUE(PutRemote("empty.txt", ""));
  Fails(Source("empty.txt"), "Exiting DownloadFTPFile as source file was 0 bytes");
  EXPECT_TRUE(Logged("Retrieved file from Server, Recieved File length - 0"));
}

TEST_F(FtpFault, ServerRefusingTheSecondLoginLosesTheTimeAndTheDownload) {
  ASSERT_TRUE(PutRemote("one.txt", "arrives but has no time"));
  const std::string why = Fails(Source("one.txt", Narrow(Env("VELMORA_FTP_SINGLE_HOST"))));
  EXPECT_EQ(why, "Subscript out of range");
  EXPECT_TRUE(Logged("FTPGetFile Result: True"));
  EXPECT_EQ(CountLogged("Exit cFTP:Connect - No Session Handle"), 1u);
}

TEST_F(FtpFault, LocalDestinationProblemsStopBeforeTheServerIsAsked) {
  ASSERT_TRUE(PutRemote("x.txt", "x"));
  ASSERT_TRUE(Send(Request(Source("x.txt"), Dest("no-such-folder\\x.txt"))));
  const std::string missing = WaitLogged(kRetrieveExit);
  EXPECT_NE(missing.find("no-such-folder"), std::string::npos) << missing;

  // Open without sharing in this (another) process.
  const std::wstring locked = dest_ + L"\\locked.txt";
  ASSERT_TRUE(WriteFileBytes(locked, "in use"));
  HANDLE h = CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Send(Request(Source("x.txt"), Dest("locked.txt"))));
  EXPECT_FALSE(WaitLogged("Exiting DownloadFTPFile as couldn't remove existing temporary destination file").empty());
  const bool ran = WaitCount("Finish frmVelmoraSkytrove:tmrDownloadFiles_Timer", 2);
  CloseHandle(h);
  ASSERT_TRUE(ran);
  EXPECT_FALSE(requester_.WaitReply(300));  // neither request is answered
  EXPECT_EQ(ReadFileBytes(locked), "in use");
  EXPECT_EQ(CountLogged("Start cFTP:Connect"), 0u);
  EXPECT_TRUE(Leftovers({L"locked.txt"}).empty());
}

TEST_F(FtpFault, DeadServerHoldsTheAgentOnlyForTheStallLimit) {
  const DWORD start = GetTickCount();
  const std::string why = Fails(Source("f.txt", Narrow(Env("VELMORA_FTP_DEAD_HOST"))), kRetrieveExit,
                                " Username=velmora Password=secret PassiveMode=1 StallSeconds=5");
  const DWORD held = GetTickCount() - start;
  EXPECT_FALSE(why.empty());
  EXPECT_TRUE(Logged("Transfer stalled - no data for 5 s"));
  EXPECT_LT(held, 10000u);  // the limit and the dispatcher's tick, not WinINet's minute
  std::printf("dead server held the agent for %lu ms: %s\n", static_cast<unsigned long>(held), why.c_str());
  // One login attempt only: the failed download is not followed by the time query.
  EXPECT_EQ(CountLogged("Start cFTP:Connect "), 1u);
}

// What a GOT proves after a cut: the kept bytes and the rest are one and the same file.
// Against the peer that cuts every data connection after 64 KiB and accepts REST in
// proftpd's words (longer than 64 characters), noting each command it is sent.
class FtpProof : public FtpAgent {
 protected:
  void SetUp() override {
    FtpAgent::SetUp();
    fault_ = Narrow(Env("VELMORA_FTP_FAULT_HOST"));
  }
  std::string CutAt(size_t bytes, size_t size) {
    return "Exiting DownloadFTPFile as couldn't retrieve file - received " + std::to_string(bytes) + " of " +
           std::to_string(size) + " bytes";
  }
  // The peer's commands sent in this test's folder, or naming it ("<folder> <COMMAND> <argument>").
  std::vector<std::string> Commands() {
    std::vector<std::string> lines;
    std::istringstream log(ReadFileBytes(WinPath(Narrow(Env("VELMORA_FTP_FAULT_LOG")))));
    const std::string folder = "/e2e/" + Narrow(name_);
    for (std::string line; std::getline(log, line);)
      if (line.find(folder) != std::string::npos) lines.push_back(line);
    return lines;
  }
  bool Asked(const std::string& command) {
    for (const auto& line : Commands())
      if (line.size() >= command.size() && line.compare(line.size() - command.size(), command.size(), command) == 0)
        return true;
    return false;
  }
  std::string Got(const std::string& request, DWORD ms = 60000) {
    if (!Send(request)) return "not sent";
    auto reply = requester_.WaitReply(ms);
    return reply ? reply->bytes : "no reply";
  }
  std::string fault_;
};

// A long "350" read as a refusal emptied the part while the server sent from the kept
// size: every retry failed. The login's password holds a "/", which the record kept.
TEST_F(FtpProof, LongRestReplyContinuesAndTheRecordKeepsNoPassword) {
  const std::string body = Generated(100000, 5);
  ASSERT_TRUE(PutRemote("long350.bin", body));
  const std::string source = "ftp://slash:pa/ss@" + fault_ + "/e2e/" + Narrow(name_) + "/long350.bin";
  ASSERT_TRUE(Send("GET Type=FTP Reference=R2 SourceFileName=" + source + " DestinationFileName=" + Dest("a.bin") +
                   " PassiveMode=1 ReplyOnFailure=1 Retries=1"));
  ASSERT_FALSE(WaitLogged(CutAt(65536, 100000)).empty());
  // Between the attempts: the kept bytes and their record.
  const std::string record = ReadFileBytes(D("a.bin.vskpart.rec"));
  EXPECT_NE(record.find("source ftp://slash@" + fault_ + "/e2e/"), std::string::npos) << record;
  EXPECT_EQ(record.find("pa/ss"), std::string::npos) << record;
  auto reply = requester_.WaitReply(60000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.rfind("GOT ", 0), 0u) << reply->bytes;
  EXPECT_TRUE(ReadFileBytes(D("a.bin")) == body);
  EXPECT_TRUE(Logged("Resuming " + Dest("a.bin") + " from byte 65536"));
  EXPECT_TRUE(Asked(" REST 65536"));
  for (const auto& t : Texts()) EXPECT_EQ(t.find("pa/ss"), std::string::npos) << t;
  EXPECT_EQ(Leftovers({L"a.bin"}), std::vector<std::wstring>());
}

// The same size and the same listed minute, another content: MDTM's seconds tell them
// apart, so the kept bytes of the old file are not continued with the new one's rest.
TEST_F(FtpProof, SameSizeFileReplacedWithinTheMinuteIsNotSpliced) {
  ASSERT_TRUE(PutRemote("swap.bin", Generated(100000, 1)));
  ASSERT_TRUE(Send(Request(Source("swap.bin", fault_), Dest("s.bin"), " ReplyOnFailure=1 Retries=2")));
  ASSERT_FALSE(WaitLogged(CutAt(65536, 100000)).empty());
  const std::string replaced = Generated(100000, 2);
  const FILETIME known = KnownRemoteTime();
  ULARGE_INTEGER ticks{};
  ticks.LowPart = known.dwLowDateTime;
  ticks.HighPart = known.dwHighDateTime;
  ticks.QuadPart += 300000000;  // 30 s: the same minute (KnownRemoteTime is on one)
  const FILETIME later{ticks.LowPart, ticks.HighPart};
  ASSERT_TRUE(WriteFileBytes(Remote("swap.bin"), replaced));
  ASSERT_TRUE(SetWriteTime(Remote("swap.bin"), later));
  auto reply = requester_.WaitReply(60000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.rfind("GOT ", 0), 0u) << reply->bytes;
  EXPECT_TRUE(ReadFileBytes(D("s.bin")) == replaced);
  // The second attempt started over (and was cut again); only the third continued.
  EXPECT_EQ(CountLogged("Resuming " + Dest("s.bin") + " from byte 65536"), 1u);
  EXPECT_EQ(CountLogged(CutAt(65536, 100000)), 2u);
}

// Every byte kept, the agent gone before it put the file in place: the next attempt
// places the part without fetching the file again.
TEST_F(FtpProof, CompletePartWithAMatchingRecordIsPlacedWithoutATransfer) {
  const std::string body = Generated(5000, 3);
  ASSERT_TRUE(PutRemote("whole.bin", body));
  SYSTEMTIME day{};
  GetSystemTime(&day);
  char mdtm[32];
  std::snprintf(mdtm, sizeof mdtm, "%04u%02u%02u000000", day.wYear, day.wMonth, day.wDay);
  const std::string source = Source("whole.bin", fault_);
  ASSERT_TRUE(WriteFileBytes(D("w.bin.vskpart"), body));
  ASSERT_TRUE(WriteFileBytes(D("w.bin.vskpart.rec"),
                             "vskpart 1\nsource " + source + "\nvalidator ftp 5000 mdtm " + mdtm + "\nend\n"));
  ASSERT_EQ(Got(Request(source, Dest("w.bin"), " ReplyOnFailure=1")).rfind("GOT ", 0), 0u);
  EXPECT_TRUE(ReadFileBytes(D("w.bin")) == body);
  EXPECT_TRUE(Logged("Kept " + Dest("w.bin.vskpart") + " holds the whole file - no transfer"));
  EXPECT_TRUE(Asked(" MDTM /e2e/" + Narrow(name_) + "/whole.bin"));
  EXPECT_FALSE(Asked(" RETR whole.bin"));
  EXPECT_EQ(Leftovers({L"w.bin"}), std::vector<std::wstring>());
}

}  // namespace
}  // namespace ftp_e2e
