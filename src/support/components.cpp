#include "components.h"

#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <vector>

#include "handles.h"
#include "paths.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace velmora {

StringUtility& StringUtility::Instance() {
  static StringUtility instance;
  return instance;
}

void StringUtility::HandOver(const AppInfo& app) { app_ = app; }

// A named mutex in the session's namespace: a second copy started by the same user
// sees it; the handle is never closed, so the claim lasts exactly as long as the process.
bool StringUtility::AlreadyRunning() {
  if (instanceMutex_ != nullptr) return false;
  HANDLE m = CreateMutexW(nullptr, FALSE, L"Local\\VelmoraSkytrove4.Instance");
  if (m == nullptr) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(m);
    return true;
  }
  instanceMutex_ = m;
  return false;
}

namespace registry {

namespace {
// The value's type and its bytes exactly as stored (no more: a short value is never read
// past its end).
bool Query(HKEY root, const std::wstring& key, const std::wstring& name, DWORD& type, std::vector<BYTE>& data) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) return false;
  UniqueKey k(raw);
  DWORD size = 0;
  if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  data.assign(size, 0);
  if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return false;
  data.resize(size);
  return true;
}

// A REG_DWORD of exactly four bytes; anything shorter or longer is not one.
bool AsNumber(DWORD type, const std::vector<BYTE>& data, int32_t& value) {
  if (type != REG_DWORD || data.size() != sizeof(DWORD)) return false;
  std::memcpy(&value, data.data(), sizeof value);
  return true;
}

// The environment's values in place of its "%NAME%" references, as the system does for
// a REG_EXPAND_SZ; the text as it is when that cannot be done.
std::wstring Expanded(const std::wstring& text) {
  std::wstring out(text.size() + 1, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), &out[0], static_cast<DWORD>(out.size()));
    if (needed == 0) return text;
    if (needed <= out.size()) {
      out.resize(needed - 1);
      return out;
    }
    out.assign(needed, L'\0');  // an environment changed between the calls asks again
  }
  return text;
}

// Text up to its first NUL or the end of the stored bytes, terminated or not; an odd
// last byte is no character. A REG_EXPAND_SZ ("%TEMP%\logs") is expanded.
bool AsText(DWORD type, const std::vector<BYTE>& data, std::wstring& text) {
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  text.assign(data.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) std::memcpy(&text[0], data.data(), text.size() * sizeof(wchar_t));
  const size_t nul = text.find(L'\0');
  if (nul != std::wstring::npos) text.resize(nul);
  if (type == REG_EXPAND_SZ) text = Expanded(text);
  return true;
}
}  // namespace

// A number stored as text is read as its leading number; other types and sizes give the
// fallback.
int32_t ReadNumber(HKEY root, const std::wstring& key, const std::wstring& name, int32_t fallback) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!Query(root, key, name, type, data)) return fallback;
  int32_t number = 0;
  if (AsNumber(type, data, number)) return number;
  std::wstring text;
  if (AsText(type, data, text)) return static_cast<int32_t>(std::wcstol(text.c_str(), nullptr, 10));
  return fallback;
}

std::wstring ReadText(HKEY root, const std::wstring& key, const std::wstring& name,
                      const std::wstring& fallback) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!Query(root, key, name, type, data)) return fallback;
  std::wstring text;
  if (AsText(type, data, text)) return text;
  int32_t number = 0;
  if (AsNumber(type, data, number)) return std::to_wstring(number);
  return fallback;
}

}  // namespace registry

