#include "debug_log.h"

#include "text.h"

namespace velmora {

namespace {
std::wstring TwoDigits(int v) {
  std::wstring s = std::to_wstring(v < 0 ? 0 : v % 100);
  return s.size() < 2 ? L"0" + s : s;
}
}  // namespace

std::wstring LogFileName(const std::wstring& folder, const std::wstring& exeBaseName,
                         const LogTime& t) {
  std::wstring name = folder;
  if (name.empty() || name.back() != L'\\') name += L'\\';
  std::wstring year = std::to_wstring(t.year);
  if (year.size() < 4) year.insert(0, 4 - year.size(), L'0');
  return name + exeBaseName + L"." + year + TwoDigits(t.month) + TwoDigits(t.day) + L".log";
}

std::wstring LogTimeStamp(const LogTime& t, const std::wstring& timeSep, const std::wstring& decimalSep) {
  return TwoDigits(t.hour) + timeSep + TwoDigits(t.minute) + timeSep + TwoDigits(t.second) +
         decimalSep + TwoDigits(t.hundredths);
}

std::wstring LogText(const std::wstring& text) { return LineBreaksShown(MaskUrlSecrets(text), false); }

std::wstring LogLine(const std::wstring& stamp, int depth, const std::wstring& text) {
  std::wstring line = stamp;
  line.append(static_cast<size_t>(depth > 0 ? depth : 0) * 4, L' ');
  line += L' ';
  line += LogText(text);
  return line;
}

// The registry is asked once per process; the drive's DebugFiles default is worked out
// again on every call, so a folder that appears later is still honoured.
std::wstring DebugLog::Folder(bool& isDefault) {
  std::wstring folder = settings_.debugFolder;
  if (folder.empty() && !folderLookedUp_) {
    folderLookedUp_ = true;
    std::wstring path = env_.ReadDebugPath();
    if (!path.empty()) {
      if (path.back() != L'\\') path += L'\\';
      folder = path;
      settings_.debugFolder = path;
    }
  }
  isDefault = folder.empty();
  if (isDefault) folder = env_.WindowsFolder().substr(0, 2) + L"\\DebugFiles";
  return folder;
}

void DebugLog::Write(const std::wstring& text, int level, int mark) {
  const int configured = settings_.debugLevel;
  if (configured == 0) return;
  if (configured != -1) {
    if (level == -1) level = 5;
    if (level > configured) return;
  }
  if (mark == kMarkEnd) {
    if (--depth_ < 0) depth_ = 0;
  } else if (mark == kMarkReset) {
    depth_ = 0;
  }

  bool isDefault = false;
  const std::wstring folder = Folder(isDefault);
  if (!env_.CreateFolder(folder, isDefault)) {
    env_.ShowFolderError(L"The Debug Files folder could not be created in '" + folder + L"'!");
    return;
  }

  const LogTime now = env_.Now();
  std::wstring stamp = LogTimeStamp(now, env_.TimeSeparator(), env_.DecimalSeparator());
  if (configured >= 10 && env_.IsNtPlatform()) {
    uint64_t workingSet = 0, pagefile = 0;
    env_.ProcessMemory(workingSet, pagefile);
    stamp += L' ' + PadLeft(std::to_wstring(workingSet), 10) + L' ' + PadLeft(std::to_wstring(pagefile), 10);
  }
  env_.AppendLine(LogFileName(folder, env_.ExecutableBaseName(), now),
                  LogLine(stamp, depth_, text) + L"\r\n");
  if (mark == kMarkStart) ++depth_;
}

}  // namespace velmora
