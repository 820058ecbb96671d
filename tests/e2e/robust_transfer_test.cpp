// Transfers against servers that stall, refuse for a while or send the wrong bytes: the
// stall limit, retries and the checksum, as a requester sees them.
#include <sstream>

#include "ftp_e2e_support.h"

namespace ftp_e2e {
namespace {

// SHA-256 of "abc".
const char kAbcSha[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char kWrongSha[] = "0000000000000000000000000000000000000000000000000000000000000000";

class RobustTransfer : public FtpAgent {
 protected:
  std::string Http(const std::string& url, const std::string& dest, const std::string& extra = "") {
    return "GET Type=HTTP Reference=R1 SourceFileName=" + url + " DestinationFileName=" + dest +
           " ReplyOnFailure=1" + extra;
  }
  std::string Key(const std::string& k) { return Narrow(name_) + "-" + k + "-" + std::to_string(GetTickCount()); }
};

TEST_F(RobustTransfer, StalledBodyFailsWithinTheLimitAndTheQueueMovesOn) {
  ASSERT_TRUE(WriteFileBytes(D("stall.bin"), "old"));
  const std::string stall = Url("stall/100000?announce=1000000");
  const DWORD sent = GetTickCount();
  ASSERT_TRUE(Send(Http(stall, Dest("stall.bin"), " StallSeconds=5")));
  ASSERT_TRUE(Send(Http(Url("gen/3000"), Dest("after.bin"))));
  auto reply = requester_.WaitReply(30000);
  ASSERT_TRUE(reply);
  const DWORD took = GetTickCount() - sent;
  EXPECT_EQ(reply->bytes.rfind("FAILED ", 0), 0u) << reply->bytes;
  EXPECT_EQ(reply->Field("Reason"), "stalled: no data for 5 s");
  // The limit, plus the open's pause and a tick (about 7 s; room for a loaded machine): not
  // the minutes WinINet would wait.
  EXPECT_LT(took, 20000u);
  EXPECT_EQ(ReadFileBytes(D("stall.bin")), "old");
  reply = requester_.WaitReply(20000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.rfind("GOT ", 0), 0u) << reply->bytes;
  EXPECT_EQ(ReadFileBytes(D("after.bin")), Generated(3000));
}

// FtpGetFileA is one call: its progress is the growth of the file it writes.
TEST_F(RobustTransfer, FtpTransferStallsOnlyWhenItsFileStopsGrowing) {
  ASSERT_TRUE(PutRemote("grow.bin", Generated(7000000)));  // 7 s at 1 MB/s: longer than the limit
  ASSERT_TRUE(Send(Request(Source("grow.bin", Narrow(Env("VELMORA_FTP_SLOW_HOST"))), Dest("grow.bin"),
                           " ReplyOnFailure=1 StallSeconds=5")));
  auto reply = requester_.WaitReply(60000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.rfind("GOT ", 0), 0u) << reply->bytes;
  EXPECT_EQ(ReadFileBytes(D("grow.bin")).size(), 7000000u);

  ASSERT_TRUE(PutRemote("stall.bin", Generated(400000)));
  ASSERT_TRUE(WriteFileBytes(D("stall.bin"), "old"));
  const DWORD sent = GetTickCount();
  ASSERT_TRUE(Send(Request(Source("stall.bin", Narrow(Env("VELMORA_FTP_STALL_HOST"))), Dest("stall.bin"),
                           " ReplyOnFailure=1 StallSeconds=5")));
  ASSERT_TRUE(Send(Request(Source("stall.bin"), Dest("after.bin"))));
  reply = requester_.WaitReply(30000);
  ASSERT_TRUE(reply);
  EXPECT_LT(GetTickCount() - sent, 12000u);
  EXPECT_EQ(reply->Field("Reason"), "stalled: no data for 5 s") << reply->bytes;
  EXPECT_EQ(ReadFileBytes(D("stall.bin")), "old");
  reply = requester_.WaitReply(30000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.rfind("GOT ", 0), 0u) << reply->bytes;
  EXPECT_EQ(ReadFileBytes(D("after.bin")), Generated(400000));
}

TEST_F(RobustTransfer, RetriesOnlyTransientFailuresAndWaitWithoutHoldingTheQueue) {
  // 503 with Retry-After: 2, then the file; the request behind it is served meanwhile.
  const std::string flaky = Url("flaky/5000?fails=1&after=2&key=" + Key("a"));
  ASSERT_TRUE(Send(Http(flaky, Dest("flaky.bin"), " Retries=2")));
  ASSERT_TRUE(Send(Http(Url("gen/2000"), Dest("other.bin"))));
  auto reply = requester_.WaitReply(20000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Field("DestinationFileName"), Dest("other.bin"));
  EXPECT_TRUE(Logged("Retrying in 2 s - HTTP status 503 (attempt 1 of 3)"));
  reply = requester_.WaitReply(20000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.rfind("GOT ", 0), 0u) << reply->bytes;
  EXPECT_EQ(ReadFileBytes(D("flaky.bin")), Generated(5000));

  // Permanent: one attempt whatever Retries says.
  ASSERT_TRUE(Send(Http(Url("status/404"), Dest("missing.bin"), " Retries=3")));
  reply = requester_.WaitReply(20000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Field("Reason"), "HTTP status 404");
  EXPECT_EQ(CountLogged("Retrying in"), 1u);

  // Transient every time: the attempts run out and the reason says how many were made.
  const std::string busy = Url("flaky/10?fails=9&after=0&key=" + Key("b"));
  ASSERT_TRUE(Send(Http(busy, Dest("busy.bin"), " Retries=1")));
  reply = requester_.WaitReply(20000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Field("Reason"), "HTTP status 503 (after 2 attempts)");
  EXPECT_FALSE(FileExists(D("busy.bin")));
}

TEST_F(RobustTransfer, WrongChecksumKeepsTheOldFileOverHttpAndFtp) {
  ASSERT_TRUE(WriteFileBytes(PeerData(L"web") + L"\\abc.txt", "abc"));
  ASSERT_TRUE(PutRemote("abc.txt", "abc"));
  ASSERT_TRUE(WriteFileBytes(D("h.txt"), "old"));
  ASSERT_TRUE(WriteFileBytes(D("f.txt"), "old"));

  ASSERT_TRUE(Send(Http(Url("files/abc.txt"), Dest("h.txt"), std::string(" Sha256=") + kWrongSha)));
  auto reply = requester_.WaitReply(20000);
  ASSERT_TRUE(reply);
  EXPECT_NE(reply->Field("Reason").find("checksum"), std::string::npos) << reply->bytes;
  EXPECT_EQ(ReadFileBytes(D("h.txt")), "old");

  ASSERT_TRUE(Send(Request(Source("abc.txt"), Dest("f.txt"), std::string(" ReplyOnFailure=1 Sha256=") + kWrongSha)));
  reply = requester_.WaitReply(30000);
  ASSERT_TRUE(reply);
  EXPECT_NE(reply->Field("Reason").find("checksum"), std::string::npos) << reply->bytes;
  EXPECT_EQ(ReadFileBytes(D("f.txt")), "old");
  EXPECT_EQ(Leftovers({L"h.txt", L"f.txt"}), std::vector<std::wstring>());

  // The right digest (in capitals too) lets both through.
  std::string upper = kAbcSha;
  for (auto& c : upper) c = static_cast<char>(toupper(c));
  ASSERT_TRUE(Send(Http(Url("files/abc.txt?2"), Dest("h.txt"), " Sha256=" + upper)));
  reply = requester_.WaitReply(20000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.rfind("GOT ", 0), 0u) << reply->bytes;
  EXPECT_EQ(ReadFileBytes(D("h.txt")), "abc");
  ASSERT_TRUE(Send(Request(Source("abc.txt"), Dest("f.txt"), std::string(" Sha256=") + kAbcSha)));
  reply = requester_.WaitReply(30000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.rfind("GOT ", 0), 0u) << reply->bytes;
  EXPECT_EQ(ReadFileBytes(D("f.txt")), "abc");
}

}  // namespace
}  // namespace ftp_e2e

namespace ftp_e2e {
namespace {

// The file is in place before its linked file stalls: the request succeeded, and only the
// linked fields are missing from its GOT (a retry would fetch the file again for nothing).
TEST_F(RobustTransfer, ALinkedFileThatStallsLeavesOnlyItsFieldsOut) {
  ASSERT_TRUE(PutRemote("main.txt", "the main file"));
  ASSERT_TRUE(PutRemote("linked.bin", Generated(400000)));
  ASSERT_TRUE(Send(Request(Source("main.txt"), Dest("main.txt"),
                           " LinkedSourceFileName=" + Source("linked.bin", Narrow(Env("VELMORA_FTP_STALL_HOST"))) +
                               " LinkedDestinationFileName=" + Dest("linked.bin") +
                               " ReplyOnFailure=1 Retries=1 StallSeconds=5")));
  auto reply = requester_.WaitReply(60000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.rfind("GOT ", 0), 0u) << reply->bytes;
  EXPECT_EQ(reply->Field("SourceFileSize"), "13");
  EXPECT_EQ(reply->bytes.find("LinkedSourceFileSize="), std::string::npos) << reply->bytes;
  EXPECT_EQ(ReadFileBytes(D("main.txt")), "the main file");
  EXPECT_EQ(CountLogged("Started DownloadFTPFile " + Source("main.txt")), 1u);
}

// A cap holds the transfer to it; waiting for the cap is never a stall, even a wait longer
// than the limit (HTTP: one 8 KB chunk at 1 KB/s). The cap in force is the lowest of the
// request's and the machine's, whose work hours replace its all-hours cap while they last.
TEST_F(RobustTransfer, TheLowestCapHoldsTheTransferAndWaitingForItIsNoStall) {
  for (const bool ftp : {false, true}) {
    ASSERT_TRUE(PutRemote("slow.bin", Generated(8000)));
    const std::string dest = Dest(ftp ? "ftp.bin" : "http.bin");
    const std::string extra = " ReplyOnFailure=1 StallSeconds=5 MaxBytesPerSecond=1024";
    const DWORD sent = GetTickCount();
    ASSERT_TRUE(Send(ftp ? Request(Source("slow.bin"), dest, extra) : Http(Url("gen/8000"), dest, extra)));
    auto reply = requester_.WaitReply(40000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes.rfind("GOT ", 0), 0u) << reply->bytes;
    EXPECT_GE(GetTickCount() - sent, 6500u) << (ftp ? "FTP" : "HTTP") << " was not held to the cap";
    EXPECT_TRUE(ReadFileBytes(std::wstring(dest.begin(), dest.end())) == Generated(8000));
  }
  EXPECT_EQ(CountLogged("Transfer limited to 1 KB/s"), 2u);
  EXPECT_FALSE(Logged("Transfer stalled - no data for 5 s"));

  const std::wstring key = L"SOFTWARE\\Velmora\\Utils\\Skytrove4";
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const int hour = now.wHour;
  SetMachineNumber(key, L"MaxBytesPerSecond", 524288);
  SetMachineNumber(key, L"WorkHoursMaxBytesPerSecond", 262144);
  struct Case {
    int start, end;
    const char* requested;
    const char* said;
  } cases[] = {
      {(hour + 1) % 24, (hour + 2) % 24, "1048576", "Transfer limited to 512 KB/s"},  // the machine's is lower
      {(hour + 1) % 24, (hour + 2) % 24, "131072", "Transfer limited to 128 KB/s"},   // the request's is lower
      {hour, (hour + 1) % 24, "1048576", "Transfer limited to 256 KB/s"},             // work hours now
  };
  size_t n = 0;
  for (const Case& c : cases) {
    SetMachineNumber(key, L"WorkHoursStart", c.start);
    SetMachineNumber(key, L"WorkHoursEnd", c.end);
    ASSERT_TRUE(Send(Http(Url("gen/3000"), Dest("c" + std::to_string(++n) + ".bin"),
                          std::string(" MaxBytesPerSecond=") + c.requested)));
    auto reply = requester_.WaitReply(20000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes.rfind("GOT ", 0), 0u) << reply->bytes;
    EXPECT_EQ(CountLogged(c.said), 1u) << c.said;
  }
  for (const wchar_t* name : {L"MaxBytesPerSecond", L"WorkHoursMaxBytesPerSecond", L"WorkHoursStart", L"WorkHoursEnd"})
    DeleteMachineValue(key, name);
}

// Held to its cap as the server sees it, HTTP and FTP: after the first second (the sockets'
// buffers take their fill at once) the mean is within 10 % of the cap and every 5 s window
// within 20 %. The cap is a sixth of what the usual pace moves, so a busy machine still
// reaches it.
TEST_F(RobustTransfer, ACapHoldsAsTheServerSeesIt) {
  constexpr double kCap = 1048576;
  constexpr size_t kSize = 8388608;
  const std::string key = Key("timed");
  ASSERT_TRUE(PutRemote("big.timed", Generated(kSize)));
  for (const bool ftp : {false, true}) {
    const std::string extra = " ReplyOnFailure=1 MaxBytesPerSecond=1048576";
    ASSERT_TRUE(Send(ftp ? Request(Source("big.timed"), Dest("ftp.bin"), extra)
                         : Http(Url("timed/" + std::to_string(kSize) + "?key=" + key), Dest("http.bin"), extra)));
    auto reply = requester_.WaitReply(60000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes.rfind("GOT ", 0), 0u) << reply->bytes;
    // The server's last line for it: seconds, bytes taken by then.
    const std::string name = ftp ? std::string("big.timed") : key;
    std::vector<std::pair<double, double>> marks;
    ASSERT_TRUE(WaitUntil(
        [&] {
          marks.clear();
          std::istringstream log(ReadFileBytes(PeerData(ftp ? L"ftp" : L"web") + L"\\timed.log"));
          for (std::string line; std::getline(log, line);) {
            if (line.compare(0, name.size() + 1, name + " ") != 0) continue;
            marks.clear();
            std::istringstream items(line.substr(name.size() + 1));
            for (std::string item; items >> item;)
              marks.emplace_back(std::stod(item.substr(0, item.find(':'))), std::stod(item.substr(item.find(':') + 1)));
          }
          return !marks.empty() && marks.back().second >= kSize;
        },
        10000, 50))
        << (ftp ? "FTP" : "HTTP");
    auto sentBy = [&](double t) {
      double bytes = 0;
      for (const auto& m : marks)
        if (m.first <= t) bytes = m.second;
      return bytes;
    };
    const double end = marks.back().first;
    ASSERT_GT(end, 4.0) << (ftp ? "FTP" : "HTTP") << ": the server sent 8 MB in " << end << " s: no cap";
    EXPECT_NEAR((marks.back().second - sentBy(1.0)) / (end - 1.0), kCap, kCap * 0.10) << (ftp ? "FTP" : "HTTP");
    for (double from = 1.0; from + 5.0 <= end; from += 0.5)
      EXPECT_NEAR((sentBy(from + 5.0) - sentBy(from)) / 5.0, kCap, kCap * 0.20)
          << (ftp ? "FTP" : "HTTP") << ": the 5 s from " << from << " s";
  }
}

}  // namespace
}  // namespace ftp_e2e
