#include "app/dispatcher.h"

#include <exception>

#include "app/request_rules.h"
#include "transfer/transfer_rules.h"
#include "support/debug_log.h"
#include "support/text.h"

namespace velmora {

namespace {

std::wstring Describe(const std::exception& e) {
  const std::string what = e.what();
  return std::wstring(what.begin(), what.end());
}

constexpr wchar_t kRunTimeError[] = L"Run-time error in frmVelmoraSkytrove:tmrDownloadFiles_Timer - ";

}  // namespace

bool Dispatcher::Cancellable(uint64_t sequence) const {
  return sequence != 0 && running_.request.Sequence == sequence && running_.state == RequestState::Running;
}

void Dispatcher::Cancel(const std::wstring& by) {
  if (running_.state != RequestState::Running) return;
  running_.state = RequestState::Cancelled;
  running_.cancelledBy = by;
}

void Dispatcher::Placed() {
  if (running_.request.Sequence == 0) return;
  running_.state = RequestState::Done;
  // Before anything can run messages: a kill from here on must not fetch it again.
  host_.JournalDone(running_.request);
}

void Dispatcher::NoteBytes(int64_t done, int64_t total) {
  running_.request.BytesDone = done;
  running_.request.BytesTotal = total;
}

void Dispatcher::Tick() {
  // Anything below can run messages (a wait, a reply, a box), and a message can bring a
  // new request or another tick: every guard is set before the first of them, so that no
  // request is started twice and no later request is taken for this one.
  if (busy_ || !host_.MayStart()) return;
  busy_ = true;
  host_.ArmTimer(false);
  // However the tick is left (a run-time error outside the transfer included) the queue
  // must move on, unless the agent is closing.
  struct Guard {
    Dispatcher& d;
    bool rearm = true;
    ~Guard() {
      d.busy_ = false;
      d.queue_.EndRun();
      d.running_ = RunningRequest();
      if (rearm && !d.host_.Closing() && !d.queue_.Empty()) d.host_.ArmTimer(true);
    }
  } guard{*this};
  Log(L"Start frmVelmoraSkytrove:tmrDownloadFiles_Timer", kMarkStart);
  if (queue_.Empty()) {
    Log(L"Exit frmVelmoraSkytrove:tmrDownloadFiles_Timer - No downloads needed", kMarkEnd);
    return;
  }
  const size_t next = queue_.NextRunnable(host_.Now());
  if (next == queue_.Count()) {
    Log(L"Exit frmVelmoraSkytrove:tmrDownloadFiles_Timer - Waiting for a retry", kMarkEnd);
    return;
  }
  DownloadRequest work = queue_.BeginRun(next);
  running_ = RunningRequest{work, RequestState::Running, std::wstring()};
  host_.ShowCurrent(CurrentFileLabel(work));
  // A persisted request runs for a requester that has gone: its file is what it asked for.
  if (!work.Persist && host_.RequesterGone(work.ParentHWnd)) {
    Log(L"Parent lost, so removing items from - " + ToDecimal(work.ParentHWnd));
    host_.RemoveParentFromList(work.ParentHWnd);
    host_.ShowCurrent(L"");
    // The next request waits for the next tick, as it always has (the guard re-arms).
    Log(L"Exit frmVelmoraSkytrove:tmrDownloadFiles_Timer - Parent Lost", kMarkEnd);
    return;
  }
  Log(L"Mark as Runnnig");
  Run(work);
  if (host_.Closing()) return;
  host_.ShowCurrent(L"");
  if (!queue_.Empty()) {
    Log(L"Re-enabling Download Timer");
    host_.ArmTimer(true);
  }
  guard.rearm = false;
  Log(L"Finish frmVelmoraSkytrove:tmrDownloadFiles_Timer", kMarkEnd);
}

void Dispatcher::Run(DownloadRequest& work) {
  AttemptResult result;
  try {
    result = host_.Attempt(work);
  } catch (const std::exception& e) {
    // A run-time error inside a transfer costs that request only: no GOT, the request
    // leaves the list and the queue carries on.
    host_.WriteLog(kRunTimeError + Describe(e), 5, kMarkNone);
    result = AttemptResult::Failure(Describe(e));
  }
  if (host_.Closing()) {
    // Placed or not, nothing more is said: a placed request has its "done" already, any
    // other is queued again at the next start when it was persisted.
    Log(L"Exit frmVelmoraSkytrove:tmrDownloadFiles_Timer - Window Unloaded", kMarkEnd);
    return;
  }
  work.BytesDone = running_.request.BytesDone;
  work.BytesTotal = running_.request.BytesTotal;
  // A cancel is accepted only before the destination is placed, so a cancelled request
  // never reports a file.
  const bool cancelled = running_.state == RequestState::Cancelled;
  const bool done = result.Succeeded() && !cancelled;
  const int32_t attempts = work.Attempts + 1;
  if (!done && !cancelled && attempts <= work.Retries && IsTransient(result.kind, result.code)) {
    // The request stays where it is and lets the others run until its retry is due.
    const int delay = RetryDelaySeconds(result.retryAfter, attempts);
    Log(L"Retrying in " + ToDecimal(delay) + L" s - " + result.reason + L" (attempt " + ToDecimal(attempts) +
        L" of " + ToDecimal(work.Retries + 1) + L")");
    queue_.Reschedule(work, host_.Now() + static_cast<uint64_t>(delay) * 1000, attempts);
    running_.state = RequestState::Waiting;
    running_.settled = true;
    return;
  }
  const std::wstring reason = cancelled ? running_.cancelledBy : result.reason;
  Settle(work, done ? RequestState::Done : cancelled ? RequestState::Cancelled : RequestState::Failed,
         done ? std::wstring() : WithAttempts(reason, attempts), result);
}

void Dispatcher::Settle(DownloadRequest& work, RequestState state, const std::wstring& reason,
                        const AttemptResult& result) {
  running_.state = state;
  running_.settled = true;
  host_.JournalDone(work);
  // A linked file that failed leaves its bytes too; a finished file that could not be
  // placed is the only copy and stays.
  if (!result.onlyCopyKept) host_.DropKeptBytes(work);
  history_.Add(work, state, reason, host_.Now());
  if (state == RequestState::Done) {
    try {
      host_.ReplyDone(work, result.linkedDone);
    } catch (const std::exception& e) {
      // Out of memory for the reply: the request is over all the same.
      host_.WriteLog(kRunTimeError + Describe(e), 5, kMarkNone);
    }
  } else {
    // A CANCELLED reply still waiting for the message loop goes ahead of this FAILED: one
    // receiver's replies keep their order.
    host_.ReplyFailed(work, reason);
  }
  host_.RemoveFromList(work);
}

}  // namespace velmora
