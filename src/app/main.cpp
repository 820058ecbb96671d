// VelmoraSkytrove4.exe: one window, one thread, one message loop.
#include <windows.h>

#include <exception>

#include "app/main_window.h"
#include "app/stop_agent.h"
#include "support/debug_level.h"
#include "support/components.h"
#include "support/paths.h"
#include "support/velmora_general.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace velmora;
  const std::wstring arguments = CommandLineArguments(GetCommandLineW());
  if (HasSwitch(arguments, L"/Exit")) return StopRunningAgent();
  // The package's uninstall, for the user who runs it.
  if (HasSwitch(arguments, L"/RemoveUserSettings")) {
    placement::Forget(kPlacementKey);
    ForgetJournal();
    return 0;
  }
  wchar_t path[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  AppInfo app;
  app.exePath = path;
  app.exeBaseName = StemPart(FileNamePart(app.exePath));
  app.title = kApplicationTitle;
  app.productName = kApplicationTitle;
  StringUtility::Instance().HandOver(app);

  int exitCode = 0;
  try {
    frmVelmoraSkytrove window(instance);
    if (!window.Create()) return 0;
    MSG msg;
    // Log boxes are shown here and nowhere else: nothing of ours is on the stack.
    for (;;) {
      ShowPendingLogBox();
      if (GetMessageW(&msg, nullptr, 0, 0) <= 0) break;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    exitCode = static_cast<int>(msg.wParam);
  } catch (const std::exception&) {
    exitCode = 1;
  }
  return exitCode;
}
