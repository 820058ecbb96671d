// The real window in this process: messages that no other process could deliver under
// Wine, and what the window shows.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/main_window.h"
#include "support/components.h"
#include "win_test_support.h"

using namespace velmora;

namespace {

class InProcessWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    AppInfo app{L"Z:\\test.exe", L"test", kApplicationTitle, kApplicationTitle};
    StringUtility::Instance().HandOver(app);
  }
};

TEST_F(InProcessWindow, SixteenMebibyteRequestIsReadWithoutHarm) {
  frmVelmoraSkytrove window(GetModuleHandleW(nullptr));
  ASSERT_TRUE(window.Create());
  std::string huge = "GET Type=HTTP SourceFileName=http://127.0.0.1:1/x Reference=" + std::string(16 << 20, 'x');
  COPYDATASTRUCT cds{4, static_cast<DWORD>(huge.size()), huge.data()};
  const DWORD start = GetTickCount();
  SendMessageW(window.hwnd(), WM_COPYDATA, reinterpret_cast<WPARAM>(window.hwnd()), reinterpret_cast<LPARAM>(&cds));
  EXPECT_LT(GetTickCount() - start, 10000u);
  std::string open = "GET Type=HTTP SourceFileName=\"" + std::string(1 << 20, 'y');
  cds = COPYDATASTRUCT{3, static_cast<DWORD>(open.size()), open.data()};
  SendMessageW(window.hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
  EXPECT_TRUE(IsWindow(window.hwnd()));
}

}  // namespace
