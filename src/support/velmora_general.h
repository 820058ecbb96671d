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

// Sets the configured debug level from "/DEBUG" or the "DebugMode" registry value.
void LoadDebugLevel();

void GetProcessMemory(uint64_t& workingSet, uint64_t& pagefileUsage);

// The wait of a blocking reply: long enough for a requester that does work in its
// handler, short enough that a frozen requester cannot stall the queue for long.
inline constexpr UINT kReplyTimeoutMs = 10000;

// Text carried by a received WM_COPYDATA (data codes 3 and 4; anything else is empty).
std::wstring ReadCopyData(const COPYDATASTRUCT* data);

// Sends `text` as a data-code-4 WM_COPYDATA. The title is used only when `target` is 0.
LRESULT SendCopyData(HWND target, const std::wstring& title, const std::wstring& text, HWND sender);

// The text's ANSI bytes into `bytes`, zero-filled after it, cut at `count`.
void CopyStringToBytes(unsigned char* bytes, size_t count, const std::wstring& text);

// The process's arguments (the command line without the program name).
std::wstring ProcessArguments();

}  // namespace velmora
