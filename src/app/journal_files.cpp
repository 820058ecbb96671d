#include "app/journal_files.h"

#include <shlobj.h>

#include "support/components.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {

bool WriteAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size() && FlushFileBuffers(file);
}

std::wstring Stamp() {
  SYSTEMTIME t{};
  GetSystemTime(&t);
  wchar_t text[32] = {};
  swprintf(text, 32, L"%04u%02u%02u-%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  return text;
}

}  // namespace

std::wstring JournalFolder() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) return std::wstring();
  return std::wstring(path) + L"\\Velmora\\Skytrove4";
}

void JournalDiskFiles::Locate(const std::wstring& folder) {
  folder_ = folder;
  path_ = folder + L"\\" + name_;
}

// Read beside this object's own handle for appending, which writes.
JournalFiles::Read JournalDiskFiles::ReadJournal(std::string& bytes, std::wstring& why) {
  UniqueFile file(
      CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Read::Missing;
    why = SystemMessage(error);
    return Read::Failed;
  }
  char buffer[65536];
  DWORD got = 0;
  for (;;) {
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      why = SystemMessage(GetLastError());
      return Read::Failed;
    }
    if (got == 0) return Read::Whole;
    bytes.append(buffer, got);
  }
}

bool JournalDiskFiles::ReadPart(uint64_t offset, size_t length, std::string& bytes, std::wstring& why) {
  UniqueFile file(
      CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  bytes.assign(length, '\0');
  DWORD got = 0;
  if (!file || !SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
      !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(length), &got, nullptr) || got != length) {
    why = SystemMessage(GetLastError());
    return false;
  }
  return true;
}

// CopyFile leaves the copy to the cache: it is flushed before the journal may be replaced.
bool JournalDiskFiles::CopyAside(std::wstring& aside, std::wstring& why) {
  aside = path_ + L"." + Stamp() + L".damaged";
  if (CopyFileW(path_.c_str(), aside.c_str(), FALSE)) {
    UniqueFile copy(CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (copy && FlushFileBuffers(copy.get())) return true;
  }
  why = SystemMessage(GetLastError());
  return false;
}

bool JournalDiskFiles::WriteFresh(const std::string& bytes, std::wstring& why) {
  file_.reset();
  // The folder could not be made at start, or nothing was persisted yet.
  if (path_.empty()) {
    const std::wstring folder = JournalFolder();
    if (!folder.empty()) Locate(folder);
  }
  if (path_.empty() || !fileutil::CreateFolder(folder_)) {
    why = L"no folder " + folder_;
    return false;
  }
  UniqueFile out(CreateFileW((path_ + L".new").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!out || !WriteAll(out.get(), bytes)) {
    why = SystemMessage(GetLastError());
    return false;
  }
  fresh_ = bytes.size();
  return true;
}

bool JournalDiskFiles::PutFreshInPlace(std::wstring& why) {
  if (!MoveFileExW((path_ + L".new").c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    why = SystemMessage(GetLastError());
    return false;
  }
  file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file_) {
    why = SystemMessage(GetLastError());
    return false;
  }
  return true;
}

void JournalDiskFiles::DeleteFresh() {
  if (!path_.empty()) DeleteFileW((path_ + L".new").c_str());
}

bool JournalDiskFiles::Append(const std::string& record, std::wstring& why) {
  // A file read whole at start and not written afresh since is continued where it ends.
  if (!file_ && !path_.empty()) {
    file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    LARGE_INTEGER size{};
    if (file_ && GetFileSizeEx(file_.get(), &size)) fresh_ = static_cast<uint64_t>(size.QuadPart);
    else file_.reset();
  }
  if (!file_) {
    why = SystemMessage(ERROR_INVALID_HANDLE);
    return false;
  }
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(fresh_);
  if (SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN) && WriteAll(file_.get(), record)) {
    fresh_ += record.size();
    return true;
  }
  why = SystemMessage(GetLastError());
  // A record cut short by a full disk must not stand in front of the next one, should the
  // agent be killed before it writes the journal afresh.
  if (!SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.get())) file_.reset();
  return false;
}

}  // namespace velmora
