#include "support/placement.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "support/debug_log.h"
#include "support/handles.h"
#include "support/paths.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {

// GetTempFileNameW gives no name in a folder longer than MAX_PATH - 14 characters (Wine's
// writes past the MAX_PATH buffer instead), although the file system takes such folders;
// there the name is made here, with the same prefix and a number drawn until a new file
// can be created under it.
std::wstring OwnTemporaryName(const std::wstring& folder) {
  std::wstring base = folder;
  if (!base.empty() && base.back() != L'\\' && base.back() != L'/') base += L'\\';
  DWORD number = GetTickCount() ^ (GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < 0x10000; ++attempt, ++number) {
    wchar_t name[16] = {};
    std::swprintf(name, 16, L"vsk%04X.tmp", static_cast<unsigned>(number & 0xFFFF));
    const std::wstring path = base + name;
    UniqueFile created(
        CreateFileW(ExtendedPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (created) return path;
    // Only a taken name is worth another number; a missing or closed folder is not.
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return std::wstring();
  }
  return std::wstring();
}

}  // namespace

bool DestinationWritable(const std::wstring& destination) {
  const DWORD attributes = GetFileAttributesW(ExtendedPath(destination).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // a new file
  // A folder of that name would be found out only after the whole transfer.
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  UniqueFile probe(CreateFileW(ExtendedPath(destination).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
  return static_cast<bool>(probe);
}

// In the destination's own folder, so the final rename never crosses volumes.
std::wstring TemporaryBeside(const std::wstring& destination) {
  if (destination.empty()) return std::wstring();
  std::wstring folder = FolderPart(destination);
  if (folder.empty()) folder = L".";
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  // The service writes into a MAX_PATH buffer and is not asked where it cannot answer.
  if (folder.size() > MAX_PATH - 14) return OwnTemporaryName(folder);
  wchar_t name[MAX_PATH + 1] = {};
  if (GetTempFileNameW(folder.c_str(), L"vsk", 0, name) == 0) return std::wstring();
  return name;
}

namespace {

// FlushFileBuffers wants a handle that may write; the sharing leaves any reader, or a
// worker still holding its own handle, undisturbed.
bool Flushed(const std::wstring& path, const PlacementCalls& calls) {
  UniqueFile file(CreateFileW(ExtendedPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && calls.flush(file.get()) != FALSE;
}

// An existing destination is replaced, not overwritten by a rename: ReplaceFileW keeps
// what belongs to the file rather than to its bytes (attributes, creation time, security,
// streams). Where it is a mere rename (Wine), the attributes are carried over here. A
// rename is left for a new file, and for volumes where ReplaceFileW does not work or
// stopped half-way with the new file still under its temporary name.
// The new bytes reach the disk before any name changes, or a crash just after could leave
// an empty or torn file where the old one was; the renames write through, and after
// ReplaceFileW (which has no write-through of its own) the file under its new name is
// flushed as well.
bool Replace(const std::wstring& finishedName, const std::wstring& destinationName, const PlacementCalls& calls) {
  if (!Flushed(finishedName, calls)) return false;
  const std::wstring finished = ExtendedPath(finishedName);
  const std::wstring destination = ExtendedPath(destinationName);
  const DWORD move = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
  const DWORD attributes = GetFileAttributesW(destination.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return calls.move(finished.c_str(), destination.c_str(), move) != FALSE;
  if (calls.replace(destination.c_str(), finished.c_str(), nullptr,
                    REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr)) {
    // Only what the user set; the archive bit rightly says the file changed.
    const DWORD userSet = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD now = GetFileAttributesW(destination.c_str());
    if (now != INVALID_FILE_ATTRIBUTES && (now & userSet) != (attributes & userSet))
      SetFileAttributesW(destination.c_str(), (now & ~userSet) | (attributes & userSet));
    // The new bytes are on the disk already and the destination holds them: a failed flush
    // of its name is said, not reported as a failed placing (the old file is gone).
    if (!Flushed(destinationName, calls))
      WriteDebugLog(L"Put " + destinationName + L" in place, but it could not be flushed under its name", 5, kMarkNone);
    return true;
  }
  switch (GetLastError()) {
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:    // the old file is gone, the new one not yet renamed
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:  // the old file moved aside, the new one not renamed
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
      return calls.move(finished.c_str(), destination.c_str(), move) != FALSE;
    default:
      return false;
  }
}

}  // namespace

// ReplaceFileW without a backup name that cannot rename the new file has already deleted
// the old one; when the rename that follows fails too, the finished file is the only copy
// of either. Whenever a failed placing leaves no destination to be seen, the finished file
// stays where it is and the log names it, whatever else would have removed it; the
// transfer still fails.
Placement PutInPlace(const std::wstring& finished, const std::wstring& destination, const PlacementCalls& calls) {
  if (Replace(finished, destination, calls)) return Placement::Placed;
  if (GetFileAttributesW(ExtendedPath(destination).c_str()) != INVALID_FILE_ATTRIBUTES ||
      GetFileAttributesW(ExtendedPath(finished).c_str()) == INVALID_FILE_ATTRIBUTES)
    return Placement::Failed;
  WriteDebugLog(L"Kept " + finished + L", the only copy of the new " + destination + L": it could not be put in place",
                5, kMarkNone);
  return Placement::OnlyCopy;
}

TemporaryFile::~TemporaryFile() {
  if (!path_.empty()) DeleteFileW(ExtendedPath(path_).c_str());
}

bool TemporaryFile::PutInPlace(const std::wstring& destination, const PlacementCalls& calls) {
  const Placement placed = velmora::PutInPlace(path_, destination, calls);
  if (placed != Placement::Failed) path_.clear();  // in place, or the only copy: not ours to delete
  return placed == Placement::Placed;
}

}  // namespace velmora
