// The download list as the window keeps and shows it.
#include <windows.h>

#include "app/main_window.h"
#include "app/request_rules.h"
#include "support/components.h"
#include "support/debug_log.h"
#include "support/text.h"
#include "support/velmora_general.h"

namespace velmora {

void frmVelmoraSkytrove::ShowRemaining() {
  const size_t n = downloadList_.Count();
  SetStatusCount(n > 0 ? ToDecimal(static_cast<int64_t>(n)) + L" remaining" : std::wstring());
}

void frmVelmoraSkytrove::AddToDownloadList(const DownloadRequest& request) {
  WriteDebugLog(L"Started AddToDownloadList " + request.SourceFileName, 5, kMarkStart);
  if (!session_) {
    RefuseWithReply(request, L"no internet connection");
    WriteDebugLog(L"Exiting AddToDownloadList as no internet connection", 5, kMarkEnd);
    return;
  }
  DownloadRequest kept = request;
  if (kept.Persist && kept.ParentHWnd != 0 && !KeepInJournal(kept)) return;
  const AddOutcome outcome = downloadList_.Add(kept);
  if (outcome != AddOutcome::Accepted) journal_.Done(kept);
  switch (outcome) {
    case AddOutcome::NoRequester:
      WriteDebugLog(L"Exiting AddToDownloadList as no requesting window (wParam 0)", 5, kMarkEnd);
      return;
    case AddOutcome::DestinationNotFullPath:
      RefuseWithReply(request, L"destination is not a full path");
      WriteDebugLog(L"Exiting AddToDownloadList as destination is not a full path", 5, kMarkEnd);
      return;
    case AddOutcome::DestinationNotFileName:
      RefuseWithReply(request, L"destination is not a file name");
      WriteDebugLog(L"Exiting AddToDownloadList as destination is not a file name", 5, kMarkEnd);
      return;
    case AddOutcome::NoTypeOrSource:
      RefuseWithReply(request, request.Type.empty() ? L"no type" : L"no source file");
      WriteDebugLog(L"Exiting AddToDownloadList as no type/source/destination", 5, kMarkEnd);
      return;
    case AddOutcome::AlreadyInList:
      RefuseWithReply(request, L"already in list");
      WriteDebugLog(L"Exiting AddToDownloadList already in list", 5, kMarkEnd);
      return;
    case AddOutcome::AlreadyInLinkedList:
      RefuseWithReply(request, L"already in linked list");
      WriteDebugLog(L"Exiting AddToDownloadList already in linked list", 5, kMarkEnd);
      return;
    case AddOutcome::Full:
      RefuseWithReply(request, L"the download list is full");
      WriteDebugLog(L"Exiting AddToDownloadList as the download list is full", 5, kMarkEnd);
      return;
    case AddOutcome::Accepted:
      break;
  }
  // Redrawn once, 750 ms after the last of a burst, instead of once per request.
  // Once is enough for a burst: setting the box's text costs more than the rest of an
  // acceptance together.
  ShowUpdating();
  tmrUpdateList_.Restart();
  ShowRemaining();
  // Started when idle, never pushed back: a requester sending every 0.9 s must not hold
  // the queue.
  if (!dispatcher_.Busy()) ArmTimer(true);
  WriteDebugLog(L"Finished AddToDownloadList", 5, kMarkEnd);
}

void frmVelmoraSkytrove::UpdateQueuedList() {
  WriteDebugLog(L"Start frmVelmoraSkytrove:UpdateQueuedList", 10, kMarkStart);
  tmrUpdateList_.Disable();
  // The caret stays with the request it was on, wherever its line is now: a Delete after
  // the redraw is about that request, never about whatever took its place.
  const uint64_t caret = CaretSequence();
  std::wstring text;
  shownSequences_.clear();
  shownSequences_.reserve(downloadList_.Count());
  size_t caretAt = std::wstring::npos;
  for (size_t i = 0; i < downloadList_.Count(); ++i) {
    if (caret != 0 && downloadList_.At(i).Sequence == caret) caretAt = text.size();
    text += PendingLine(downloadList_.At(i));
    text += L"\r\n";
    shownSequences_.push_back(downloadList_.At(i).Sequence);
  }
  SetQueuedText(text);
  SendMessageW(txtQueued_, EM_SETSEL, 0, 0);
  SendMessageW(txtQueued_, EM_SCROLLCARET, 0, 0);
  // Gone from the list: the caret goes past the last line, where it stands for no request.
  const size_t at = caretAt != std::wstring::npos ? caretAt : text.size();
  SendMessageW(txtQueued_, EM_SETSEL, static_cast<WPARAM>(at), static_cast<LPARAM>(at));
  caretSequence_ = caretAt != std::wstring::npos ? caret : 0;
  WriteDebugLog(L"Finish frmVelmoraSkytrove:UpdateQueuedList", 10, kMarkEnd);
}

void frmVelmoraSkytrove::RemoveFromDownloadList(const DownloadRequest& request) {
  WriteDebugLog(L"Start frmVelmoraSkytrove:RemoveFromDownloadList " + request.SourceFileName, 10, kMarkStart);
  if (!session_) {
    WriteDebugLog(L"Exit frmVelmoraSkytrove:RemoveFromDownloadList - No internet handle", 10, kMarkEnd);
    return;
  }
  std::wstring removed;
  // By its number: a request cancelled while it ran is gone already, and a twin sent
  // since then must stay.
  if (request.Sequence != 0 ? downloadList_.RemoveSequence(request.Sequence, &removed)
                            : downloadList_.RemoveFirstMatch(request, &removed)) {
    WriteDebugLog(L"Removing file " + removed + L" from download request list", 10, kMarkNone);
    // Fast requests follow each other within milliseconds, and setting the box's text with
    // a long list costs more than a small file's whole transfer: while they run the list is
    // redrawn once per interval of its timer (never pushed back, so a steady stream is still
    // shown), and at once when it empties.
    if (request.Fast && downloadList_.Count() > 0) {
      ShowUpdating();
      if (!tmrUpdateList_.Enabled()) tmrUpdateList_.Restart();
    } else {
      UpdateQueuedList();
    }
  }
  ShowRemaining();
  WriteDebugLog(L"Finish frmVelmoraSkytrove:RemoveFromDownloadList", 10, kMarkEnd);
}

// Drops the requests of a window that has gone. No file is deleted: a failed or
// unstarted request never leaves a file of ours behind, and a file that was there
// before belongs to the user.
void frmVelmoraSkytrove::RemoveParentFromDownloadList(int32_t parent) {
  downloadList_.RemoveParent(parent);
  UpdateQueuedList();
  ShowRemaining();
}

}  // namespace velmora
