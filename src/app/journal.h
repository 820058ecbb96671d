// The durable queue's file on disk (journal_rules has its layout): the per-user journal
// under %LOCALAPPDATA%\Velmora\Skytrove4\, written through to the disk before a persisted
// request is accepted, its passwords sealed for the user with CryptProtectData.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "protocol/download_request.h"
#include "support/handles.h"

namespace velmora {

inline constexpr wchar_t kJournalFileName[] = L"queue.journal";

// The window's process and when it started; a process id of 0 when it cannot be told.
// With `program`, also the full path of the process's executable (empty when unknown).
void IdentifyRequester(HWND window, uint32_t& processId, uint64_t& processCreated, std::wstring* program = nullptr);

// The package's uninstall: the journal and what was moved aside, and the folders if that
// leaves them empty. Requests still in it would never run once the agent is gone.
void ForgetJournal();

class RequestJournal {
 public:
  // Reads the journal left by the last run and starts a fresh one holding only what is
  // still to do. Whatever cannot be read (damage, another version, another user's
  // sealed passwords) is moved aside beside it, with a log line; nothing here stops the
  // agent. Returns the requests to queue again, in their order.
  std::vector<DownloadRequest> Open();
  // Writes the request through to the disk and gives it its number; false, with the
  // system's words in `why`, when it cannot be kept.
  bool Add(DownloadRequest& request, std::wstring& why);
  // The request has ended: it will not be queued again.
  void Done(const DownloadRequest& request);
  size_t Live() const { return live_.size(); }

 private:
  bool EnsureOpen(std::wstring& why);
  bool Append(const std::string& record, std::wstring& why);
  // Replaces the file, in one rename, by one that holds the live records only.
  bool Rewrite(std::wstring& why);
  void MoveAside(const std::wstring& what);

  std::wstring folder_;
  std::wstring path_;
  UniqueFile file_;
  uint64_t size_ = 0;
  uint64_t lastId_ = 0;
  bool opened_ = false;
  std::map<uint64_t, std::string> live_;  // the live records by number, which is their order
};

}  // namespace velmora
