// IfChanged=1 and KeepServerTime=1 as a requesting program meets them: a file the server
// still has is left exactly as it is (same bytes, same file, same time) and the GOT says
// "Unchanged=1"; a changed file, or one edited here, is fetched whole; a 304 that proves
// nothing never keeps a file; the records outlive a kill, and damage costs only a download.
// Against nginx and vsftpd (real ETags, dates and MDTM) and the Python peers.
#include <sstream>

#include "ftp_e2e_support.h"
#include "support/handles.h"

namespace ftp_e2e {
namespace {

// What a person or a program could notice of a file: its bytes, which file it is, its time.
struct FileState {
  std::string bytes;
  uint64_t id = 0;
  uint64_t written = 0;
  bool operator==(const FileState& o) const { return bytes == o.bytes && id == o.id && written == o.written; }
};

FileState StateOf(const std::wstring& path) {
  FileState state;
  state.bytes = ReadFileBytes(path);
  velmora::UniqueFile file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (file && GetFileInformationByHandle(file.get(), &info)) {
    state.id = (static_cast<uint64_t>(info.dwVolumeSerialNumber) << 48) ^
               ((static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
    state.written = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
  }
  return state;
}

uint64_t Ticks(const FILETIME& ft) { return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }
FILETIME HoursLater(const FILETIME& ft, int hours) {
  const uint64_t t = Ticks(ft) + static_cast<uint64_t>(hours) * 3600 * 10000000ull;
  return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The last line of a server's log that holds `what`.
std::string LastLine(const std::string& envLog, const std::string& what) {
  std::istringstream log(ReadFileBytes(WinPath(Narrow(Env(envLog.c_str())))));
  std::string last;
  for (std::string line; std::getline(log, line);)
    if (line.find(what) != std::string::npos) last = line;
  return last;
}
size_t LinesWith(const std::string& envLog, const std::string& what) {
  std::istringstream log(ReadFileBytes(WinPath(Narrow(Env(envLog.c_str())))));
  size_t n = 0;
  for (std::string line; std::getline(log, line);) n += line.find(what) != std::string::npos ? 1 : 0;
  return n;
}

class IfChanged : public FtpAgent {
 protected:
  // One request and its reply ("" when none came).
  std::string Ask(const std::string& request) {
    if (!Send(request)) return std::string();
    auto reply = requester_.WaitReply(30000);
    return reply ? reply->bytes : std::string();
  }
  std::string Http(const std::string& url, const std::string& dest, const std::string& extra = " IfChanged=1") {
    return "GET Type=HTTP Reference=C1 SourceFileName=" + url + " DestinationFileName=" + dest + " ReplyOnFailure=1" +
           extra;
  }
  std::string Nginx(const std::string& path) { return "http://" + Narrow(Env("VELMORA_NGINX_HOST")) + path; }
};

// Strong ETag (If-None-Match) and date only (If-Modified-Since, where nginx sends no
// ETag): the second request keeps the file and nginx sends no body; a change on the
// server, or an edit of the destination, brings the whole file back with the server's time.
TEST_F(IfChanged, NginxKeepsWhatItStillHasAndAChangeOrALocalEditFetchesItWhole) {
  const std::wstring served = PeerData(L"nginx\\files") + L"\\" + name_ + L".bin";
  const std::string name = Narrow(name_) + ".bin";
  const FILETIME first = KnownRemoteTime();
  for (const std::string folder : {"/files/", "/dated/"}) {
    const std::string condition = folder == "/files/" ? "If-None-Match: \"" : "If-Modified-Since: ";
    const std::string dest = Dest(folder.substr(1, 5) + ".bin");
    const std::wstring wdest = D(folder.substr(1, 5) + ".bin");
    const std::string request = Http(Nginx(folder + name), dest, " IfChanged=1 KeepServerTime=1");
    ASSERT_TRUE(WriteFileBytes(served, Generated(100000, 1)));
    ASSERT_TRUE(SetWriteTime(served, first));
    const std::string fetched = Ask(request);
    ASSERT_EQ(fetched.rfind("GOT ", 0), 0u) << fetched;
    EXPECT_EQ(fetched.find("Unchanged"), std::string::npos) << fetched;
    const FileState placed = StateOf(wdest);
    EXPECT_TRUE(placed.bytes == Generated(100000, 1));
    EXPECT_EQ(placed.written, Ticks(first)) << "the server's time is on the file";

    const size_t asked = CountLogged("Asking only if changed - ");
    EXPECT_EQ(Ask(request), fetched + " Unchanged=1");
    EXPECT_TRUE(StateOf(wdest) == placed) << folder << ": the file was touched";
    EXPECT_TRUE(WaitCount("Asking only if changed - " + condition, 1));
    EXPECT_TRUE(Logged("Unchanged - " + dest + " kept"));
    EXPECT_NE(LastLine("VELMORA_NGINX_LOG", folder + name).find("\" 304 0 "), std::string::npos)
        << LastLine("VELMORA_NGINX_LOG", folder + name);

    // Changed on the server: fetched whole, with its new time.
    const FILETIME later = HoursLater(first, 1);
    ASSERT_TRUE(WriteFileBytes(served, Generated(100000, 2)));
    ASSERT_TRUE(SetWriteTime(served, later));
    EXPECT_EQ(Ask(request), fetched);
    EXPECT_TRUE(ReadFileBytes(wdest) == Generated(100000, 2));
    EXPECT_EQ(StateOf(wdest).written, Ticks(later));

    // Edited here: no condition is sent, the server's file replaces the edit.
    ASSERT_TRUE(WriteFileBytes(wdest, "edited"));
    const size_t before = CountLogged("Asking only if changed - ");
    EXPECT_EQ(Ask(request), fetched);
    EXPECT_TRUE(ReadFileBytes(wdest) == Generated(100000, 2));
    EXPECT_EQ(CountLogged("Asking only if changed - "), before) << "a condition was sent for an edited file";
    EXPECT_EQ(CountLogged("Asking only if changed - "), asked + 2);
    EXPECT_NE(LastLine("VELMORA_NGINX_LOG", folder + name).find("\" 200 100000 "), std::string::npos);
  }
  DeleteFileW(served.c_str());
}

// A weak ETag is asked by and kept; a 304 naming another ETag proves nothing and is asked
// again without a condition; a 304 to a request without one fails and keeps the old file,
// with or without IfChanged.
TEST_F(IfChanged, A304KeepsOnlyAFileItProves) {
  const std::string weak = Key("weak");
  const std::string weakUrl = Url("ranged/5000?key=" + weak + "&weak=1");
  const std::string fetched = Ask(Http(weakUrl, Dest("weak.bin")));
  ASSERT_EQ(fetched.rfind("GOT ", 0), 0u) << fetched;
  const FileState placed = StateOf(D("weak.bin"));
  EXPECT_EQ(Ask(Http(weakUrl, Dest("weak.bin"))), fetched + " Unchanged=1");
  EXPECT_TRUE(StateOf(D("weak.bin")) == placed);
  EXPECT_EQ(Served(weak, 2).at(1), "range=- if-range=- status=304 sent=0 condition=If-None-Match:W/\"" + weak + "-1\"");

  // Every answer from the second on is a 304, for a new version each time.
  const std::string lying = Key("lying");
  const std::string lyingUrl = Url("ranged/5000?key=" + lying + "&change=1&notmodified=2");
  ASSERT_EQ(Ask(Http(lyingUrl, Dest("lying.bin"))).rfind("GOT ", 0), 0u);
  const FileState kept = StateOf(D("lying.bin"));
  const std::string failed = Ask(Http(lyingUrl, Dest("lying.bin")));
  EXPECT_EQ(failed.rfind("FAILED ", 0), 0u) << failed;
  EXPECT_TRUE(EndsWith(failed, " Reason=\"HTTP status 304 without a condition\"")) << failed;
  EXPECT_TRUE(StateOf(D("lying.bin")) == kept);
  const auto lines = Served(lying, 3);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "range=- if-range=- status=304 sent=0 condition=If-None-Match:\"" + lying + "-1\"");
  EXPECT_EQ(lines[2], "range=- if-range=- status=304 sent=0 condition=-");
  EXPECT_TRUE(Logged("HTTP status 304 does not prove " + Dest("lying.bin") + " - asking for the whole file"));

  // A plain GET: the same failure, no file left empty.
  ASSERT_TRUE(WriteFileBytes(D("plain.bin"), "old"));
  const std::string plain = Ask(Http(Url("ranged/5000?key=" + Key("plain") + "&notmodified=1"), Dest("plain.bin"), ""));
  EXPECT_TRUE(EndsWith(plain, " Reason=\"HTTP status 304 without a condition\"")) << plain;
  EXPECT_EQ(ReadFileBytes(D("plain.bin")), "old");
  EXPECT_EQ(Leftovers({L"weak.bin", L"lying.bin", L"plain.bin"}), std::vector<std::wstring>());
}

// Written through before the GOT: a kill right after it loses nothing. A damaged record
// file costs one whole download, never a wrong file; no password or token is in it; the
// uninstall's switch removes it.
TEST_F(IfChanged, RecordsOutliveAKillHoldNoSecretAndDamageCostsOnlyADownload) {
  const std::string key = Key("kept");
  const std::string host = Narrow(Env("VELMORA_WEB"));
  const std::string url = "http://reader:pw5ecret@" + host + "/ranged/3000?key=" + key + "&access_token=tok5ecret";
  const std::string request = Http(url, Dest("kept.bin"));
  ASSERT_EQ(Ask(request).rfind("GOT ", 0), 0u);
  ASSERT_TRUE(TerminateProcess(agent_.Process(), 1));
  ASSERT_TRUE(agent_.WaitExit(10000));
  const std::wstring records = JournalFolder() + L"\\changes.records";
  const std::string stored = ReadFileBytes(records);
  for (const std::string secret : {"pw5ecret", "tok5ecret"}) {
    std::string wide;
    for (char c : secret) wide += std::string{c, '\0'};
    EXPECT_EQ(stored.find(secret), std::string::npos);
    EXPECT_EQ(stored.find(wide), std::string::npos) << secret;
  }
  ASSERT_TRUE(StartAgent());
  EXPECT_TRUE(EndsWith(Ask(request), " Unchanged=1"));
  ASSERT_TRUE(agent_.Stop());

  // The first record's checksum no longer fits: nothing after it can be trusted (a later
  // record of the same file, as the second request wrote, would be as good as the first).
  std::string damaged = ReadFileBytes(records);
  ASSERT_GT(damaged.size(), 16u);
  damaged[12] ^= 0x55;
  ASSERT_TRUE(WriteFileBytes(records, damaged));
  ASSERT_TRUE(StartAgent());
  const std::string again = Ask(request);
  EXPECT_EQ(again.rfind("GOT ", 0), 0u) << again;
  EXPECT_EQ(again.find("Unchanged"), std::string::npos);
  EXPECT_EQ(Served(key, 3).at(2), "range=- if-range=- status=200 sent=3000");
  EXPECT_TRUE(WaitCount("Change records damaged at byte ", 1));
  ASSERT_TRUE(agent_.Stop());

  Agent uninstall;
  ASSERT_TRUE(uninstall.Start(L"/RemoveUserSettings", 0));
  EXPECT_TRUE(uninstall.WaitExit(30000));
  EXPECT_FALSE(FileExists(records));
}

// SIZE and MDTM against vsftpd, each file judged on its own; KeepServerTime puts the
// MDTM time on both; vsftpd's own log shows no transfer for a file kept.
TEST_F(IfChanged, FtpKeepsEachFileTheServerStillHas) {
  const std::string host = Narrow(Env("VELMORA_VSFTPD_HOST"));
  const std::wstring root = PeerData(L"vsftpd");
  const std::string stem = Narrow(name_);
  const FILETIME first = KnownRemoteTime();
  for (const std::string file : {"-main.bin", "-link.bin"}) {
    ASSERT_TRUE(WriteFileBytes(root + L"\\" + name_ + Wide(file), Generated(20000, file.size() + 1)));
    ASSERT_TRUE(SetWriteTime(root + L"\\" + name_ + Wide(file), first));
  }
  const std::string request = "GET Type=FTP Reference=C2 SourceFileName=ftp://" + host + "/" + stem + "-main.bin" +
                              " DestinationFileName=" + Dest("main.bin") + " LinkedSourceFileName=ftp://" + host + "/" +
                              stem + "-link.bin LinkedDestinationFileName=" + Dest("link.bin") +
                              " PassiveMode=1 IfChanged=1 KeepServerTime=1";
  const std::string fetched = Ask(request);
  ASSERT_NE(fetched.find(" LinkedSourceFileSize=20000"), std::string::npos) << fetched;
  EXPECT_EQ(fetched.find("Unchanged"), std::string::npos);
  EXPECT_EQ(StateOf(D("main.bin")).written, Ticks(first));
  EXPECT_EQ(StateOf(D("link.bin")).written, Ticks(first));
  const FileState main = StateOf(D("main.bin"));
  const FileState link = StateOf(D("link.bin"));
  const size_t transfers = LinesWith("VELMORA_VSFTPD_LOG", "/" + stem + "-");

  EXPECT_EQ(Ask(request), fetched + " Unchanged=1 LinkedUnchanged=1");
  EXPECT_TRUE(StateOf(D("main.bin")) == main);
  EXPECT_TRUE(StateOf(D("link.bin")) == link);
  EXPECT_EQ(LinesWith("VELMORA_VSFTPD_LOG", "/" + stem + "-"), transfers) << "a file the agent kept was sent";

  // Only the linked file changed: it alone is fetched.
  ASSERT_TRUE(WriteFileBytes(root + L"\\" + name_ + L"-link.bin", Generated(20000, 9)));
  ASSERT_TRUE(SetWriteTime(root + L"\\" + name_ + L"-link.bin", HoursLater(first, 1)));
  const std::string third = Ask(request);
  EXPECT_TRUE(EndsWith(third, " Unchanged=1")) << third;
  EXPECT_TRUE(StateOf(D("main.bin")) == main);
  EXPECT_TRUE(ReadFileBytes(D("link.bin")) == Generated(20000, 9));
  EXPECT_EQ(StateOf(D("link.bin")).written, Ticks(HoursLater(first, 1)));
  EXPECT_EQ(LinesWith("VELMORA_VSFTPD_LOG", "/" + stem + "-"), transfers + 1);
}

// A server that refuses MDTM never has a file unchanged: fetched whole each time, with the
// listing's time (the one the reply gives) on it.
TEST_F(IfChanged, FtpServerWithoutMdtmIsAlwaysFetched) {
  ASSERT_TRUE(PutRemote("plain.nomdtm", Generated(30000, 4)));
  const std::string request = Request(Source("plain.nomdtm"), Dest("plain.bin"), " IfChanged=1 KeepServerTime=1");
  const std::string fetched = Ask(request);
  ASSERT_EQ(fetched.rfind("GOT ", 0), 0u) << fetched;
  EXPECT_NE(fetched.find(" SourceFileLastWriteTime=" + TimeText(KnownRemoteTime())), std::string::npos) << fetched;
  EXPECT_EQ(StateOf(D("plain.bin")).written, Ticks(KnownRemoteTime()));
  EXPECT_EQ(Ask(request), fetched);
  EXPECT_EQ(CountLogged("Unchanged - "), 0u);
  EXPECT_EQ(CountLogged("Finished DownloadFTPFile"), 2u);
}

}  // namespace
}  // namespace ftp_e2e
