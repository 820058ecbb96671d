// The dispatcher: one request per tick of tmrDownloadFiles, strictly in arrival order.
#include <windows.h>

#include <exception>
#include <string>

#include "app/main_window.h"
#include "app/request_rules.h"
#include "protocol/replies.h"
#include "support/components.h"
#include "support/debug_log.h"
#include "support/offthread.h"
#include "support/text.h"
#include "support/velmora_general.h"
#include "transfer/transfer_rules.h"

namespace velmora {

namespace {
void Log(const std::wstring& text, int mark) { WriteDebugLog(text, 10, mark); }

std::wstring Describe(const std::exception& e) {
  const std::string what = e.what();
  return std::wstring(what.begin(), what.end());
}
}  // namespace

// While a request runs: the tag says "1" and the timer is off. However the tick is left
// (a run-time error outside the transfer included) the queue must move on, unless the
// window is closing.
class frmVelmoraSkytrove::Dispatching {
 public:
  explicit Dispatching(frmVelmoraSkytrove& form) : form_(form) {
    form_.dispatching_ = true;
    form_.tmrDownloadFiles_.Tag = L"1";
    form_.tmrDownloadFiles_.Disable();
  }
  ~Dispatching() {
    form_.dispatching_ = false;
    form_.downloadList_.EndRun();
    form_.runningCancelled_ = false;
    form_.runningSettled_ = false;
    if (form_.unloaded_) {
      // The shut-down left what the transfer was using alone while it was on the stack.
      form_.ReleaseTransferObjects();
      return;
    }
    if (form_.tmrDownloadFiles_.Tag != L"0") {
      form_.tmrDownloadFiles_.Tag = L"0";
      if (!form_.downloadList_.Empty()) form_.tmrDownloadFiles_.Enable();
    }
  }
  Dispatching(const Dispatching&) = delete;
  Dispatching& operator=(const Dispatching&) = delete;

