// The tray as the shell sees it and as a person uses it, against the real agent: the
// icon record at start-up, after a shell restart and at the end, the tip during an HTTP
// transfer, and the menu's quit question. The single clicks on the icon are tested on
// the window in tests/app, where the menu can be read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent_fixture.h"

#include <shellapi.h>

using namespace testing_support;

namespace {

struct IconCall {
  ULONG_PTR operation = 0;  // NIM_ADD, NIM_MODIFY, NIM_DELETE
  uint32_t window = 0, id = 0, flags = 0, callback = 0, iconWidth = 0;
  std::wstring tip;
};

// Stands in for the shell's notification area: a "Shell_TrayWnd" window on a thread of
// its own, so the agent's calls are answered whatever the test thread is doing. Wine's
// shell32 hands each Shell_NotifyIcon call to that window as WM_COPYDATA: the operation
// as the data code, then the window (32 bits), id, flags, callback message, the tip in
// UTF-16 (128 characters) and, after the balloon fields, the icon's bitmap size.
class FakeShellTray {
 public:
  FakeShellTray() {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] { Run(); });
    WaitForSingleObject(ready_, INFINITE);
    CloseHandle(ready_);
  }
  ~FakeShellTray() {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }
  std::vector<IconCall> Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  // Waits until `count` calls of `operation` arrived.
  bool WaitFor(ULONG_PTR operation, size_t count, DWORD ms) {
    return WaitUntil(
        [&] {
          size_t n = 0;
          for (const auto& c : Calls()) n += c.operation == operation;
          return n >= count;
        },
        ms);
  }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    auto* self = reinterpret_cast<FakeShellTray*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_COPYDATA && self != nullptr) {
      const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      const auto* b = static_cast<const unsigned char*>(cds->lpData);
      if (cds->cbData < 16 + 256) return FALSE;
      IconCall call;
      call.operation = cds->dwData;
      memcpy(&call.window, b, 4);
      memcpy(&call.id, b + 4, 4);
      memcpy(&call.flags, b + 8, 4);
      memcpy(&call.callback, b + 12, 4);
      const auto* tip = reinterpret_cast<const wchar_t*>(b + 16);
      call.tip.assign(tip, wcsnlen(tip, 128));
      // Past the tip: state, mask, info[256], timeout, info title[64], info flags, GUID.
      const size_t iconAt = 16 + 256 + 8 + 512 + 4 + 128 + 4 + 16;
      if (cds->cbData >= iconAt + 4) memcpy(&call.iconWidth, b + iconAt, 4);
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->calls_.push_back(call);
      return TRUE;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  void Run() {
    threadId_ = GetCurrentThreadId();
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"Shell_TrayWnd";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetEvent(ready_);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    DestroyWindow(hwnd);
  }

  std::thread thread_;
  std::atomic<DWORD> threadId_{0};
  HANDLE ready_ = nullptr;  // set once the window exists
  std::mutex mutex_;
  std::vector<IconCall> calls_;
};

constexpr UINT kCallback = 0x200;
constexpr wchar_t kTitle[] = L"Velmora Skytrove v4";

// The agent as a person starts it (no arguments), with the stand-in shell already there.
class Tray : public AgentTest {
 protected:
  Tray() : AgentTest(L"") {}
  void SetUp() override {
    // Each test starts from the bottom-right corner, with no placement of an earlier one.
    for (const wchar_t* n : {L"Left", L"Top", L"Right", L"Bottom", L"Maximised"}) {
      DeleteMachineValue(L"SOFTWARE\\Velmora\\Utils\\Skytrove4", n);
      DeleteMachineValue(L"SOFTWARE\\Velmora\\Utils\\Skytrove4", n, HKEY_CURRENT_USER);
    }
    AgentTest::SetUp();
  }
  void Click(UINT event) { PostMessageW(agent_.Window(), kCallback, 1, event); }
  // The agent's open popup menu, if any.
  HWND AgentMenu(DWORD ms) {
    HWND menu = nullptr;
    WaitUntil(
        [&] {
          for (HWND w = FindWindowW(L"#32768", nullptr); w != nullptr && menu == nullptr;
               w = FindWindowExW(nullptr, w, L"#32768", nullptr)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == GetProcessId(agent_.Process()) && IsWindowVisible(w)) menu = w;
          }
          return menu != nullptr;
        },
        ms);
    return menu;
  }
  bool Shown() { return IsWindowVisible(agent_.Window()) && !IsIconic(agent_.Window()); }
  // Start-up shows the window before it minimises it into the tray.
  bool InTheTray() {
    WaitUntil([&] { return !IsWindowVisible(agent_.Window()); }, 5000, 50);
    return !IsWindowVisible(agent_.Window()) && IsIconic(agent_.Window());
  }

  FakeShellTray shell_;
};

