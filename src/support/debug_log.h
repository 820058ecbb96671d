// The debug log: which lines are written, how deep they are indented, where they go and
// how they are laid out. The operating system is reached only through LogEnvironment,
// so the rules run (and are tested) without windows.h.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// Nesting marks of WriteDebugLog.
enum LogMark : int { kMarkNone = 0, kMarkStart = 1, kMarkEnd = 2, kMarkReset = 3 };

struct LogTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, hundredths = 0;
};

// Process-wide settings held by the string utility component.
struct SharedSettings {
  int32_t debugLevel = 0;    // 0 nothing, -1 everything, else the highest line level
  std::wstring debugFolder;  // from "DebugPath", with a trailing backslash; empty until set
};

class LogEnvironment {
 public:
  virtual ~LogEnvironment() = default;
  virtual std::wstring ReadDebugPath() = 0;          // registry "DebugPath", "" when missing
  virtual std::wstring WindowsFolder() = 0;          // e.g. C:\windows
  // True when it exists after. `ownersOnly`: one the agent makes is closed to other users
  // (the default folder: nobody chose where the log goes, so nobody opened it to others).
  virtual bool CreateFolder(const std::wstring& folder, bool ownersOnly) = 0;
  virtual void ShowFolderError(const std::wstring& message) = 0;
  virtual LogTime Now() = 0;
  virtual std::wstring TimeSeparator() = 0;
  virtual std::wstring DecimalSeparator() = 0;
  virtual bool IsNtPlatform() = 0;
  virtual void ProcessMemory(uint64_t& workingSet, uint64_t& pagefileUsage) = 0;
  virtual std::wstring ExecutableBaseName() = 0;
  virtual void AppendLine(const std::wstring& path, const std::wstring& lineWithCrLf) = 0;
};

// Pure layout helpers, exposed for tests.
std::wstring LogFileName(const std::wstring& folder, const std::wstring& exeBaseName,
                         const LogTime& t);
std::wstring LogTimeStamp(const LogTime& t, const std::wstring& timeSep, const std::wstring& decimalSep);
// The line as written: the text made safe (LogText) after the stamp and indentation.
std::wstring LogLine(const std::wstring& stamp, int depth, const std::wstring& text);
// What of a line's text may reach the file: URL passwords masked, and every CR or LF
// (from a server reply or a request field) shown as "<CR>" or "<LF>", so that outside
// text can never start a line of its own.
std::wstring LogText(const std::wstring& text);

class DebugLog {
 public:
  DebugLog(SharedSettings& settings, LogEnvironment& env) : settings_(settings), env_(env) {}
  void Write(const std::wstring& text, int level, int mark);
  int Depth() const { return depth_; }

 private:
  std::wstring Folder(bool& isDefault);

  SharedSettings& settings_;
  LogEnvironment& env_;
  int depth_ = 0;
  bool folderLookedUp_ = false;
};

}  // namespace velmora
