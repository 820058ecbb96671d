#include "velmora_general.h"

#include <psapi.h>
#include <wininet.h>

#include <cstring>
#include <vector>

#include "ansi.h"
#include "components.h"
#include "debug_level.h"
#include "debug_log.h"
#include "handles.h"
#include "private_folder.h"
#include "text.h"

namespace velmora {

namespace {

struct LogBox {
  std::wstring text;
  bool noted = false;    // waiting for the top-level loop
  bool showing = false;  // up now
};
LogBox& TheLogBox() {
  static LogBox box;
  return box;
}

class WindowsLogEnvironment final : public LogEnvironment {
 public:
  std::wstring ReadDebugPath() override {
    return registry::ReadText(HKEY_LOCAL_MACHINE, kVelmoraKey, L"DebugPath", L"");
  }
  std::wstring WindowsFolder() override { return fileutil::WindowsFolder(); }
  bool CreateFolder(const std::wstring& folder, bool ownersOnly) override {
    return ownersOnly ? CreatePrivateFolder(folder) : fileutil::CreateFolder(folder);
  }
  // The box runs messages, and a line can be logged from anywhere: in the middle of the
  // dispatcher's bookkeeping, inside a wait, while the window closes. Opened there, the
  // box would run a nested tick or a second close under the caller's feet. So the line
  // only notes the box and wakes the thread; the top-level message loop shows it
  // (ShowPendingLogBox), with nothing of ours on the stack. One box at a time: lines
  // logged while one is noted or up are lost, as they would be anyway.
  void ShowFolderError(const std::wstring& message) override {
    LogBox& box = TheLogBox();
    if (box.noted || box.showing) return;
    box.text = message;
    box.noted = true;
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);  // an idle loop wakes for it
  }
  LogTime Now() override {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return LogTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds / 10};
  }
  std::wstring TimeSeparator() override { return LocaleText(LOCALE_STIME, L":"); }
  std::wstring DecimalSeparator() override { return LocaleText(LOCALE_SDECIMAL, L"."); }
  bool IsNtPlatform() override { return systemcheck::IsNtPlatform(); }
  void ProcessMemory(uint64_t& workingSet, uint64_t& pagefileUsage) override {
    GetProcessMemory(workingSet, pagefileUsage);
  }
  std::wstring ExecutableBaseName() override { return StringUtility::Instance().App().exeBaseName; }
  void AppendLine(const std::wstring& path, const std::wstring& line) override {
    UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string bytes = ToAnsi(line);
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }

 private:
  static std::wstring LocaleText(LCTYPE what, const wchar_t* fallback) {
    wchar_t buffer[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, what, buffer, 8) > 1) return buffer;
    return fallback;
  }
};

DebugLog& Log() {
  static WindowsLogEnvironment environment;
  static DebugLog log(StringUtility::Instance().Settings(), environment);
  return log;
}

}  // namespace

void WriteDebugLog(const std::wstring& text, int level, int mark) noexcept {
  try {
    Log().Write(text, level, mark);
  } catch (...) {
    // The log is a diagnostic aid; losing a line must never stop the agent.
  }
}

void ShowPendingLogBox() noexcept {
  LogBox& box = TheLogBox();
  if (!box.noted || box.showing) return;
  box.noted = false;
  box.showing = true;
  try {
    const std::wstring text = box.text;
    MessageBoxW(nullptr, text.c_str(), kApplicationTitle, MB_OK | MB_ICONEXCLAMATION);
  } catch (...) {
    // Only copying the text can fail; the box is lost like its line.
  }
  box.showing = false;
}

std::wstring ProcessArguments() { return CommandLineArguments(GetCommandLineW()); }

