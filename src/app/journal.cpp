#include "app/journal.h"

#include <wincrypt.h>

#include "app/journal_rules.h"
#include "support/components.h"
#include "support/debug_log.h"
#include "support/text.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {

void Log(const std::wstring& text) { WriteDebugLog(text, 5, kMarkNone); }

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

}  // namespace

uint64_t ProcessCreated(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (process == nullptr || !GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return fileutil::Ticks(created);
}

void IdentifyRequester(HWND window, uint32_t& processId, uint64_t& processCreated, std::wstring* program) {
  processId = 0;
  processCreated = 0;
  if (program) program->clear();
  DWORD pid = 0;
  if (window == nullptr || GetWindowThreadProcessId(window, &pid) == 0 || pid == 0) return;
  processId = pid;
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  processCreated = ProcessCreated(process.get());
  if (program && process) {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    if (QueryFullProcessImageNameW(process.get(), 0, path, &size)) program->assign(path, size);
  }
}

void ForgetJournal() {
  const std::wstring folder = JournalFolder();
  if (folder.empty()) return;
  for (const wchar_t* name : {kJournalFileName, kChangeRecordsFileName}) {
    WIN32_FIND_DATAW found{};
    UniqueFind search(FindFirstFileW((folder + L"\\" + name + L"*").c_str(), &found));
    if (!search) continue;
    do {
      DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(search.get(), &found));
  }
  RemoveDirectoryW(folder.c_str());
  RemoveDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str());
}

RequestJournal::RequestJournal() : store_(files_, &Log) {}

std::vector<DownloadRequest> RequestJournal::Open() {
  const std::wstring folder = JournalFolder();
  // Nothing was ever persisted: the first Persist=1 request makes the folder, so a user who
  // never asks for one finds nothing of ours in the profile.
  if (!folder.empty() && GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES &&
      GetLastError() != ERROR_ACCESS_DENIED) {
    files_.Locate(folder);
    return {};
  }
  if (folder.empty() || !fileutil::CreateFolder(folder)) {
    Log(L"Journal folder cannot be made - " + folder + L" - persisted requests are refused");
    return {};
  }
  files_.Locate(folder);
  return store_.Open(&Unseal);
}

bool RequestJournal::Add(DownloadRequest& request, std::wstring& why) {
  const uint64_t id = store_.NextId();
  request.JournalId = 0;
  const std::optional<std::string> body = AddBody(id, request, &Seal);
  if (!body) {
    why = L"the password cannot be sealed - " + SystemMessage(GetLastError());
    return false;
  }
  if (!store_.Add(id, *body, why)) return false;
  request.JournalId = id;
  return true;
}

void RequestJournal::Done(const DownloadRequest& request) {
  std::wstring why;
  if (!store_.Done(request.JournalId, why))
    Log(L"Journal could not note the end of " + MaskUrlSecrets(request.SourceFileName) + L" - " + why +
        L" - it may run again after a restart");
}

}  // namespace velmora
