// "/Exit" against a window of the agent's class whose process does not end: an installer
// must hear that the files are still held, and must not be told so before 10 s.
#include <gtest/gtest.h>

#include "win_test_support.h"

using namespace testing_support;

namespace {

int closesAsked = 0;

// Like an agent that hides its window on WM_CLOSE but keeps running (and keeps its
// executable open): the window goes, the process stays.
LRESULT CALLBACK LingeringAgent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_CLOSE) {
    ++closesAsked;
    DestroyWindow(window);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

TEST(ExitSwitch, AnAgentWhoseProcessStaysIsReported) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = LingeringAgent;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"frmVelmoraSkytrove";
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND window = CreateWindowW(wc.lpszClassName, L"Velmora Skytrove v4", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                              nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);

  std::wstring command = L"\"" + AgentPath() + L"\" /Exit";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  CloseHandle(pi.hThread);
  const ULONGLONG started = GetTickCount64();
  // Our window must answer its messages meanwhile, as the agent's would.
  WaitUntil([&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }, 30000, 20, pi.hProcess);
  const ULONGLONG waited = GetTickCount64() - started;
  DWORD status = 0;
  GetExitCodeProcess(pi.hProcess, &status);
  CloseHandle(pi.hProcess);

  EXPECT_EQ(closesAsked, 1);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(status, 1u) << "the agent's process is still there";
  EXPECT_GE(waited, 9500u) << "gave up before the 10 s an agent has to end";
}