TEST_F(Tray, IconFromStartToEndAndAgainAfterTheShellRestarts) {
  ASSERT_TRUE(shell_.WaitFor(NIM_ADD, 1, 5000));
  const IconCall added = shell_.Calls().front();
  EXPECT_EQ(added.operation, static_cast<ULONG_PTR>(NIM_ADD));
  EXPECT_EQ(added.window, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(agent_.Window())));
  EXPECT_EQ(added.id, 1u);
  EXPECT_EQ(added.flags, 7u);
  EXPECT_EQ(added.callback, kCallback);
  EXPECT_EQ(added.tip, kTitle);
  EXPECT_GT(added.iconWidth, 0u);  // the application icon went along

  // A shell that starts again announces itself to every top-level window.
  PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  ASSERT_TRUE(shell_.WaitFor(NIM_ADD, 2, 5000));
  EXPECT_EQ(shell_.Calls().back().tip, kTitle);
  EXPECT_TRUE(agent_.Running());

  ASSERT_TRUE(agent_.Stop());
  ASSERT_TRUE(shell_.WaitFor(NIM_DELETE, 1, 5000));
  EXPECT_EQ(shell_.Calls().back().operation, static_cast<ULONG_PTR>(NIM_DELETE));
}

TEST_F(Tray, TipFollowsAnHttpTransferAndReturnsToTheTitle) {
  ASSERT_TRUE(Send("GET Type=HTTP Reference=T1 SourceFileName=" + Url("slow/30000?chunk=10000&delay=150") +
                   " DestinationFileName=" + Dest("t.bin")));
  ASSERT_TRUE(requester_.WaitReply(30000).has_value());
  ASSERT_TRUE(shell_.WaitFor(NIM_MODIFY, 1, 2000));

  std::vector<std::wstring> tips;
  for (const auto& c : shell_.Calls())
    if (c.operation == NIM_MODIFY) tips.push_back(c.tip);
  // The title followed directly by the status text, which begins with a space: one tip
  // per chunk read, the last of them with the whole count, then the title alone again.
  ASSERT_GE(tips.size(), 3u);
  EXPECT_EQ(tips.back(), kTitle);
  EXPECT_EQ(tips[tips.size() - 2], L"Velmora Skytrove v4 Downloaded 30,000 bytes");
  for (size_t i = 0; i + 1 < tips.size(); ++i) {
    EXPECT_EQ(tips[i].rfind(L"Velmora Skytrove v4 Downloaded ", 0), 0u) << tips[i];
    EXPECT_EQ(tips[i].substr(tips[i].size() - 6), L" bytes") << tips[i];
  }
  for (const auto& t : tips) EXPECT_LE(t.size(), 63u);
}

TEST_F(Tray, ExitFromTheMenuAsksItsQuestionNoKeepsYesEnds) {
  ASSERT_TRUE(InTheTray());
  for (int answer : {IDNO, IDYES}) {
    Click(WM_RBUTTONUP);
    HWND menu = AgentMenu(5000);
    ASSERT_NE(menu, nullptr);
    PostMessageW(menu, WM_CHAR, 'x', 0);
    HWND box = WaitForWindow(L"#32770", kTitle, 10000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"Are you sure you want to quit from the Skytrove?");
    EXPECT_TRUE(Shown());  // the hidden window came back before the question
    PressButton(box, answer);
    if (answer == IDNO) {
      ASSERT_TRUE(Settle(agent_.Window()));
      EXPECT_TRUE(agent_.Running());
      EXPECT_TRUE(Shown());
      ShowWindow(agent_.Window(), SW_MINIMIZE);  // back to the tray for the second round
      ASSERT_TRUE(Settle(agent_.Window()));
    }
  }
  ASSERT_TRUE(agent_.WaitExit(10000));
  EXPECT_TRUE(shell_.WaitFor(NIM_DELETE, 1, 1000));
}

}  // namespace
