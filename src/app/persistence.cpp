// The durable queue as the window uses it: requests that asked for Persist=1 are kept in
// the journal from before their acceptance until they end, queued again at start, and
// answered after a restart only where their requester's process still owns the window.
#include <windows.h>

#include "app/journal.h"
#include "app/main_window.h"
#include "support/debug_log.h"
#include "support/text.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {
void Log(const std::wstring& text) { WriteDebugLog(text, 5, kMarkNone); }
}  // namespace

// Runs before the window takes its first message, so the requests of the last run go
// ahead of anything new, in their old order.
void frmVelmoraSkytrove::RestoreJournal() {
  size_t queued = 0;
  for (DownloadRequest& request : journal_.Open()) {
    request.Restored = true;
    if (downloadList_.Add(request) != AddOutcome::Accepted) {
      Log(L"Journal request not queued again - " + MaskUrlSecrets(request.SourceFileName));
      journal_.Done(request);
      continue;
    }
    ++queued;
    Log(L"Queued again from the journal - " + MaskUrlSecrets(request.SourceFileName));
  }
  if (queued == 0) return;
  tmrUpdateList_.Restart();
  ShowRemaining();
  tmrDownloadFiles_.Enable();
}

bool frmVelmoraSkytrove::KeepInJournal(DownloadRequest& request) {
  IdentifyRequester(reinterpret_cast<HWND>(static_cast<intptr_t>(request.ParentHWnd)), request.RequesterProcessId,
                    request.RequesterProcessCreated, &request.RequesterProgram);
  std::wstring why;
  if (journal_.Add(request, why)) return true;
  // Accepting what cannot be kept would break the promise the requester asked for.
  RefuseWithReply(request, L"the request cannot be kept on disk - " + why);
  WriteDebugLog(L"Exiting AddToDownloadList as the request cannot be kept on disk - " + why, 5, kMarkEnd);
  return false;
}

// A window handle outlives its program and can be given to another one: after a restart
// only the process that sent the request, told by its id and creation time, hears of it.
bool frmVelmoraSkytrove::ReplyAllowed(const DownloadRequest& request, bool log) const {
  if (!request.Restored) return true;
  uint32_t processId = 0;
  uint64_t created = 0;
  IdentifyRequester(reinterpret_cast<HWND>(static_cast<intptr_t>(request.ParentHWnd)), processId, created);
  if (SameRequesterProcess(request, processId, created)) return true;
  if (log)
    Log(L"Reply to requesting application (" + ToDecimal(request.ParentHWnd) +
        L") not sent - the window is not the requester's since the restart");
  return false;
}

}  // namespace velmora