 private:
  frmVelmoraSkytrove& form_;
};

// Every reply goes this way: logged as posted, delivered within the reply time-out, and
// one the requester did not take is said in the log rather than lost in silence.
void frmVelmoraSkytrove::PostToRequester(int32_t parent, const std::wstring& reply) {
  Log(L"Posting to requesting application (" + ToDecimal(parent) + L") : " + reply, kMarkNone);
  if (parent == 0) return;
  const CopyDataDelivery delivery =
      DeliverCopyData(reinterpret_cast<HWND>(static_cast<intptr_t>(parent)), reply, hwnd_);
  if (!delivery.delivered)
    WriteDebugLog(L"Reply to requesting application (" + ToDecimal(parent) + L") not delivered - " +
                      SystemMessage(delivery.error),
                  5, kMarkNone);
}

// One attempt of a request, under the stall limit: whatever phase goes without a byte for
// that long is given up (handles closed, the call left on its worker) and the attempt
// fails as a stall.
void frmVelmoraSkytrove::RunAttempt(DownloadRequest& work, bool& outcome, bool& linkedOutcome) {
  failureKind_ = FailureKind::Permanent;
  failureCode_ = 0;
  retryAfter_ = -1;
  sha256_.clear();
  const std::wstring type = UpperCase(work.Type);
  if (!work.Sha256.empty()) {
    if (!IsSha256Text(work.Sha256)) {
      SetFailureReason(L"checksum: Sha256 is not 64 hex digits");
      return;
    }
    if (type == L"HTTP" || type == L"FTP") sha256_ = work.Sha256;
  }
  const int stallSeconds = EffectiveStallSeconds(
      work.StallSeconds, registry::ReadNumber(HKEY_LOCAL_MACHINE, kPlacementKey, L"StallSeconds", 0));
  stallMs_ = static_cast<ULONGLONG>(stallSeconds) * 1000;
  stalled_ = false;
  stallWatchFile_.clear();
  NoteData();
  {
    offthread::AbandonScope stallLimit([this] { return StallCheck(); });
    try {
      if (type == L"HTTP") {
        Log(L"Calling Download HTTP File " + work.SourceFileName, kMarkNone);
        outcome = DownloadHTTPFile(work);
      } else if (type == L"FTP") {
        Log(L"Calling Download FTP File " + work.SourceFileName, kMarkNone);
        outcome = DownloadFTPFile(work, false);
        if (outcome && !unloaded_ && !runningCancelled_ && !work.LinkedSourceFileName.empty()) {
          Log(L"Downloading Linked FTP File " + work.LinkedSourceFileName, kMarkNone);
          linkedOutcome = DownloadFTPFile(work, true);
        }
      } else if (type == L"FTPDELETE") {
        Log(L"Deleting FTP File " + work.SourceFileName, kMarkNone);
        outcome = DeleteFTPFile(work);
      }
    } catch (const std::exception& e) {
      // A run-time error inside a transfer costs that request only: no reply, the request
      // leaves the list and the queue carries on.
      SetFailureReason(Describe(e));
      WriteDebugLog(L"Run-time error in frmVelmoraSkytrove:tmrDownloadFiles_Timer - " + Describe(e), 5, kMarkNone);
      outcome = false;
    }
  }
  stallWatchFile_.clear();
  stallMs_ = 0;
  if (stalled_ && !unloaded_) {
    outcome = false;
    SetFailureReason(StallReason(stallSeconds));
    SetFailureKind(FailureKind::Stalled);
  }
}

void frmVelmoraSkytrove::NoteData() {
  if (!stalled_) lastDataAt_ = GetTickCount64();
}

bool frmVelmoraSkytrove::StallCheck() {
  if (stalled_) return true;
  if (stallMs_ == 0) return false;
  const ULONGLONG now = GetTickCount64();
  if (!stallWatchFile_.empty()) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(stallWatchFile_.c_str(), GetFileExInfoStandard, &data)) {
      const int64_t size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      if (size != stallWatchSize_) {
        stallWatchSize_ = size;
        lastDataAt_ = now;
        // The FTP transfer's count, shown as the HTTP one is, and told to a requester
        // that asked for PROGRESS.
        SetStatusCount(L" Downloaded " + GroupThousands(size, GroupSeparator()) + L" bytes");
        ShowTrayTip(statusBar1_.Text());
        if (!runningCancelled_) NoteProgress(size, -1);
      }
    }
  }
  if (now - lastDataAt_ < stallMs_) return false;
  stalled_ = true;
  WriteDebugLog(L"Transfer stalled - no data for " + ToDecimal(static_cast<int64_t>(stallMs_ / 1000)) + L" s", 5,
                kMarkNone);
  return true;
}

