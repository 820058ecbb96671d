#include "transfer/change_check.h"

#include <windows.h>

#include "support/components.h"
#include "support/debug_log.h"
#include "support/handles.h"
#include "support/paths.h"
#include "support/velmora_general.h"
#include "transfer/resume_rules.h"

namespace velmora {

namespace {

void Log(const std::wstring& text) { WriteDebugLog(text, 10, kMarkNone); }

bool DestinationFacts(const std::wstring& path, int64_t& size, uint64_t& writeTime) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(ExtendedPath(path).c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  writeTime = fileutil::Ticks(data.ftLastWriteTime);
  return true;
}

}  // namespace

std::optional<ChangeRecord> UsableChangeRecord(TransferHost& host, const std::wstring& source,
                                               const std::wstring& destination, const std::wstring& sha256) {
  if (destination.empty()) return std::nullopt;
  std::optional<ChangeRecord> record = host.FindChangeRecord(destination);
  int64_t size = -1;
  uint64_t writeTime = 0;
  if (!record || !DestinationFacts(destination, size, writeTime) ||
      !RecordHolds(*record, SourceForRecord(source), sha256, size, writeTime))
    return std::nullopt;
  return record;
}

bool StillAsPlaced(const ChangeRecord& record) {
  int64_t size = -1;
  uint64_t writeTime = 0;
  return DestinationFacts(record.destination, size, writeTime) && size == record.size && writeTime == record.writeTime;
}

void AfterPlacing(TransferHost& host, ChangeRecord record, uint64_t serverTime, bool keepTime, bool remember) {
  if (keepTime && serverTime != 0) {
    UniqueFile file(CreateFileW(ExtendedPath(record.destination).c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    FILETIME time{static_cast<DWORD>(serverTime), static_cast<DWORD>(serverTime >> 32)};
    if (!file || !SetFileTime(file.get(), nullptr, nullptr, &time))
      Log(L"Server time not set on " + record.destination + L" - " + SystemMessage(GetLastError()));
  }
  if (!remember) return;
  // The file as the next request will find it: its time is the one just set, if it was.
  if (!DestinationFacts(record.destination, record.size, record.writeTime)) return;
  host.KeepChangeRecord(record);
}

void KeptUnchanged(TransferHost& host, const ChangeRecord& record) {
  Log(L"Unchanged - " + record.destination + L" kept");
  host.KeepChangeRecord(record);
}

}  // namespace velmora
