#include "app/journal.h"

#include <shlobj.h>
#include <wincrypt.h>

#include "app/journal_rules.h"
#include "support/components.h"
#include "support/debug_log.h"
#include "support/text.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {

void Log(const std::wstring& text) { WriteDebugLog(text, 5, kMarkNone); }

std::wstring JournalFolder() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) return std::wstring();
  return std::wstring(path) + L"\\Velmora\\Skytrove4";
}

// Sealed for the user who runs the agent: another user, or the same user on another
// machine, cannot read them back.
bool Seal(const std::string& in, std::string& out) {
  DATA_BLOB clear{static_cast<DWORD>(in.size()), reinterpret_cast<BYTE*>(const_cast<char*>(in.data()))};
  DATA_BLOB sealed{};
  if (!CryptProtectData(&clear, L"Velmora Skytrove v4 queue", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                        &sealed))
    return false;
  UniqueLocal owner(sealed.pbData);
  out.assign(reinterpret_cast<const char*>(sealed.pbData), sealed.cbData);
  return true;
}

bool Unseal(const std::string& in, std::string& out) {
  DATA_BLOB sealed{static_cast<DWORD>(in.size()), reinterpret_cast<BYTE*>(const_cast<char*>(in.data()))};
  DATA_BLOB clear{};
  if (!CryptUnprotectData(&sealed, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &clear)) return false;
  UniqueLocal owner(clear.pbData);
  out.assign(reinterpret_cast<const char*>(clear.pbData), clear.cbData);
  SecureZeroMemory(clear.pbData, clear.cbData);
  return true;
}

bool ReadWhole(const std::wstring& path, std::string& bytes, DWORD& error) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) {
    error = GetLastError();
    return false;
  }
  char buffer[65536];
  DWORD got = 0;
  for (;;) {
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      error = GetLastError();
      return false;
    }
    if (got == 0) return true;
    bytes.append(buffer, got);
  }
}

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

void IdentifyRequester(HWND window, uint32_t& processId, uint64_t& processCreated, std::wstring* program) {
  processId = 0;
  processCreated = 0;
  if (program) program->clear();
  DWORD pid = 0;
  if (window == nullptr || GetWindowThreadProcessId(window, &pid) == 0 || pid == 0) return;
  processId = pid;
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  FILETIME created{}, exited{}, kernel{}, user{};
  if (process && GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
    processCreated = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  if (program && process) {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    if (QueryFullProcessImageNameW(process.get(), 0, path, &size)) program->assign(path, size);
  }
}

void ForgetJournal() {
  const std::wstring folder = JournalFolder();
  if (folder.empty()) return;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder + L"\\" + kJournalFileName + L"*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
  RemoveDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str());
}

std::vector<DownloadRequest> RequestJournal::Open() {
  std::vector<DownloadRequest> kept;
  folder_ = JournalFolder();
  // Nothing was ever persisted: the first Persist=1 request makes the folder, so a user who
  // never asks for one finds nothing of ours in the profile.
  if (!folder_.empty() && GetFileAttributesW(folder_.c_str()) == INVALID_FILE_ATTRIBUTES &&
      GetLastError() != ERROR_ACCESS_DENIED) {
    path_ = folder_ + L"\\" + kJournalFileName;
    opened_ = true;
    return kept;
  }
  if (folder_.empty() || !fileutil::CreateFolder(folder_)) {
    Log(L"Journal folder cannot be made - " + folder_ + L" - persisted requests are refused");
    return kept;
  }
  path_ = folder_ + L"\\" + kJournalFileName;
  std::string bytes;
  DWORD error = 0;
  bool damaged = false;
  if (!ReadWhole(path_, bytes, error) && error != ERROR_FILE_NOT_FOUND) {
    Log(L"Journal unreadable - " + SystemMessage(error));
    bytes.clear();
    damaged = true;
  }
  JournalContents contents = ReadJournal(bytes);
  lastId_ = contents.lastId;
  if (contents.problem != JournalProblem::None) {
    Log(L"Journal damaged - " + DescribeProblem(contents) + L" - keeping the " +
        ToDecimal(static_cast<int64_t>(contents.live.size())) + L" requests before it");
    damaged = true;
  }
  for (JournalEntry& entry : contents.live) {
    if (!UnsealEntry(entry, &Unseal)) {
      Log(L"Journal request " + ToDecimal(static_cast<int64_t>(entry.id)) + L" cannot be unsealed - " +
          MaskUrlPasswords(entry.request.SourceFileName) + L" - left out");
      damaged = true;
      continue;
    }
    live_[entry.id] = entry.record;
    kept.push_back(std::move(entry.request));
  }
  if (damaged) MoveAside(path_);
  opened_ = true;
  std::wstring why;
  if (!Rewrite(why)) Log(L"Journal cannot be written - " + why + L" - persisted requests are refused");
  return kept;
}

