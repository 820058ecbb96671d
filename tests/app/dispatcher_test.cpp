// The dispatcher and the list with the real window in this process, where a transfer can
// be made to throw and where tens of thousands of requests arrive in no time.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>

#include "app/main_window.h"
#include "support/components.h"
#include "win_test_support.h"

using namespace velmora;
using namespace testing_support;

namespace {

// A window whose first HTTP transfer throws; later ones succeed without any network.
class ThrowingWindow : public frmVelmoraSkytrove {
 public:
  using frmVelmoraSkytrove::frmVelmoraSkytrove;
  int calls = 0;
  bool DownloadHTTPFile(DownloadRequest&) override {
    if (++calls == 1) throw std::runtime_error("simulated failure inside a transfer");
    return true;
  }
};

class InProcessDispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    AppInfo app{L"Z:\\test.exe", L"dispatcher", kApplicationTitle, kApplicationTitle};
    StringUtility::Instance().HandOver(app);
    logs_ = FreshFolder(L"dispatcher-logs");
    StringUtility::Instance().Settings().debugFolder = logs_ + L"\\";
    StringUtility::Instance().Settings().debugLevel = -1;
  }
  void TearDown() override { StringUtility::Instance().Settings().debugLevel = 0; }
  void Send(HWND to, HWND from, const std::string& text) {
    COPYDATASTRUCT cds{4, static_cast<DWORD>(text.size()), const_cast<char*>(text.data())};
    SendMessageW(to, WM_COPYDATA, reinterpret_cast<WPARAM>(from), reinterpret_cast<LPARAM>(&cds));
  }
  std::wstring logs_;
};

TEST_F(InProcessDispatcher, RunTimeErrorCostsOnlyThatRequest) {
  ThrowingWindow window(GetModuleHandleW(nullptr));
  ASSERT_TRUE(window.Create());
  Requester requester;
  Send(window.hwnd(), requester.Window(), "GET Type=HTTP Reference=first SourceFileName=http://x/1 DestinationFileName=Z:\\a");
  Send(window.hwnd(), requester.Window(), "GET Type=HTTP Reference=second SourceFileName=http://x/2 DestinationFileName=Z:\\b");
  auto reply = requester.WaitReply(6000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Field("Reference"), "second");  // the first went without a reply
  EXPECT_EQ(window.calls, 2);
  EXPECT_FALSE(requester.WaitReply(1500));
  const auto lines = ReadLogLines(logs_);
  EXPECT_TRUE(LogContains(lines, "Run-time error in frmVelmoraSkytrove:tmrDownloadFiles_Timer - "
                                 "simulated failure inside a transfer"));
  EXPECT_TRUE(LogContains(lines, "Removing file http://x/1 from download request list"));
  // After the error the queue went on as usual: re-armed, and idle again at the end.
  Send(window.hwnd(), requester.Window(), "GET Type=HTTP Reference=third SourceFileName=http://x/3 DestinationFileName=Z:\\c");
  reply = requester.WaitReply(4000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Field("Reference"), "third");
}

TEST_F(InProcessDispatcher, ListIsBoundedAndABurstStaysFast) {
  ThrowingWindow window(GetModuleHandleW(nullptr));
  ASSERT_TRUE(window.Create());
  StringUtility::Instance().Settings().debugLevel = 0;  // 32,768 log lines would dominate
  Requester requester;
  const DWORD start = GetTickCount();
  for (int i = 0; i < 32767; ++i)
    Send(window.hwnd(), requester.Window(), "GET Type=HTTP SourceFileName=http://x/" + std::to_string(i));
  EXPECT_LT(GetTickCount() - start, 60000u);
  StringUtility::Instance().Settings().debugLevel = 5;
  Send(window.hwnd(), requester.Window(), "GET Type=HTTP SourceFileName=http://x/one-more");
  Send(window.hwnd(), requester.Window(), "GET Type=HTTP SourceFileName=http://x/5");
  const auto lines = ReadLogLines(logs_);
  EXPECT_TRUE(LogContains(lines, "Exiting AddToDownloadList as the download list is full"));
  EXPECT_TRUE(LogContains(lines, "Exiting AddToDownloadList already in list"));
}

}  // namespace
