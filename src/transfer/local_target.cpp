#include "transfer/local_target.h"

#include <windows.h>

#include "support/components.h"
#include "support/handles.h"
#include "support/paths.h"

namespace velmora {

bool DestinationWritable(const std::wstring& destination) {
  if (fileutil::FileLength(destination) < 0) return true;
  UniqueFile probe(CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
  return static_cast<bool>(probe);
}

// In the destination's own folder, so the final rename never crosses volumes.
std::wstring TemporaryBeside(const std::wstring& destination) {
  if (destination.empty()) return std::wstring();
  std::wstring folder = FolderPart(destination);
  if (folder.empty()) folder = L".";
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  wchar_t name[MAX_PATH + 1] = {};
  if (GetTempFileNameW(folder.c_str(), L"vsk", 0, name) == 0) return std::wstring();
  return name;
}

bool PutInPlace(const std::wstring& temporary, const std::wstring& destination) {
  return MoveFileExW(temporary.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != FALSE;
}

TemporaryFile::~TemporaryFile() {
  if (!path_.empty()) DeleteFileW(path_.c_str());
}

bool TemporaryFile::PutInPlace(const std::wstring& destination) {
  if (!velmora::PutInPlace(path_, destination)) return false;
  path_.clear();
  return true;
}

}  // namespace velmora
