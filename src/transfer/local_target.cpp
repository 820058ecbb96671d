#include "transfer/local_target.h"

#include <windows.h>
#include <aclapi.h>

#include <string>
#include <vector>

#include "transfer/part_trust.h"
#include "transfer/resume_rules.h"

#include "support/components.h"
#include "support/debug_log.h"
#include "support/handles.h"
#include "support/paths.h"
#include "support/private_folder.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {

// The owners a file the agent made can have: the token's user, and the token's default
// owner for new objects (the Administrators group for an elevated process), which no one
// outside that group can give a file.
const std::vector<std::vector<BYTE>>& OwnSids() {
  static const std::vector<std::vector<BYTE>> own = [] {
    std::vector<std::vector<BYTE>> sids;
    for (const TOKEN_INFORMATION_CLASS what : {TokenUser, TokenOwner}) {
      std::vector<BYTE> sid = ProcessTokenSid(what);
      if (!sid.empty()) sids.push_back(std::move(sid));
    }
    return sids;
  }();
  return own;
}

Owner OwnerOf(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &raw) !=
      ERROR_SUCCESS)
    return Owner::Unknown;
  UniqueLocal descriptor(raw);
  const auto& own = OwnSids();
  if (owner == nullptr || !IsValidSid(owner) || own.empty()) return Owner::Unknown;
  for (const auto& sid : own)
    if (EqualSid(owner, const_cast<BYTE*>(sid.data()))) return Owner::User;
  return Owner::Other;
}

// What an open handle is, read from the handle itself; `id` names the file on its volume.
FoundFile Describe(HANDLE file, BY_HANDLE_FILE_INFORMATION& info, uint64_t& id) {
  FoundFile found;
  info = BY_HANDLE_FILE_INFORMATION{};
  id = 0;
  if (!GetFileInformationByHandle(file, &info)) return found;
  found.present = true;
  found.link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  found.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  found.names = info.nNumberOfLinks;
  found.owner = OwnerOf(file);
  id = (static_cast<uint64_t>(info.dwVolumeSerialNumber) << 48) ^
       ((static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
  return found;
}

// The name itself, not what a link under it points to.
FoundFile Inspect(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info, uint64_t& id) {
  const std::wstring extended = ExtendedPath(path);
  UniqueFile file(CreateFileW(extended.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file) return Describe(file.get(), info, id);
  // Not to be opened (another's, without access): what its name says is all there is.
  info = BY_HANDLE_FILE_INFORMATION{};
  id = 0;
  FoundFile found;
  const DWORD attributes = GetFileAttributesW(extended.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return found;
  found.present = true;
  found.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  found.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return found;
}

// A link goes as the link: a junction or folder link is removed as a folder, which
// leaves what it points to alone.
void RemoveFound(const std::wstring& path, const FoundFile& found) {
  if (!found.present) return;
  if (found.link && found.folder)
    RemoveDirectoryW(ExtendedPath(path).c_str());
  else
    DeleteFileW(ExtendedPath(path).c_str());
}

int64_t SizeOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

std::string ReadSmallFile(const std::wstring& path) {
  UniqueFile file(CreateFileW(ExtendedPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return std::string();
  std::string text(4096, '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) return std::string();
  text.resize(got);
  return text;
}

// Written aside, flushed, then renamed over the old record: a crash leaves the old record
// or the new one, never a mixture (a torn aside file is never read). Whatever is under the
// aside name goes first, as itself: a planted link there is never written through.
bool WriteRecord(const std::wstring& path, const std::string& text) {
  const std::wstring aside = ExtendedPath(path + L".new");
  DeleteFileW(aside.c_str());
  {
    UniqueFile file(CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !FlushFileBuffers(file.get()))
      return false;
  }
  return MoveFileExW(aside.c_str(), ExtendedPath(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
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
  if (discard_ || !resumable_ || !GetFileAttributesExW(ExtendedPath(path_).c_str(), GetFileExInfoStandard, &data) ||
      (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0))
    Remove();
}

void PartFile::Remove() {
  // The record first: a part without one is never continued.
  DeleteFileW(ExtendedPath(RecordPath(destination_)).c_str());
  DeleteFileW(ExtendedPath(path_).c_str());
}

int64_t PartFile::Kept(const std::wstring& source, std::wstring& validator) {
  validator.clear();
  checked_ = 0;
  if (path_.empty()) return 0;
  const std::wstring recordPath = RecordPath(destination_);
  BY_HANDLE_FILE_INFORMATION info{}, recordInfo{};
  uint64_t recordId = 0;
  const FoundFile part = Inspect(path_, info, checked_);
  const FoundFile record = Inspect(recordPath, recordInfo, recordId);
  switch (CheckPart(part, record)) {
    case PartCheck::Absent:
      RemoveFound(recordPath, record);  // left by a success that ended before it went
      return 0;
    case PartCheck::Folder:
      return 0;
    case PartCheck::Replace:
      WriteDebugLog(L"Dropping " + path_ + L" - not the user's own file", 5, kMarkNone);
      RemoveFound(recordPath, record);
      RemoveFound(path_, part);
      return 0;
    case PartCheck::Examine:
      break;
  }
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const int64_t age = (static_cast<int64_t>(fileutil::Ticks(now)) -
                       static_cast<int64_t>(fileutil::Ticks(info.ftLastWriteTime))) / 10000000;
  ResumeRecord kept;
  const bool read = ParseRecord(ReadSmallFile(recordPath), kept);
  const int64_t size = SizeOf(info);
  if (!PartUsable(read, kept, source, size, age)) {
    if (size > 0)
      WriteDebugLog(L"Dropping " + path_ + L" - not kept for this source and content", 10, kMarkNone);
    Remove();
    return 0;
  }
  validator = kept.validator;
  resumable_ = true;
  return size;
}

UniqueFile PartFile::Open(DWORD share) {
  UniqueFile file(CreateFileW(ExtendedPath(path_).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return file;
  BY_HANDLE_FILE_INFORMATION info{};
  uint64_t id = 0;
  const FoundFile opened = Describe(file.get(), info, id);
  if (!OpenedPartWritable(opened, resumable_, id == checked_)) {
    WriteDebugLog(L"Not writing into " + path_ + L" - not the user's own file", 5, kMarkNone);
    file.reset();
    SetLastError(ERROR_ACCESS_DENIED);
  }
  return file;
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
      DeleteFileW(ExtendedPath(RecordPath(destination_)).c_str());
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
