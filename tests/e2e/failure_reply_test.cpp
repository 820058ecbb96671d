// Failure replies as a requester sees them: a request that asks hears exactly once, with
// the cause its exit line gives; one that does not ask hears nothing, as before. And the
// requester program's exit status for each outcome.
#include <map>

#include "ftp_e2e_support.h"

namespace ftp_e2e {
namespace {

class FailureReply : public FtpAgent {
 protected:
  std::string Http(const std::string& url, const std::string& dest, const std::string& extra = "") {
    return "GET Type=HTTP Reference=R1 SourceFileName=" + url + " DestinationFileName=" + dest + extra;
  }
  std::string WrongLogin(const std::string& dest, const std::string& extra = "") {
    return "GET Type=FTP Reference=W SourceFileName=" + Source("f.txt") + " DestinationFileName=" + Dest(dest) +
           " Username=velmora Password=not-this-one PassiveMode=1" + extra;
  }
  std::string Failed(const std::string& type, const std::string& ref, const std::string& source,
                     const std::string& dest, const std::string& reason) {
    return "FAILED Type=" + type + " Reference=" + ref + " SourceFileName=" + source + " DestinationFileName=" + dest +
           " Reason=\"" + reason + "\"";
  }
  // The cause in the last FTP exit line of the log.
  std::string FtpExitCause() {
    const std::string prefix = "Exiting DownloadFTPFile as couldn't retrieve file - ";
    std::string cause;
    for (const auto& t : Texts())
      if (t.rfind(prefix, 0) == 0) cause = t.substr(prefix.size());
    return cause;
  }
};

TEST_F(FailureReply, FailuresThatAskGetOneFailedWithTheirReason) {
  ASSERT_TRUE(PutRemote("f.txt", "remote"));
  const std::string missing = Url("status/404");
  ASSERT_TRUE(Send(Http(missing, Dest("a.bin"), " ReplyOnFailure=1")));
  auto reply = requester_.WaitReply(15000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->code, 4u);
  EXPECT_EQ(reply->sender, agent_.Window());
  EXPECT_EQ(reply->bytes, Failed("HTTP", "R1", missing, Dest("a.bin"), "HTTP status 404"));

  ASSERT_TRUE(Send(WrongLogin("w.txt", " replyonfailure=1")));
  reply = requester_.WaitReply(60000);
  ASSERT_TRUE(reply);
  const std::string cause = FtpExitCause();
  ASSERT_FALSE(cause.empty());
  EXPECT_EQ(reply->Field("Reason"), cause);
  EXPECT_EQ(reply->Field("Type"), "FTP");
  EXPECT_EQ(reply->bytes.find("not-this-one"), std::string::npos);

  // A server's words that look like fields give the reply none: the request had no
  // StoryReference, and its Reference stays its own.
  ASSERT_TRUE(PutRemote("hostile.answer", "550 Refused StoryReference=66 Reference=evil\r\n"));
  ASSERT_TRUE(Send(Request(Source("hostile.answer"), Dest("h.txt"), " ReplyOnFailure=1")));
  reply = requester_.WaitReply(60000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.rfind("FAILED ", 0), 0u) << reply->bytes;
  EXPECT_EQ(reply->Field("StoryReference"), "") << reply->bytes;
  EXPECT_EQ(reply->Field("Reference"), "R2") << reply->bytes;
  EXPECT_NE(reply->Field("Reason").find("550 Refused StoryReference:66 Reference:evil"), std::string::npos)
      << reply->bytes;

  // The duplicate is answered at once, while its twin is still running.
  const std::string slow = Url("slow/20000?chunk=2000&delay=100");
  ASSERT_TRUE(Send(Http(slow, Dest("slow.bin"))));
  ASSERT_TRUE(Send(Http(slow, Dest("twin.bin"), " ReplyOnFailure=1")));
  reply = requester_.WaitReply(15000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, Failed("HTTP", "R1", slow, Dest("twin.bin"), "already in list"));
  reply = requester_.WaitReply(20000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.rfind("GOT ", 0), 0u);
  EXPECT_FALSE(requester_.WaitReply(2000));  // one reply each: the twin is not answered twice
}

TEST_F(FailureReply, MixedBurstGetsExactlyOneReplyPerRequestThatAsked) {
  ASSERT_TRUE(PutRemote("f.txt", "remote"));
  ASSERT_TRUE(WriteFileBytes(PeerData(L"web") + L"\\burst.txt", "burst"));
  const std::string ok = Url("files/burst.txt");
  const std::string asks = " ReplyOnFailure=1";
  const std::string burst[] = {
      Http(ok, Dest("1.txt"), asks),                         // GOT
      Http(ok + "?2", Dest("2.txt")),                        // GOT
      Http(Url("status/404"), Dest("3.txt"), asks),          // FAILED HTTP status 404
      Http(Url("status/404?4"), Dest("4.txt")),              // silence
      Http(ok, Dest("5.txt"), asks),                         // FAILED already in list
      Http(ok + "?2", Dest("6.txt")),                        // refused, silence
      "GET Reference=R1 SourceFileName=" + ok + asks,        // FAILED no type
      "GET Type=HTTP Reference=R1" + asks,                   // FAILED no source file
      WrongLogin("9.txt"),                                   // silence
      Http(Url("status/404?10"), Dest("10.txt"), " ReplyOnFailure=yes"),  // silence
      Http(ok + "?11", "11.txt", asks),                      // FAILED destination is not a full path
      Http(ok + "?13", Dest("13.bin:stream"), asks),         // FAILED destination is not a file name
      Http(ok + "?14", Dest("Nul .txt"), asks),              // FAILED destination is not a file name
  };
  for (const auto& r : burst) ASSERT_TRUE(Send(r));
  // No window to answer: refused at once, never queued to be dropped at its tick.
  std::string orphan = Http(ok + "?12", Dest("12.txt"), asks);
  COPYDATASTRUCT data{4, static_cast<DWORD>(orphan.size()), orphan.data()};
  DWORD_PTR ignored = 0;
  ASSERT_NE(SendMessageTimeoutW(agent_.Window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, 10000,
                                &ignored),
            0);
  // Six requests were accepted; each ends its own tick.
  ASSERT_TRUE(WaitCount("Finish frmVelmoraSkytrove:tmrDownloadFiles_Timer", 6, 120000));
  Pump(1000);  // time for a reply sent twice to arrive and be counted
  std::map<std::string, int> got;
  for (const auto& r : requester_.Replies()) {
    const std::string word = r.bytes.substr(0, r.bytes.find(' '));
    ++got[word == "FAILED" ? "FAILED " + r.Field("Reason") : word + " " + r.Field("DestinationFileName")];
  }
  const std::map<std::string, int> expected = {{"GOT " + Dest("1.txt"), 1},
                                               {"GOT " + Dest("2.txt"), 1},
                                               {"FAILED HTTP status 404", 1},
                                               {"FAILED already in list", 1},
                                               {"FAILED no type", 1},
                                               {"FAILED no source file", 1},
                                               {"FAILED destination is not a full path", 1},
                                               {"FAILED destination is not a file name", 2}};
  EXPECT_EQ(got, expected);
  EXPECT_EQ(CountLogged("Exiting AddToDownloadList as destination is not a full path"), 1u);
  EXPECT_EQ(CountLogged("Exiting AddToDownloadList as destination is not a file name"), 2u);
  EXPECT_FALSE(FileExists(D("13.bin")));  // a stream's base file is not made either
  EXPECT_EQ(CountLogged("Exiting AddToDownloadList as no requesting window (wParam 0)"), 1u);
  EXPECT_EQ(CountLogged("Parent lost"), 0u);
}

void SKYTROVE_CALL IgnoreReply(void*, const SkytroveReply*) {}

// A reply that comes after its SkytroveRequest gave up answers no later call: the same
// request asked again is answered by its own run, and the late reply does not stay behind.
TEST_F(FailureReply, LateReplyIsNotTakenForTheNextIdenticalRequest) {
  SkytroveClient* client = SkytroveOpen();
  ASSERT_NE(client, nullptr);
  const std::string url = Url("slow/20000?chunk=2000&delay=100");
  const std::string dest = Dest("late.bin");
  const SkytroveField fields[] = {
      {"Type", "HTTP"}, {"Reference", "L1"}, {"SourceFileName", url.c_str()}, {"DestinationFileName", dest.c_str()}};
  SkytroveReply* reply = nullptr;
  EXPECT_EQ(SkytroveRequest(client, agent_.Window(), fields, 4, 1, 500, &reply), SKYTROVE_TIMEOUT);
  // The late "GOT" is delivered to the client while this thread waits for the log.
  ASSERT_TRUE(WaitCount("Finish frmVelmoraSkytrove:tmrDownloadFiles_Timer", 1, 30000));
  ASSERT_EQ(SkytroveRequest(client, agent_.Window(), fields, 4, 1, 30000, &reply), SKYTROVE_GOT);
  EXPECT_EQ(CountLogged("Posting to requesting application"), 2u);  // its own run's reply
  EXPECT_STREQ(reply->reference, "L1");
  SkytroveFreeReply(reply);
  EXPECT_EQ(SkytroveWait(client, 0, &reply), SKYTROVE_TIMEOUT);
  // With a callback set no reply would ever reach the call: refused at once.
  SkytroveSetCallback(client, &IgnoreReply, nullptr);
  EXPECT_EQ(SkytroveRequest(client, agent_.Window(), fields, 4, 1, 30000, &reply), SKYTROVE_CALLBACK_SET);
  SkytroveClose(client);
}

// Runs the requester program and returns its exit status; its output lands in `out`.
DWORD RunRequester(const std::wstring& arguments, std::string& out) {
  const std::wstring path = FreshFolder(L"requester-out") + L"\\out.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = file;
  si.hStdError = file;
  PROCESS_INFORMATION pi{};
  std::wstring command = L"\"" + WinPath(Narrow(Env("VELMORA_BIN"))) + L"\\skytrove-request.exe\" " + arguments;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(file);
    return 999;
  }
  CloseHandle(file);
  CloseHandle(pi.hThread);
  DWORD code = 998;
  if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  out = ReadFileBytes(path);
  return code;
}

TEST_F(FailureReply, RequesterExitStatusTellsTheOutcome) {
  ASSERT_TRUE(WriteFileBytes(PeerData(L"web") + L"\\tool.txt", "tool"));
  auto args = [&](const std::string& url, const std::string& dest) {
    const std::string a = "Type=HTTP Reference=T SourceFileName=" + url + " DestinationFileName=" + Dest(dest);
    return std::wstring(a.begin(), a.end());
  };
  std::string out;
  EXPECT_EQ(RunRequester(args(Url("files/tool.txt"), "ok.txt"), out), 0u) << out;
  EXPECT_EQ(ReadFileBytes(dest_ + L"\\ok.txt"), "tool");
  EXPECT_EQ(RunRequester(args(Url("status/404"), "no.txt"), out), 3u) << out;
  EXPECT_NE(out.find("FAILED: HTTP status 404"), std::string::npos) << out;
  EXPECT_EQ(RunRequester(L"--no-failure-reply --timeout 4 " + args(Url("status/404?2"), "no.txt"), out), 1u) << out;
  // What the agent echoes is printed escaped and masked: no line of its own, no password.
  const std::string forged = "\"Reference=x\nGOT forged\" Type=HTTP SourceFileName=http://user:pa55@" +
                             Narrow(Env("VELMORA_WEB")) + "/status/404?3 DestinationFileName=" + Dest("no.txt");
  EXPECT_EQ(RunRequester(std::wstring(forged.begin(), forged.end()), out), 3u) << out;
  EXPECT_EQ(out.find("\nGOT"), std::string::npos) << out;
  EXPECT_NE(out.find("x<LF>GOT forged"), std::string::npos) << out;
  EXPECT_EQ(out.find("pa55"), std::string::npos) << out;
  EXPECT_EQ(RunRequester(L"--bogus", out), 2u) << out;
  // A reference the agent would read as the source: refused before anything is sent.
  EXPECT_EQ(RunRequester(L"Type=HTTP \"Reference=a SourceFileName=y\" SourceFileName=x", out), 2u) << out;
  EXPECT_NE(out.find("the value of Reference would be read as SourceFileName"), std::string::npos) << out;
  ASSERT_TRUE(agent_.Stop());
  EXPECT_EQ(RunRequester(args(Url("files/tool.txt"), "late.txt"), out), 2u) << out;
  EXPECT_NE(out.find("the agent is not running"), std::string::npos) << out;
}

}  // namespace
}  // namespace ftp_e2e