namespace placement {

namespace {
const wchar_t* const kNames[] = {L"Left", L"Top", L"Right", L"Bottom", L"Maximised"};

// All five values from one root, or none: a placement is never pieced together from two.
bool ReadPlacement(HKEY root, const std::wstring& key, int32_t (&v)[5]) {
  for (int i = 0; i < 5; ++i) {
    v[i] = registry::ReadNumber(root, key, kNames[i], INT32_MIN);
    if (v[i] == INT32_MIN) return false;
  }
  return v[2] > v[0] && v[3] > v[1];
}
}  // namespace

// The normal (restored) rectangle is what is stored, so a window closed while maximised
// comes back maximised over the same normal rectangle. The user's own placement comes
// first; one kept for the machine (where earlier versions wrote it) still serves.
bool Restore(const std::wstring& key, HWND window) {
  int32_t v[5];
  if (!ReadPlacement(HKEY_CURRENT_USER, key, v) && !ReadPlacement(HKEY_LOCAL_MACHINE, key, v)) return false;
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  if (!GetWindowPlacement(window, &wp)) return false;
  wp.rcNormalPosition = RECT{v[0], v[1], v[2], v[3]};
  wp.showCmd = v[4] ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  wp.flags = 0;
  return SetWindowPlacement(window, &wp) != FALSE;
}

void Save(const std::wstring& key, HWND window) {
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  if (!GetWindowPlacement(window, &wp)) return;
  HKEY raw = nullptr;
  // Per user: a standard user cannot write the machine's part of the registry.
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                      nullptr) != ERROR_SUCCESS)
    return;
  UniqueKey k(raw);
  const RECT& r = wp.rcNormalPosition;
  const DWORD values[5] = {static_cast<DWORD>(r.left), static_cast<DWORD>(r.top),
                           static_cast<DWORD>(r.right), static_cast<DWORD>(r.bottom),
                           wp.showCmd == SW_SHOWMAXIMIZED ? 1u : 0u};
  for (int i = 0; i < 5; ++i)
    RegSetValueExW(k.get(), kNames[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&values[i]),
                   sizeof(DWORD));
}

void Forget(const std::wstring& key) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, &raw) == ERROR_SUCCESS) {
    UniqueKey k(raw);
    for (const wchar_t* name : kNames) RegDeleteValueW(k.get(), name);
  }
  auto empty = [](const std::wstring& path) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return false;
    UniqueKey k(opened);
    DWORD subkeys = 1, values = 1;
    return RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                            nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
  };
  // Up to the maker's key, never the top-level one ("SOFTWARE").
  for (std::wstring path = key; path.find(L'\\') != std::wstring::npos; path.resize(path.rfind(L'\\'))) {
    if (!empty(path) || RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str()) != ERROR_SUCCESS) return;
  }
}

}  // namespace placement

namespace systemcheck {

bool IsNtPlatform() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
#ifdef _MSC_VER
#pragma warning(suppress : 4996)
#endif
  if (!GetVersionExW(&info)) return true;  // every Windows that runs x64 code is NT
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// WinINet ships with Internet Explorer; its registry version tells the release. Newer
// systems keep the real version in "svcVersion" and an old-style one in "Version".
bool BrowserCheck(bool requireVersion4) {
  const wchar_t* key = L"SOFTWARE\\Microsoft\\Internet Explorer";
  std::wstring version = registry::ReadText(HKEY_LOCAL_MACHINE, key, L"svcVersion", L"");
  if (version.empty()) version = registry::ReadText(HKEY_LOCAL_MACHINE, key, L"Version", L"");
  if (version.empty()) return false;
  const long major = std::wcstol(version.c_str(), nullptr, 10);
  return requireVersion4 ? major >= 4 : major > 0;
}

}  // namespace systemcheck

namespace timing {

bool RunWaitingMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

// A high-resolution waitable timer wakes on time; a plain wait would cost a whole
// 15.6 ms scheduler tick on Windows for a 1 ms pause. Wine and older systems refuse the
// flag, and the ordinary timer is already precise there.
void Pause(double seconds) {
  HANDLE raw = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                      TIMER_ALL_ACCESS);
  if (raw == nullptr) raw = CreateWaitableTimerW(nullptr, TRUE, nullptr);
  UniqueHandle timer(raw);
  LARGE_INTEGER due{};
  due.QuadPart = -static_cast<LONGLONG>(seconds > 0 ? seconds * 1e7 : 0);
  if (!timer || !SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE)) {
    Sleep(static_cast<DWORD>(seconds * 1000));
    return;
  }
  HANDLE handles[1] = {timer.get()};
  for (;;) {
    if (!RunWaitingMessages()) return;
    const DWORD r = MsgWaitForMultipleObjectsEx(1, handles, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) return;
  }
}

}  // namespace timing

namespace fileutil {

bool CreateFolder(const std::wstring& folder) {
  std::wstring path = folder;
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
  attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

double FileLength(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() || !GetFileAttributesExW(ExtendedPath(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return static_cast<double>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

std::wstring WindowsFolder() {
  wchar_t buffer[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, buffer))) return buffer;
  GetWindowsDirectoryW(buffer, MAX_PATH);
  return buffer;
}

}  // namespace fileutil

}  // namespace velmora