void RegisterForRestart() {
  const std::wstring arguments = RestartArguments(ProcessArguments());
  const HRESULT result = RegisterApplicationRestart(arguments.empty() ? nullptr : arguments.c_str(),
                                                    RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
  if (FAILED(result))
    WriteDebugLog(L"Registering for a restart after an update FAILED - " + SystemMessage(static_cast<DWORD>(result)), 5,
                  kMarkNone);
}

void LoadDebugLevel() {
  SharedSettings& settings = StringUtility::Instance().Settings();
  if (settings.debugLevel != 0) return;
  if (auto level = DebugLevelFromCommandLine(ProcessArguments())) {
    settings.debugLevel = *level;
    return;
  }
  settings.debugLevel = registry::ReadNumber(HKEY_LOCAL_MACHINE, kVelmoraKey, L"DebugMode", 0);
}

void GetProcessMemory(uint64_t& workingSet, uint64_t& pagefileUsage) {
  workingSet = 0;
  pagefileUsage = 0;
  UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId()));
  if (!process) return;
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(process.get(), &counters, sizeof counters)) return;
  workingSet = counters.WorkingSetSize;
  pagefileUsage = counters.PagefileUsage;
}

// The structure belongs to the sender and is only valid during the message, so the
// bytes are converted here and nothing keeps a pointer into them.
std::wstring ReadCopyData(const COPYDATASTRUCT* data) {
  if (data == nullptr || data->lpData == nullptr || data->cbData == 0) return std::wstring();
  if (data->dwData != 3 && data->dwData != 4) return std::wstring();
  std::wstring text = FromAnsi(static_cast<const char*>(data->lpData), data->cbData);
  if (data->dwData == 3) {
    const size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos) text.resize(nul);
  }
  return text;
}

// SendMessageTimeout keeps the blocking delivery (our own window still handles the
// messages sent to it while we wait) but a requester that has stopped answering cannot
// hold the queue for more than kReplyTimeoutMs. A requester that is busy but alive gets
// the whole time: the system's idea of "hung" is no reason to drop its reply.
// The sender's own window still handles what is sent to it while it waits, and a receiver
// that has stopped answering holds it for one time-out at most.
CopyDataDelivery DeliverCopyData(HWND target, const std::wstring& text, HWND sender, UINT timeoutMs) {
  std::string bytes = ToAnsi(text);
  COPYDATASTRUCT cds{};
  cds.dwData = 4;
  cds.cbData = static_cast<DWORD>(bytes.size());
  cds.lpData = bytes.empty() ? nullptr : bytes.data();
  DWORD_PTR result = 0;
  SetLastError(0);
  CopyDataDelivery delivery;
  if (!SendMessageTimeoutA(target, WM_COPYDATA, reinterpret_cast<WPARAM>(sender), reinterpret_cast<LPARAM>(&cds),
                           SMTO_NORMAL | SMTO_ABORTIFHUNG, timeoutMs, &result)) {
    delivery.error = GetLastError();
    if (delivery.error == 0) delivery.error = ERROR_TIMEOUT;  // some systems leave the code unset on a time-out
    return delivery;
  }
  delivery.delivered = true;
  delivery.result = static_cast<LRESULT>(result);
  return delivery;
}

// WinINet's codes have their texts in wininet.dll, not in the system's table.
std::wstring SystemMessage(DWORD code) {
  wchar_t text[512] = {};
  DWORD length = 0;
  if (code >= INTERNET_ERROR_BASE && code <= INTERNET_ERROR_LAST) {
    if (HMODULE wininet = GetModuleHandleW(L"wininet.dll"))
      length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, wininet, code, 0, text,
                              512, nullptr);
  }
  if (length == 0)
    length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 512,
                            nullptr);
  std::wstring message(text, length);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
    message.pop_back();
  // The number always goes with it: messages differ between systems, the code does not.
  return message.empty() ? L"error " + ToDecimal(static_cast<int64_t>(code)) : message + L" (" + ToDecimal(static_cast<int64_t>(code)) + L")";
}

void CopyStringToBytes(unsigned char* bytes, size_t count, const std::wstring& text) {
  const std::string ansi = ToAnsi(text);
  for (size_t k = 0; k < count; ++k) bytes[k] = k < ansi.size() ? static_cast<unsigned char>(ansi[k]) : 0;
}

}  // namespace velmora