void frmVelmoraSkytrove::tmrDownloadFiles_Timer() {
  // Anything below can run messages (a wait, a reply, a box), and a message can bring a
  // new request or another tick: every guard is set before the first of them, so that no
  // request is started twice and no later request is taken for this one. While a question
  // of ours is up nothing starts: its answer must not wait for a transfer.
  if (dispatching_ || questionsUp_ > 0 || unloaded_) return;
  Dispatching running(*this);
  Log(L"Start frmVelmoraSkytrove:tmrDownloadFiles_Timer", kMarkStart);
  if (downloadList_.Empty()) {
    Log(L"Exit frmVelmoraSkytrove:tmrDownloadFiles_Timer - No downloads needed", kMarkEnd);
    return;
  }
  const size_t next = downloadList_.NextRunnable(GetTickCount64());
  if (next == downloadList_.Count()) {
    Log(L"Exit frmVelmoraSkytrove:tmrDownloadFiles_Timer - Waiting for a retry", kMarkEnd);
    return;
  }
  DownloadRequest work = downloadList_.BeginRun(next);
  running_ = work;
  runningCancelled_ = false;
  runningSettled_ = false;
  lastProgress_ = 0;
  bool outcome = false;
  bool linkedOutcome = false;
  SetCurrentFile(CurrentFileLabel(work));

  HWND parent = reinterpret_cast<HWND>(static_cast<intptr_t>(work.ParentHWnd));
  // A persisted request runs for a requester that has gone: its file is what it asked for.
  if (!work.Persist && GetWindowLongA(parent, GWL_STYLE) == 0) {
    Log(L"Parent lost, so removing items from - " + ToDecimal(work.ParentHWnd), kMarkNone);
    RemoveParentFromDownloadList(work.ParentHWnd);
    SetCurrentFile(L"");
    // The next request waits for the next tick, as it always has (the guard re-arms).
    Log(L"Exit frmVelmoraSkytrove:tmrDownloadFiles_Timer - Parent Lost", kMarkEnd);
    return;
  }

  failureReason_.clear();
  Log(L"Mark as Runnnig", kMarkNone);

  {
    // A cancel gives up the transfer's current wait; the transfer then leaves by its
    // clean exit. (The stall watch inside looks at the FTP file's growth for PROGRESS.)
    offthread::AbandonScope cancellable([this] { return runningCancelled_; });
    RunAttempt(work, outcome, linkedOutcome);
  }

  runningSettled_ = true;
  if (unloaded_) {
    Log(L"Exit frmVelmoraSkytrove:tmrDownloadFiles_Timer - Window Unloaded", kMarkEnd);
    return;
  }
  // A transfer that completed before it heard of the cancel has put its file in place:
  // it counts as done. Otherwise it left by its clean exit.
  const bool cancelled = runningCancelled_ && !outcome;
  if (cancelled) failureReason_ = cancelledBy_;
  work.BytesDone = running_.BytesDone;
  work.BytesTotal = running_.BytesTotal;
  if (outcome && ReplyAllowed(work, true)) {
    try {
      PostToRequester(work.ParentHWnd, ComposeReply(work, linkedOutcome));
    } catch (const std::exception& e) {
      // Out of memory for the reply: the request is over all the same.
      WriteDebugLog(L"Run-time error in frmVelmoraSkytrove:tmrDownloadFiles_Timer - " + Describe(e), 5, kMarkNone);
    }
  }
  // The CANCELLED reply is waiting for the message loop; it goes ahead of this FAILED.
  if (cancelled) SendRefusals();
  const int32_t attempts = work.Attempts + 1;
  if (!outcome && !cancelled && attempts <= work.Retries && IsTransient(failureKind_, failureCode_)) {
    // The request stays where it is and lets the others run until its retry is due.
    const int delay = RetryDelaySeconds(retryAfter_, attempts);
    Log(L"Retrying in " + ToDecimal(delay) + L" s - " + failureReason_ + L" (attempt " + ToDecimal(attempts) +
            L" of " + ToDecimal(work.Retries + 1) + L")",
        kMarkNone);
    downloadList_.Reschedule(work, GetTickCount64() + static_cast<uint64_t>(delay) * 1000, attempts);
    downloadList_.EndRun();
  } else {
    history_.Add(work, outcome ? RequestState::Done : cancelled ? RequestState::Cancelled : RequestState::Failed,
                 outcome ? failureReason_ : WithAttempts(failureReason_, attempts), GetTickCount64());
    if (!outcome) ReplyFailure(work, WithAttempts(failureReason_, attempts));
    journal_.Done(work);
    RemoveFromDownloadList(work);
  }
  if (!session_) {
    Log(L"Exit frmVelmoraSkytrove:tmrDownloadFiles_Timer - No internet handle", kMarkEnd);
    return;
  }
  SetCurrentFile(L"");
  if (!downloadList_.Empty()) {
    Log(L"Re-enabling Download Timer", kMarkNone);
    tmrDownloadFiles_.Enable();
  }
  tmrDownloadFiles_.Tag = L"0";
  Log(L"Finish frmVelmoraSkytrove:tmrDownloadFiles_Timer", kMarkEnd);
}

}  // namespace velmora
