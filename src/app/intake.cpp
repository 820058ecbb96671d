// Request intake: every WM_COPYDATA reaching the window.
#include <windows.h>

#include "app/main_window.h"
#include "protocol/control.h"
#include "protocol/request.h"
#include "support/components.h"
#include "support/debug_log.h"
#include "support/text.h"
#include "support/velmora_general.h"

namespace velmora {

void frmVelmoraSkytrove::CopyDataReceivedEx(const COPYDATASTRUCT* data, WPARAM wParam) {
  WriteDebugLog(L"Started HWndGrab1_CopyDataReceivedEx", 5, kMarkStart);
  const std::wstring text = ReadCopyData(data);
  const int32_t parent = static_cast<int32_t>(static_cast<intptr_t>(wParam));
  // Whatever we answered would come back here as a new message: a window of our own
  // process is never a requester.
  if (OwnProcessWindow(reinterpret_cast<HWND>(wParam))) {
    const std::wstring command = CommandWord(text);
    if (command == L"GET" || ParseControl(text))
      WriteDebugLog(L"Refused " + command + L" command from " + ToDecimal(parent) + L" - the window is the agent's own",
                    5, kMarkNone);
    WriteDebugLog(L"Finished HWndGrab1_CopyDataReceivedEx", 5, kMarkEnd);
    return;
  }
  // Read only for a GET: the other commands come in bursts and need no pace.
  const std::wstring machinePace = CommandWord(text) == L"GET"
                                       ? registry::ReadText(HKEY_LOCAL_MACHINE, kPlacementKey, L"Pace", L"")
                                       : std::wstring();
  if (auto request = ParseRequest(text, parent, machinePace)) {
    // The request is logged as received, except that a password never reaches the log.
    WriteDebugLog(L"Received GET command from " + ToDecimal(parent) + L" - " + MaskField(text, L"Password"), 10,
                  kMarkNone);
    AddToDownloadList(*request);
  } else if (auto control = ParseControl(text)) {
    WriteDebugLog(L"Received " + control->command + L" command from " + ToDecimal(parent) + L" - " + text, 10,
                  kMarkNone);
    HandleControl(*control, parent);
  }
  WriteDebugLog(L"Finished HWndGrab1_CopyDataReceivedEx", 5, kMarkEnd);
}

}  // namespace velmora
