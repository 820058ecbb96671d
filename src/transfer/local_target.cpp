#include "transfer/local_target.h"

#include <windows.h>

#include <string>

#include "transfer/resume_rules.h"

#include "support/debug_log.h"
#include "support/handles.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {

int64_t SizeOf(const WIN32_FILE_ATTRIBUTE_DATA& data) {
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string ReadSmallFile(const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::string();
  std::string text(4096, '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) return std::string();
  text.resize(got);
  return text;
}

// Written aside, flushed, then renamed over the old record: a crash leaves the old record
// or the new one, never a mixture (a torn aside file is never read).
bool WriteRecord(const std::wstring& path, const std::string& text) {
  const std::wstring aside = path + L".new";
  {
    UniqueFile file(CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !FlushFileBuffers(file.get()))
      return false;
  }
  return MoveFileExW(aside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool Truncate(HANDLE file) {
  LARGE_INTEGER zero{};
  return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

}  // namespace

PartFile::PartFile(std::wstring destination)
    : destination_(std::move(destination)), path_(destination_.empty() ? std::wstring() : PartPath(destination_)) {}

PartFile::~PartFile() {
  if (path_.empty() || onlyCopy_) return;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (discard_ || !resumable_ || !GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data) || SizeOf(data) == 0) Remove();
}

void PartFile::Remove() {
  // The record first: a part without one is never continued.
  DeleteFileW(RecordPath(destination_).c_str());
  DeleteFileW(path_.c_str());
}

int64_t PartFile::Kept(const std::wstring& source, std::wstring& validator) {
  validator.clear();
  if (path_.empty()) return 0;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) {
    DeleteFileW(RecordPath(destination_).c_str());  // left by a success that ended before it went
    return 0;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  const int64_t age = (ticks(now) - ticks(data.ftLastWriteTime)) / 10000000;
  ResumeRecord record;
  const bool read = ParseRecord(ReadSmallFile(RecordPath(destination_)), record);
  const int64_t size = SizeOf(data);
  if (!PartUsable(read, record, source, size, age)) {
    if (size > 0)
      WriteDebugLog(L"Dropping " + path_ + L" - not kept for this source and content", 10, kMarkNone);
    Remove();
    return 0;
  }
  validator = record.validator;
  resumable_ = true;
  return size;
}

bool PartFile::Empty(HANDLE file) {
  resumable_ = false;
  return Truncate(file);
}

bool PartFile::StartOver(HANDLE file, const std::wstring& source, const std::wstring& validator) {
  resumable_ = false;
  if (!Truncate(file) || !WriteRecord(RecordPath(destination_), ComposeRecord({SourceForRecord(source), validator})))
    return false;
  resumable_ = !validator.empty();
  return true;
}

// A part that is the only copy of either file is kept whatever its record says.
bool PartFile::PutInPlace(const PlacementCalls& calls) {
  switch (velmora::PutInPlace(path_, destination_, calls)) {
    case Placement::Placed:
      DeleteFileW(RecordPath(destination_).c_str());
      return true;
    case Placement::OnlyCopy:
      discard_ = false;
      onlyCopy_ = true;
      return false;
    case Placement::Failed:
      break;
  }
  return false;
}

}  // namespace velmora
