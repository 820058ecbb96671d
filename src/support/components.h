// Our own small versions of the shared utility components: exactly the operations the
// agent calls, each one process-wide.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "debug_log.h"

namespace velmora {

inline constexpr wchar_t kApplicationTitle[] = L"Velmora Skytrove v4";
inline constexpr wchar_t kVelmoraKey[] = L"SOFTWARE\\Velmora";
inline constexpr wchar_t kPlacementKey[] = L"SOFTWARE\\Velmora\\Utils\\Skytrove4";

struct AppInfo {
  std::wstring exePath;      // full path of the executable
  std::wstring exeBaseName;  // file name without folder and extension
  std::wstring title;        // application title
  std::wstring productName;  // product name of the version information
};

// String utility component: the process-wide settings and the instance check.
class StringUtility {
 public:
  static StringUtility& Instance();
  void HandOver(const AppInfo& app);
  const AppInfo& App() const { return app_; }
  SharedSettings& Settings() { return settings_; }
  // True when another instance already runs. The first caller keeps the claim for the
  // life of the process.
  bool AlreadyRunning();

 private:
  AppInfo app_;
  SharedSettings settings_;
  HANDLE instanceMutex_ = nullptr;  // held until the process ends, on purpose
};

namespace registry {
int32_t ReadNumber(HKEY root, const std::wstring& key, const std::wstring& name, int32_t fallback);
std::wstring ReadText(HKEY root, const std::wstring& key, const std::wstring& name,
                      const std::wstring& fallback);
}  // namespace registry

namespace placement {
// Applies the placement stored under `key` in HKEY_CURRENT_USER, else in
// HKEY_LOCAL_MACHINE; returns false (window untouched) when neither holds one. Save
// writes it under HKEY_CURRENT_USER.
bool Restore(const std::wstring& key, HWND window);
void Save(const std::wstring& key, HWND window);
// Removes what Save wrote for this user; the key, and the keys above it, go as well when
// nothing else is left in them. The machine's part is not touched.
void Forget(const std::wstring& key);
}  // namespace placement

namespace systemcheck {
bool IsNtPlatform();
// True when Internet Explorer (WinINet's home) of version 4 or later is installed.
bool BrowserCheck(bool requireVersion4);
}  // namespace systemcheck

namespace timing {
// Runs the messages waiting for this thread once. Returns false when it met a WM_QUIT,
// which is put back for the main loop.
bool RunWaitingMessages();
// Waits about `seconds`, running the thread's window messages meanwhile. Returns early
// only when the message loop is asked to quit (the WM_QUIT is left for the main loop).
void Pause(double seconds);
}  // namespace timing

namespace fileutil {
// A FILETIME as one number of 100 ns ticks.
inline uint64_t Ticks(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }
bool CreateFolder(const std::wstring& folder);
// Length in bytes; negative when the file does not exist.
double FileLength(const std::wstring& path);
std::wstring WindowsFolder();
}  // namespace fileutil

}  // namespace velmora
