// The durable queue's file on disk (journal_rules has its layout): the per-user journal
// under %LOCALAPPDATA%\Velmora\Skytrove4\, written through to the disk before a persisted
// request is accepted, its passwords sealed for the user with CryptProtectData.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/journal_files.h"
#include "app/journal_store.h"
#include "protocol/download_request.h"
#include "support/handles.h"

namespace velmora {

// The window's process and when it started; a process id of 0 when it cannot be told.
// With `program`, also the full path of the process's executable (empty when unknown).
void IdentifyRequester(HWND window, uint32_t& processId, uint64_t& processCreated, std::wstring* program = nullptr);
// When `process` started (a FILETIME); 0 when it cannot be told.
uint64_t ProcessCreated(HANDLE process);

// The package's uninstall: the journal and what was moved aside, and the folders if that
// leaves them empty. Requests still in it would never run once the agent is gone.
void ForgetJournal();

class RequestJournal {
 public:
  RequestJournal();
  // Reads the journal left by the last run and starts a fresh one holding only what is
  // still to do. Whatever cannot be read (damage, another version, another user's
  // sealed passwords) is copied aside beside it first, with a log line; nothing here
  // stops the agent. Returns the requests to queue again, in their order.
  std::vector<DownloadRequest> Open();
  // Writes the request through to the disk and gives it its number; false, with the
  // system's words in `why`, when it cannot be kept.
  bool Add(DownloadRequest& request, std::wstring& why);
  // The request has ended: it will not be queued again.
  void Done(const DownloadRequest& request);
  size_t Live() const { return store_.Live(); }

 private:
  JournalDiskFiles files_;
  JournalStore store_;
};

}  // namespace velmora
