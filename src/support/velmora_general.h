// The shared general module: the debug log, the debug level, the WM_COPYDATA text
// helpers and the tray-tip copy. Windows edges of rules that live in text.h and
// debug_log.h.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

// Appends one line to the debug log when the configured level lets it through.
// Never throws; a line that cannot be written is dropped.
void WriteDebugLog(const std::wstring& text, int level, int mark) noexcept;

// Shows the box noted by a log line that could not be written (its folder cannot be
// made), if any. Only the top-level message loop calls it: the box runs messages.
void ShowPendingLogBox() noexcept;

// Sets the configured debug level from "/DEBUG" or the "DebugMode" registry value.
void LoadDebugLevel();

void GetProcessMemory(uint64_t& workingSet, uint64_t& pagefileUsage);

// The wait of a blocking reply: long enough for a requester that does work in its
// handler, short enough that a frozen requester cannot stall the queue for long.
inline constexpr UINT kReplyTimeoutMs = 10000;

// Text carried by a received WM_COPYDATA (data codes 3 and 4; anything else is empty).
std::wstring ReadCopyData(const COPYDATASTRUCT* data);

// A data-code-4 WM_COPYDATA to `target`, waiting at most `timeoutMs` for the receiver to
// handle it (not at all once the system calls the receiver hung), and whether it did.
struct CopyDataDelivery {
  bool delivered = false;
  LRESULT result = 0;
  DWORD error = 0;  // why not, when not delivered; ERROR_TIMEOUT for a time-out or a hung receiver
};
CopyDataDelivery DeliverCopyData(HWND target, const std::wstring& text, HWND sender,
                                 UINT timeoutMs = kReplyTimeoutMs);

// The system's words for an error code (WinINet's codes included), with the number.
std::wstring SystemMessage(DWORD code);

// The text's ANSI bytes into `bytes`, zero-filled after it, cut at `count`.
void CopyStringToBytes(unsigned char* bytes, size_t count, const std::wstring& text);

// The process's arguments (the command line without the program name).
std::wstring ProcessArguments();

// Asks Windows to start the agent again, with RestartArguments, once an installer's Restart
// Manager has closed it to replace its files; not after a crash, a hang or a reboot (the
// sign-in start covers that).
void RegisterForRestart();

}  // namespace velmora