void RequestJournal::MoveAside(const std::wstring& what) {
  const std::wstring aside = what + L"." + Stamp() + L".damaged";
  if (MoveFileExW(what.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    Log(L"Journal moved aside to " + aside);
  else
    Log(L"Journal could not be moved aside - " + SystemMessage(GetLastError()));
}

// Written beside the journal and flushed, then put in its place by one rename: a kill at
// any point leaves either the old journal or the new one, each whole.
bool RequestJournal::Rewrite(std::wstring& why) {
  file_.reset();
  if (path_.empty() || !fileutil::CreateFolder(folder_)) {
    why = L"no folder " + folder_;
    return false;
  }
  const std::wstring fresh = path_ + L".new";
  std::string bytes = JournalHeader();
  for (const auto& live : live_) bytes += live.second;
  {
    UniqueFile out(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!out || !WriteAll(out.get(), bytes)) {
      why = SystemMessage(GetLastError());
      out.reset();
      DeleteFileW(fresh.c_str());
      return false;
    }
  }
  if (!MoveFileExW(fresh.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    why = SystemMessage(GetLastError());
    DeleteFileW(fresh.c_str());
    return false;
  }
  file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file_) {
    why = SystemMessage(GetLastError());
    return false;
  }
  size_ = bytes.size();
  return true;
}

bool RequestJournal::EnsureOpen(std::wstring& why) {
  if (file_) return true;
  if (!opened_) {
    // The folder could not be made at start; the journal starts afresh once it can be.
    folder_ = JournalFolder();
    path_ = folder_.empty() ? std::wstring() : folder_ + L"\\" + kJournalFileName;
  }
  return Rewrite(why);
}

bool RequestJournal::Append(const std::string& record, std::wstring& why) {
  if (!EnsureOpen(why)) return false;
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(size_);
  if (SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN) && WriteAll(file_.get(), record)) {
    size_ += record.size();
    return true;
  }
  why = SystemMessage(GetLastError());
  // A record cut short by a full disk must not stand in front of the next one: cut it
  // off, or start a fresh file for the next write.
  if (!SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.get())) file_.reset();
  return false;
}

bool RequestJournal::Add(DownloadRequest& request, std::wstring& why) {
  const uint64_t id = lastId_ + 1;
  request.JournalId = 0;
  const std::optional<std::string> body = AddBody(id, request, &Seal);
  if (!body) {
    why = L"the password cannot be sealed - " + SystemMessage(GetLastError());
    return false;
  }
  const std::string record = JournalRecord(*body);
  if (!Append(record, why)) return false;
  lastId_ = id;
  live_[id] = record;
  request.JournalId = id;
  return true;
}

void RequestJournal::Done(const DownloadRequest& request) {
  const auto it = live_.find(request.JournalId);
  if (request.JournalId == 0 || it == live_.end()) return;
  live_.erase(it);
  std::wstring why;
  // Nothing left to do: a fresh, empty journal instead of one that only grows.
  const bool written = live_.empty() ? Rewrite(why) : Append(JournalRecord(DoneBody(request.JournalId)), why);
  if (!written)
    Log(L"Journal could not note the end of " + MaskUrlPasswords(request.SourceFileName) + L" - " + why +
        L" - it may run again after a restart");
}

}  // namespace velmora
