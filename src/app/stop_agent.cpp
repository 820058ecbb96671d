#include "app/stop_agent.h"

#include <windows.h>

#include "app/main_window.h"
#include "support/handles.h"

namespace velmora {

namespace {
constexpr DWORD kGoneWithinMs = 10000;
}

int StopRunningAgent() noexcept {
  const HWND window = FindWindowW(kMainWindowClass, nullptr);
  if (window == nullptr) return 0;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  // Opened before the close is asked for, so a quick exit cannot recycle the id first.
  UniqueHandle process(processId != 0 ? OpenProcess(SYNCHRONIZE, FALSE, processId) : nullptr);
  // Posted, not sent: an agent blocked in a transfer must not hold us past our limit.
  if (!PostMessageW(window, WM_CLOSE, 0, 0)) return IsWindow(window) ? 1 : 0;
  if (!process) {
    // Without a process handle the window is all there is to watch.
    const ULONGLONG deadline = GetTickCount64() + kGoneWithinMs;
    while (IsWindow(window) && GetTickCount64() < deadline) Sleep(50);
    return IsWindow(window) ? 1 : 0;
  }
  return WaitForSingleObject(process.get(), kGoneWithinMs) == WAIT_OBJECT_0 ? 0 : 1;
}

}  // namespace velmora
