// UploadFile against the real FTP server (pyftpdlib) of the ftp_upload fixture. The
// server's folder is also visible to this process, so every result is checked on disk.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "inet/cwininet.h"
#include "support/components.h"
#include "support/handles.h"
#include "win_test_support.h"

namespace velmora {
namespace {

using namespace testing_support;

std::wstring Host() { return Env("VELMORA_FTP_UPLOAD_HOST"); }

// A fresh folder on the server: its name relative to the login folder, and its path here.
struct RemoteFolder {
  std::wstring name;
  std::wstring local;
};
RemoteFolder FreshRemote(const std::wstring& name) {
  const std::wstring root = PeerData(L"ftp-upload");
  const std::wstring local = root + L"\\" + name;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((local + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((local + L"\\" + fd.cFileName).c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  CreateDirectoryW(local.c_str(), nullptr);
  return {name, local};
}

std::vector<std::wstring> Listing(const std::wstring& folder) { return FolderNames(folder); }

std::wstring LocalFile(const std::wstring& name, const std::string& bytes) {
  const std::wstring path = FreshFolder(L"inet-upload") + L"\\" + name;
  EXPECT_TRUE(WriteFileBytes(path, bytes));
  return path;
}

struct Recorder {
  std::vector<int16_t> events;
  int cancelAt = -1;  // event number (0-based) in which to cancel
  std::function<void(int16_t)> during;
  void Attach(cWinINET& inet) {
    inet.UploadProgress = [this](int16_t progress, bool& cancel) {
      if (during) during(progress);
      if (static_cast<int>(events.size()) == cancelAt) cancel = true;
      events.push_back(progress);
    };
  }
};

TEST(UploadFile, DirectUploadReportsProgressAfterEveryChunk) {
  const RemoteFolder remote = FreshRemote(L"direct");
  const std::string data = Generated(5000);
  cWinINET inet;
  Recorder rec;
  rec.Attach(inet);
  EXPECT_EQ(inet.UploadFile(LocalFile(L"a.bin", data), Host() + L"/direct/a.bin", L"velmora", L"secret"),
            kUploadSuccessful);
  EXPECT_TRUE(ReadFileBytes(remote.local + L"\\a.bin") == data);
  EXPECT_EQ(rec.events, (std::vector<int16_t>{41, 82, 100}));
}

TEST(UploadFile, ExactlyOneChunkRaisesOneEventOfHundred) {
  const RemoteFolder remote = FreshRemote(L"one");
  cWinINET inet;
  Recorder rec;
  rec.Attach(inet);
  EXPECT_EQ(inet.UploadFile(LocalFile(L"b.bin", Generated(2048)), Host() + L"/one/b.bin", L"velmora", L"secret"),
            kUploadSuccessful);
  EXPECT_EQ(rec.events, std::vector<int16_t>{100});
  EXPECT_EQ(ReadFileBytes(remote.local + L"\\b.bin").size(), 2048u);
}

TEST(UploadFile, WithoutListenerAndInActiveModeRunsToTheEnd) {
  const RemoteFolder remote = FreshRemote(L"active");
  const std::string data = Generated(100000, 7);
  cWinINET inet;
  EXPECT_EQ(inet.UploadFile(LocalFile(L"c.bin", data), Host() + L"/active/c.bin", L"velmora", L"secret", nullptr,
                            nullptr, false, false),
            kUploadSuccessful);
  EXPECT_TRUE(ReadFileBytes(remote.local + L"\\c.bin") == data);
}

TEST(UploadFile, TemporaryNameWithoutDestinationLeavesOnlyTheFile) {
  const RemoteFolder remote = FreshRemote(L"tempnew");
  // An ".old" file of someone else's must not be deleted by the dance.
  ASSERT_TRUE(WriteFileBytes(remote.local + L"\\d.txt.old", "not ours"));
  const std::string data = Generated(7000);
  cWinINET inet;
  Recorder rec;
  std::vector<std::wstring> seenDuring;
  rec.during = [&](int16_t) {
    if (seenDuring.empty()) seenDuring = Listing(remote.local);
  };
  rec.Attach(inet);
  EXPECT_EQ(inet.UploadFile(LocalFile(L"d.txt", data), Host() + L"/tempnew/d.txt", L"velmora", L"secret", nullptr,
                            nullptr, true),
            kUploadSuccessful);
  EXPECT_TRUE(ReadFileBytes(remote.local + L"\\d.txt") == data);
  EXPECT_EQ(ReadFileBytes(remote.local + L"\\d.txt.old"), "not ours");
  EXPECT_EQ(Listing(remote.local).size(), 2u);
  // Meanwhile the upload went under a name of its own with the destination's extension,
  // in the destination's folder.
  ASSERT_EQ(seenDuring.size(), 2u);
  bool temporarySeen = false;
  for (const auto& n : seenDuring)
    if (n != L"d.txt.old") temporarySeen = n.size() > 4 && n.substr(n.size() - 4) == L".txt" && n != L"d.txt";
  EXPECT_TRUE(temporarySeen);
}

TEST(UploadFile, TemporaryNameReplacesAnExistingDestinationOnlyAtTheEnd) {
  const RemoteFolder remote = FreshRemote(L"tempold");
  ASSERT_TRUE(WriteFileBytes(remote.local + L"\\e.bin", "old content"));
  // Someone else's file under the first backup name the call would pick.
  ASSERT_TRUE(WriteFileBytes(remote.local + L"\\e.bin.old", "not ours"));
  const std::string data = Generated(6000, 3);
  cWinINET inet;
  Recorder rec;
  std::vector<std::string> destinationDuring;
  rec.during = [&](int16_t) { destinationDuring.push_back(ReadFileBytes(remote.local + L"\\e.bin")); };
  rec.Attach(inet);
  EXPECT_EQ(inet.UploadFile(LocalFile(L"e.bin", data), Host() + L"/tempold/e.bin", L"velmora", L"secret", nullptr,
                            nullptr, true),
            kUploadSuccessful);
  EXPECT_TRUE(ReadFileBytes(remote.local + L"\\e.bin") == data);
  EXPECT_EQ(ReadFileBytes(remote.local + L"\\e.bin.old"), "not ours");
  EXPECT_EQ(Listing(remote.local).size(), 2u);
  EXPECT_EQ(destinationDuring, std::vector<std::string>(3, "old content"));
}

TEST(UploadFile, UploadThatVanishesBeforeItsRenameLeavesTheDestination) {
  const RemoteFolder remote = FreshRemote(L"renameback");
  ASSERT_TRUE(WriteFileBytes(remote.local + L"\\f.bin", "old content"));
  cWinINET inet;
  Recorder rec;
  // The uploaded copy vanishes on the server before it can be renamed.
  rec.during = [&](int16_t progress) {
    if (progress != 100) return;
    for (const auto& n : Listing(remote.local))
      if (n != L"f.bin") DeleteFileW((remote.local + L"\\" + n).c_str());
  };
  rec.Attach(inet);
  EXPECT_EQ(inet.UploadFile(LocalFile(L"f.bin", Generated(3000)), Host() + L"/renameback/f.bin", L"velmora",
                            L"secret", nullptr, nullptr, true),
            kUnableToWriteDestination);
  EXPECT_EQ(ReadFileBytes(remote.local + L"\\f.bin"), "old content");
  EXPECT_EQ(Listing(remote.local), std::vector<std::wstring>{L"f.bin"});
}

// A folder under the destination's name is refused before anything is written, also on
// the caller's connection, which stays in its folder.
TEST(UploadFile, FolderAsTheDestinationIsLeftAsItWas) {
  const RemoteFolder remote = FreshRemote(L"folderdest");
  CreateDirectoryW((remote.local + L"\\g.bin").c_str(), nullptr);
  ASSERT_TRUE(WriteFileBytes(remote.local + L"\\g.bin\\inside.txt", "kept"));
  const std::wstring source = LocalFile(L"g.bin", Generated(2500));
  cWinINET inet;
  EXPECT_EQ(inet.UploadFile(source, Host() + L"/folderdest/g.bin", L"velmora", L"secret", nullptr, nullptr, true),
            kUnableToWriteDestination);
  UniqueInternet session(InternetOpenW(L"inet test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  UniqueInternet connection(InternetConnectW(session.get(), Host().c_str(), 21, L"velmora", L"secret",
                                             INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0));
  ASSERT_TRUE(connection);
  ASSERT_TRUE(FtpSetCurrentDirectoryW(connection.get(), L"folderdest"));
  EXPECT_EQ(inet.UploadFile(source, L"g.bin", L"", L"", session.get(), connection.get(), true),
            kUnableToWriteDestination);
  wchar_t current[MAX_PATH] = {};
  DWORD length = MAX_PATH;
  EXPECT_TRUE(FtpGetCurrentDirectoryW(connection.get(), current, &length));
  EXPECT_EQ(std::wstring(current), L"/folderdest");
  EXPECT_EQ(Listing(remote.local), std::vector<std::wstring>{L"g.bin"});
  EXPECT_EQ(ReadFileBytes(remote.local + L"\\g.bin\\inside.txt"), "kept");
}

TEST(UploadFile, CancelInTheLastEventDeletesTheUpload) {
  struct Case {
    bool temporary;
    const wchar_t* folder;
  };
  for (const Case c : {Case{false, L"cancel"}, Case{true, L"canceltemp"}}) {
    const RemoteFolder remote = FreshRemote(c.folder);
    if (c.temporary) {
      ASSERT_TRUE(WriteFileBytes(remote.local + L"\\h.bin", "old content"));
    }
    cWinINET inet;
    Recorder rec;
    rec.cancelAt = 2;  // 5000 bytes: events 41, 82, 100
    rec.Attach(inet);
    EXPECT_EQ(inet.UploadFile(LocalFile(L"h.bin", Generated(5000)), Host() + L"/" + c.folder + L"/h.bin",
                              L"velmora", L"secret", nullptr, nullptr, c.temporary),
              kUserCancelled);
    EXPECT_EQ(rec.events.size(), 3u);
    if (c.temporary) {
      EXPECT_EQ(Listing(remote.local), std::vector<std::wstring>{L"h.bin"});
      EXPECT_EQ(ReadFileBytes(remote.local + L"\\h.bin"), "old content");
    } else {
      EXPECT_TRUE(Listing(remote.local).empty());
    }
  }
}

TEST(UploadFile, AThrowingListenerStillGetsItsUploadCleanedAway) {
  const RemoteFolder remote = FreshRemote(L"throwing");
  cWinINET inet;
  inet.UploadProgress = [](int16_t, bool&) { throw std::runtime_error("listener failed"); };
  EXPECT_THROW(inet.UploadFile(LocalFile(L"i.bin", Generated(5000)), Host() + L"/throwing/i.bin", L"velmora",
                               L"secret", nullptr, nullptr, true),
               std::runtime_error);
  EXPECT_TRUE(Listing(remote.local).empty());
}

TEST(UploadFile, SourceThatCannotBeReadLeavesTheRemoteDestinationUntouched) {
  const RemoteFolder remote = FreshRemote(L"badsource");
  ASSERT_TRUE(WriteFileBytes(remote.local + L"\\j.bin", "old content"));
  const std::wstring empty = LocalFile(L"empty.bin", "");
  const std::wstring locked = FreshFolder(L"inet-upload-locked") + L"\\locked.bin";
  ASSERT_TRUE(WriteFileBytes(locked, "data"));
  UniqueFile lock(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(lock);
  for (const std::wstring& source : {empty, std::wstring(L"Z:\\no\\such\\file.bin"), locked}) {
    for (bool temporary : {false, true}) {
      cWinINET inet;
      EXPECT_EQ(inet.UploadFile(source, Host() + L"/badsource/j.bin", L"velmora", L"secret", nullptr, nullptr,
                                temporary),
                kUnableToReadSource);
      EXPECT_EQ(ReadFileBytes(remote.local + L"\\j.bin"), "old content");
      EXPECT_EQ(Listing(remote.local).size(), 1u);
    }
  }
}

TEST(UploadFile, SourceThatShrinksWhileSendingIsAFailedRead) {
  const RemoteFolder remote = FreshRemote(L"shrink");
  ASSERT_TRUE(WriteFileBytes(remote.local + L"\\k.bin", "old content"));
  const std::wstring source = LocalFile(L"k.bin", Generated(10000));
  cWinINET inet;
  Recorder rec;
  rec.during = [&](int16_t) {
    UniqueFile f(CreateFileW(source.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER at{};
    at.QuadPart = 4096;
    SetFilePointerEx(f.get(), at, nullptr, FILE_BEGIN);
    SetEndOfFile(f.get());
  };
  rec.Attach(inet);
  EXPECT_EQ(inet.UploadFile(source, Host() + L"/shrink/k.bin", L"velmora", L"secret", nullptr, nullptr, true),
            kUnableToReadSource);
  EXPECT_EQ(Listing(remote.local), std::vector<std::wstring>{L"k.bin"});
  EXPECT_EQ(ReadFileBytes(remote.local + L"\\k.bin"), "old content");
}

TEST(UploadFile, ServersThatRefuseAndDestinationsWithoutAFile) {
  const RemoteFolder remote = FreshRemote(L"refused");
  const std::wstring source = LocalFile(L"l.bin", Generated(100));
  cWinINET inet;
  EXPECT_EQ(inet.UploadFile(source, Host() + L"/refused/l.bin", L"velmora", L"wrong"), kUnableToConnect);
  EXPECT_NE(inet.GetLastInternetResponse().find(L"530"), std::wstring::npos) << inet.GetLastInternetResponse();
  // Nothing listens on port 21 there.
  EXPECT_EQ(inet.UploadFile(source, L"127.0.0.99/refused/l.bin", L"velmora", L"secret"), kUnableToConnect);
  EXPECT_EQ(inet.UploadFile(source, Host(), L"velmora", L"secret"), kUnableToWriteDestination);
  EXPECT_EQ(inet.UploadFile(source, Host() + L"/", L"velmora", L"secret", nullptr, nullptr, true),
            kUnableToWriteDestination);
  // A folder that does not exist on the server.
  EXPECT_EQ(inet.UploadFile(source, Host() + L"/no-such-folder/l.bin", L"velmora", L"secret"),
            kUnableToWriteDestination);
  EXPECT_TRUE(Listing(remote.local).empty());
  EXPECT_EQ(GetFileAttributesW((PeerData(L"ftp-upload") + L"\\no-such-folder").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(UploadFile, HandlesOfTheCallerAreUsedAndStayOpen) {
  const RemoteFolder remote = FreshRemote(L"handles");
  const std::string data = Generated(3000, 11);
  const std::wstring source = LocalFile(L"m.bin", data);
  UniqueInternet session(InternetOpenW(L"inet test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  ASSERT_TRUE(session);
  UniqueInternet connection(InternetConnectW(session.get(), Host().c_str(), 21, L"velmora", L"secret",
                                             INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0));
  ASSERT_TRUE(connection);
  ASSERT_TRUE(FtpSetCurrentDirectoryW(connection.get(), L"handles"));
  cWinINET inet;
  // On the caller's connection the Destination is the path alone, here relative to the
  // folder the caller moved to; the temporary copy lands there too.
  EXPECT_EQ(inet.UploadFile(source, L"m.bin", L"", L"", session.get(), connection.get(), true), kUploadSuccessful);
  EXPECT_TRUE(ReadFileBytes(remote.local + L"\\m.bin") == data);
  EXPECT_EQ(Listing(remote.local), std::vector<std::wstring>{L"m.bin"});
  // Both handles still work.
  wchar_t current[MAX_PATH] = {};
  DWORD length = MAX_PATH;
  EXPECT_TRUE(FtpGetCurrentDirectoryW(connection.get(), current, &length));
  EXPECT_EQ(std::wstring(current), L"/handles");
  // A session of the caller with a connection opened by the call.
  EXPECT_EQ(inet.UploadFile(source, Host() + L"/handles/n.bin", L"velmora", L"secret", session.get()),
            kUploadSuccessful);
  EXPECT_TRUE(ReadFileBytes(remote.local + L"\\n.bin") == data);
  // A connection without its session is ignored: the Destination names the server.
  EXPECT_EQ(inet.UploadFile(source, Host() + L"/handles/o.bin", L"velmora", L"secret", nullptr, connection.get()),
            kUploadSuccessful);
  EXPECT_TRUE(ReadFileBytes(remote.local + L"\\o.bin") == data);
  EXPECT_TRUE(FtpGetCurrentDirectoryW(connection.get(), current, &(length = MAX_PATH)));
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// Sizes past 2 GiB: the local file is sparse, the server writes it whole. About two
// minutes under Wine, so it has a ctest entry of its own (inet_big_upload, label slow).
TEST(UploadFile, FileOfMoreThanTwoGiB) {
  if (Env("VELMORA_BIG_UPLOAD").empty()) GTEST_SKIP() << "runs in the inet_big_upload entry only";
  const RemoteFolder remote = FreshRemote(L"big");
  const std::wstring source = FreshFolder(L"inet-upload-big") + L"\\big.bin";
  const int64_t size = (2LL << 30) + 4096 + 100;
  {
    UniqueFile f(CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(f);
    LARGE_INTEGER at{};
    at.QuadPart = size - 100;
    ASSERT_TRUE(SetFilePointerEx(f.get(), at, nullptr, FILE_BEGIN));
    const std::string tail = Generated(100);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(f.get(), tail.data(), 100, &written, nullptr));
  }
  cWinINET inet;
  int64_t events = 0;
  int16_t last = -1;
  bool ordered = true;
  inet.UploadProgress = [&](int16_t progress, bool&) {
    ordered = ordered && progress >= last;
    last = progress;
    ++events;
  };
  EXPECT_EQ(inet.UploadFile(source, Host() + L"/big/big.bin", L"velmora", L"secret"), kUploadSuccessful);
  EXPECT_EQ(events, (size + 2047) / 2048);
  EXPECT_EQ(last, 100);
  EXPECT_TRUE(ordered);
  const std::wstring uploaded = remote.local + L"\\big.bin";
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(uploaded.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ((static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, size);
  UniqueFile f(CreateFileW(uploaded.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER at{};
  at.QuadPart = size - 100;
  SetFilePointerEx(f.get(), at, nullptr, FILE_BEGIN);
  char tail[100] = {};
  DWORD got = 0;
  ReadFile(f.get(), tail, 100, &got, nullptr);
  EXPECT_TRUE(std::string(tail, got) == Generated(100));
  f.reset();
  DeleteFileW(uploaded.c_str());
  DeleteFileW(source.c_str());
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// The ftp_cut_upload_peer server closes every upload's data connection after 64 KiB.
TEST(UploadFile, WriteThatFailsOnTheServer) {
  const std::wstring host = Env("VELMORA_FTP_CUT_UPLOAD_HOST");
  const std::wstring folder = PeerData(L"ftp-cut-upload\\cut");
  for (const auto& n : Listing(folder)) DeleteFileW((folder + L"\\" + n).c_str());
  ASSERT_TRUE(WriteFileBytes(folder + L"\\keep.bin", "old content"));
  const std::wstring source = LocalFile(L"cut.bin", Generated(4 << 20));
  cWinINET inet;
  // Under a temporary name the destination is untouched and the partial copy goes.
  EXPECT_EQ(inet.UploadFile(source, host + L"/cut/keep.bin", L"velmora", L"secret", nullptr, nullptr, true),
            kUnableToWriteDestination);
  EXPECT_EQ(ReadFileBytes(folder + L"\\keep.bin"), "old content");
  EXPECT_EQ(Listing(folder), std::vector<std::wstring>{L"keep.bin"});
  // Directly, the partial file is all the server has.
  EXPECT_EQ(inet.UploadFile(source, host + L"/cut/direct.bin", L"velmora", L"secret"), kUnableToWriteDestination);
  EXPECT_LT(ReadFileBytes(folder + L"\\direct.bin").size(), size_t{4 << 20});
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// Into a "reply-NNN" folder the same server takes every byte, keeps them, and answers NNN.
TEST(UploadFile, ServerThatTakesTheDataAndThenRefusesIt) {
  const std::wstring host = Env("VELMORA_FTP_CUT_UPLOAD_HOST");
  for (const wchar_t* code : {L"451", L"552"}) {
    const std::wstring name = std::wstring(L"reply-") + code;
    const std::wstring folder = PeerData(L"ftp-cut-upload") + L"\\" + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const auto& n : Listing(folder)) DeleteFileW((folder + L"\\" + n).c_str());
    ASSERT_TRUE(WriteFileBytes(folder + L"\\keep.bin", "old content"));
    const std::wstring source = LocalFile(L"refused.bin", Generated(9000));
    cWinINET inet;
    EXPECT_EQ(inet.UploadFile(source, host + L"/" + name + L"/keep.bin", L"velmora", L"secret", nullptr, nullptr, true),
              kUnableToWriteDestination)
        << code;
    EXPECT_EQ(ReadFileBytes(folder + L"\\keep.bin"), "old content");
    EXPECT_EQ(Listing(folder), std::vector<std::wstring>{L"keep.bin"});
    EXPECT_EQ(inet.UploadFile(source, host + L"/" + name + L"/direct.bin", L"velmora", L"secret"),
              kUnableToWriteDestination)
        << code;
    for (const auto& n : Listing(folder)) DeleteFileW((folder + L"\\" + n).c_str());
    RemoveDirectoryW(folder.c_str());
  }
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// A fresh folder of the cut-upload peer, which refuses what the words in its name say
// (DELE, renames onto a file, putting the upload in place, putting a backup back).
std::wstring FreshRefusingFolder(const std::wstring& name) {
  const std::wstring folder = PeerData(L"ftp-cut-upload\\" + name);
  for (const auto& n : Listing(folder)) DeleteFileW((folder + L"\\" + n).c_str());
  return folder;
}

// This process's debug log, in a fresh folder, for the lines UploadFile writes.
struct UploadLog {
  std::wstring folder = FreshFolder(L"inet-upload-log");
  UploadLog() {
    if (StringUtility::Instance().App().exeBaseName.empty())
      StringUtility::Instance().HandOver({L"Z:\\inet.exe", L"inet", kApplicationTitle, kApplicationTitle});
    StringUtility::Instance().Settings().debugFolder = folder + L"\\";
    StringUtility::Instance().Settings().debugLevel = 5;
  }
  ~UploadLog() { StringUtility::Instance().Settings().debugLevel = 0; }
  bool Names(const std::wstring& remoteName) const {
    const std::string quoted = "\"" + std::string(remoteName.begin(), remoteName.end()) + "\"";
    for (const auto& line : ReadLogLines(folder))
      if (line.find(quoted) != std::string::npos) return true;
    return false;
  }
};

// Names in `folder` that are not in `known`: the upload's temporary copy.
std::vector<std::wstring> Others(const std::wstring& folder, const std::vector<std::wstring>& known) {
  std::vector<std::wstring> others;
  for (const auto& n : Listing(folder))
    if (std::find(known.begin(), known.end(), n) == known.end()) others.push_back(n);
  return others;
}

TEST(UploadFile, ServerThatRefusesToDeleteKeepsTakingUploads) {
  const std::wstring host = Env("VELMORA_FTP_CUT_UPLOAD_HOST");
  const std::wstring folder = FreshRefusingFolder(L"nodele");
  // Every backup name is taken: by someone else, or by the backups an earlier version left
  // behind on this server, one per upload.
  std::vector<std::wstring> names{L"g.bin"};
  for (int i = 0; i < 10; ++i) names.push_back(BackupName(L"g.bin", i));
  for (const auto& n : names) ASSERT_TRUE(WriteFileBytes(folder + L"\\" + n, "not ours"));
  cWinINET inet;
  for (size_t offset : {1, 2}) {
    const std::string data = Generated(2500, offset);
    EXPECT_EQ(inet.UploadFile(LocalFile(L"g.bin", data), host + L"/nodele/g.bin", L"velmora", L"secret", nullptr,
                              nullptr, true),
              kUploadSuccessful);
    EXPECT_TRUE(ReadFileBytes(folder + L"\\g.bin") == data);
  }
  EXPECT_EQ(Listing(folder).size(), names.size());
  for (size_t i = 1; i < names.size(); ++i) EXPECT_EQ(ReadFileBytes(folder + L"\\" + names[i]), "not ours");
}

// A server that neither renames onto a file nor deletes: the destination is moved aside,
// and whatever stays behind is named in the log.
TEST(UploadFile, ServerThatMovesAsideButRefusesToDelete) {
  const std::wstring host = Env("VELMORA_FTP_CUT_UPLOAD_HOST");
  UploadLog log;
  cWinINET inet;
  for (const wchar_t* name : {L"nooverwrite", L"nodele-nooverwrite"}) {
    const bool deletes = std::wstring(name) == L"nooverwrite";
    const std::wstring folder = FreshRefusingFolder(name);
    ASSERT_TRUE(WriteFileBytes(folder + L"\\h.bin", "old content"));
    EXPECT_EQ(inet.UploadFile(LocalFile(L"h.bin", Generated(2500)), host + L"/" + name + L"/h.bin", L"velmora",
                              L"secret", nullptr, nullptr, true),
              kUploadSuccessful)
        << name;
    EXPECT_TRUE(ReadFileBytes(folder + L"\\h.bin") == Generated(2500)) << name;
    EXPECT_EQ(ReadFileBytes(folder + L"\\h.bin.old"), deletes ? "" : "old content") << name;
    EXPECT_EQ(log.Names(std::wstring(name) + L"/h.bin.old"), !deletes) << name;
    // Once every backup name is taken the upload fails and leaves the destination.
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(WriteFileBytes(folder + L"\\" + BackupName(L"h.bin", i), "not ours"));
    EXPECT_EQ(inet.UploadFile(LocalFile(L"h2.bin", "new"), host + L"/" + name + L"/h.bin", L"velmora", L"secret",
                              nullptr, nullptr, true),
              kUnableToWriteDestination)
        << name;
    EXPECT_TRUE(ReadFileBytes(folder + L"\\h.bin") == Generated(2500)) << name;
    std::vector<std::wstring> known{L"h.bin"};
    for (int i = 0; i < 10; ++i) known.push_back(BackupName(L"h.bin", i));
    const auto left = Others(folder, known);
    ASSERT_EQ(left.size(), deletes ? 0u : 1u) << name;
    if (!deletes) {
      EXPECT_TRUE(log.Names(std::wstring(name) + L"/" + left[0])) << name;
    }
  }
}

// When the upload cannot take the destination's place, the old file goes back before the
// upload is deleted; if it cannot go back, both stay and the log names them.
TEST(UploadFile, FailedPlacingPutsTheOldFileBackBeforeDeletingTheUpload) {
  const std::wstring host = Env("VELMORA_FTP_CUT_UPLOAD_HOST");
  UploadLog log;
  cWinINET inet;
  const std::string data = Generated(2500, 5);
  const std::wstring source = LocalFile(L"i.bin", data);
  std::wstring folder = FreshRefusingFolder(L"noplace");
  ASSERT_TRUE(WriteFileBytes(folder + L"\\i.bin", "old content"));
  EXPECT_EQ(inet.UploadFile(source, host + L"/noplace/i.bin", L"velmora", L"secret", nullptr, nullptr, true),
            kUnableToWriteDestination);
  EXPECT_EQ(Listing(folder), std::vector<std::wstring>{L"i.bin"});
  EXPECT_EQ(ReadFileBytes(folder + L"\\i.bin"), "old content");

  folder = FreshRefusingFolder(L"noplace-norestore");
  ASSERT_TRUE(WriteFileBytes(folder + L"\\i.bin", "old content"));
  EXPECT_EQ(inet.UploadFile(source, host + L"/noplace-norestore/i.bin", L"velmora", L"secret", nullptr, nullptr, true),
            kUnableToWriteDestination);
  EXPECT_EQ(ReadFileBytes(folder + L"\\i.bin.old"), "old content");
  const auto left = Others(folder, {L"i.bin.old"});
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(ReadFileBytes(folder + L"\\" + left[0]) == data);
  EXPECT_TRUE(log.Names(L"noplace-norestore/i.bin.old"));
  EXPECT_TRUE(log.Names(L"noplace-norestore/" + left[0]));
}

}  // namespace
}  // namespace velmora
