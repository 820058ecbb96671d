// DownloadFile against the real web peer (Python's http.server) of the web fixture.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inet/cwininet.h"
#include "support/handles.h"
#include "win_test_support.h"

namespace velmora {
namespace {

using namespace testing_support;

std::wstring Url(const std::wstring& path) { return L"http://" + Env("VELMORA_WEB") + path; }

std::vector<std::wstring> Listing(const std::wstring& folder) { return FolderNames(folder); }

TEST(DownloadFile, BodiesArriveWhole) {
  struct Case {
    std::wstring path;
    std::string body;
  };
  const std::vector<Case> cases = {
      {L"/empty", ""},
      {L"/gen/1", Generated(1)},
      {L"/gen/11264", Generated(11264)},
      {L"/gen/3000000", Generated(3000000)},
      {L"/nolength/5000", Generated(5000)},
  };
  const std::wstring folder = FreshFolder(L"inet-http-whole");
  for (const auto& c : cases) {
    const std::wstring target = folder + L"\\out.bin";
    // An existing file is replaced, also by an empty body.
    ASSERT_TRUE(WriteFileBytes(target, "previous content"));
    cWinINET inet;
    EXPECT_EQ(inet.DownloadFile(Url(c.path), target), kUploadSuccessful);
    const std::string got = ReadFileBytes(target);
    EXPECT_EQ(got.size(), c.body.size());
    EXPECT_TRUE(got == c.body);  // not EXPECT_EQ: a failure would print megabytes
    EXPECT_EQ(Listing(folder), std::vector<std::wstring>{L"out.bin"});
  }
}

TEST(DownloadFile, FailuresKeepTheOldFile) {
  struct Case {
    std::wstring url;
    int32_t result;
  };
  const std::vector<Case> cases = {
      {L"http://127.0.0.1:1/nothing-listens", kUnableToReadSource},
      {L"not a url", kUnableToReadSource},
      {Url(L"/status/404"), kUnableToReadSource},
      {Url(L"/status/500"), kUnableToReadSource},
      {Url(L"/files/no-such-file"), kUnableToReadSource},
      {Url(L"/short/5000?announce=10000"), kUnableToReadSource},
      {Url(L"/reset/50000?announce=200000"), kUnableToReadSource},  // reset mid-body
      {Url(L"/reset/50000?announce=none"), kUnableToReadSource},    // no length to compare with
  };
  const std::wstring folder = FreshFolder(L"inet-http-fail");
  const std::wstring target = folder + L"\\keep.bin";
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteFileBytes(target, "old content"));
    cWinINET inet;
    EXPECT_EQ(inet.DownloadFile(c.url, target), c.result) << std::string(c.url.begin(), c.url.end());
    EXPECT_EQ(ReadFileBytes(target), "old content");
    EXPECT_EQ(Listing(folder), std::vector<std::wstring>{L"keep.bin"});
  }
}

TEST(DownloadFile, LocalFileThatCannotBeWritten) {
  cWinINET inet;
  EXPECT_EQ(inet.DownloadFile(Url(L"/gen/100"), L"Z:\\no\\such\\folder\\x.bin"), kUnableToWriteDestination);
  const std::wstring target = FreshFolder(L"inet-http-locked") + L"\\locked.bin";
  ASSERT_TRUE(WriteFileBytes(target, "old content"));
  UniqueFile lock(CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(lock);
  EXPECT_EQ(inet.DownloadFile(Url(L"/gen/100"), target), kUnableToWriteDestination);
  lock.reset();
  EXPECT_EQ(ReadFileBytes(target), "old content");
}

TEST(DownloadFile, SessionOfTheCallerStaysOpen) {
  UniqueInternet session(InternetOpenW(L"inet test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  ASSERT_TRUE(session);
  const std::wstring target = FreshFolder(L"inet-http-session") + L"\\s.bin";
  cWinINET inet;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(inet.DownloadFile(Url(L"/gen/4000"), target, 7, L"", L"", session.get()), kUploadSuccessful);
    EXPECT_TRUE(ReadFileBytes(target) == Generated(4000));
  }
}

// Thread timers are generated only while messages are pumped, so counting them counts the
// times the download let messages run. Each one re-arms its timer far beyond the time one
// pump takes (even on a loaded machine) and well within the 360 ms between the two pumps,
// so one pump can never see two.
std::vector<int64_t> g_sizesAtTimer;
std::wstring g_watchFolder;
constexpr UINT kRearmMs = 200;

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) noexcept {
  SetTimer(nullptr, id, kRearmMs, OnTimer);
  int64_t size = -1;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((g_watchFolder + L"\\*.tmp").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    size = (static_cast<int64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    FindClose(h);
  }
  g_sizesAtTimer.push_back(size);
}

TEST(DownloadFile, ElevenChunksLetMessagesRunTwiceWhenAsked) {
  for (bool pump : {true, false}) {
    g_watchFolder = FreshFolder(L"inet-http-pump");
    g_sizesAtTimer.clear();
    const std::wstring target = g_watchFolder + L"\\p.bin";
    const UINT_PTR timer = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, OnTimer);
    ASSERT_NE(timer, 0u);
    // The first pump must find the timer due.
    while (!(HIWORD(GetQueueStatus(QS_TIMER)) & QS_TIMER)) MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_TIMER);
    cWinINET inet;
    // 1024 bytes every 40 ms: each read is one chunk, and the timer is due at every one.
    EXPECT_EQ(inet.DownloadFile(Url(L"/slow/11264?chunk=1024&delay=40"), target, 0, L"", L"", nullptr, nullptr, pump),
              kUploadSuccessful);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(ReadFileBytes(target) == Generated(11264));
    if (pump) {
      // Before the 1st write and before the 11th.
      EXPECT_EQ(g_sizesAtTimer, (std::vector<int64_t>{0, 10240}));
    } else {
      EXPECT_TRUE(g_sizesAtTimer.empty());
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
    }
  }
}

}  // namespace
}  // namespace velmora
