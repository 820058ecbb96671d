#include "offthread.h"

#include <algorithm>
#include <atomic>
#include <exception>

#include "components.h"
#include "handles.h"

namespace velmora {
namespace offthread {

// Under Wine every wait and every event is a round trip to the server, and a transfer
// makes a call per chunk: whether a call has returned is told by a flag, and the event
// only wakes the waiting thread. One auto-reset event per waiting thread serves all its
// calls (nested waits included); a wake meant for another call is only a spurious one.
namespace detail {
// The waiting thread's wake-up: an event, and whether the thread sleeps on it (only then is
// it worth a round trip to set it).
struct Waker {
  UniqueHandle event;
  std::atomic<bool> sleeping{false};
};
struct Job {
  std::function<void()> work;
  std::shared_ptr<Waker> wake;  // the waiting thread's; kept alive by a call left behind
  std::atomic<bool> finished{false};
  DWORD error = 0;
};
}  // namespace detail

namespace {

using detail::Job;
using detail::Waker;

std::atomic<bool> g_shuttingDown{false};

// Manual-reset, never reset: once the agent is closing it stays closing.
HANDLE ShutdownEvent() {
  static UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return event.get();
}

thread_local std::shared_ptr<Waker> t_wake;
thread_local AbandonScope* t_abandon = nullptr;

// Without an event (the system refused one) the waiter is still made: it then looks at
// the call's flag every kPollMs instead of being woken.
std::shared_ptr<Waker> ThreadWaker() {
  if (!t_wake || !t_wake->event) {
    t_wake = std::make_shared<Waker>();
    t_wake->event.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  }
  return t_wake;
}

constexpr DWORD kPollMs = 10;

void CALLBACK Worker(PTP_CALLBACK_INSTANCE, void* context) noexcept {
  // The worker's share of the job: it lives on after the caller has stopped waiting.
  std::unique_ptr<std::shared_ptr<Job>> mine(static_cast<std::shared_ptr<Job>*>(context));
  Job& job = **mine;
  try {
    job.work();
    job.error = GetLastError();
  } catch (...) {
    // Only copying the call's inputs or results can throw; nothing may leave a pool thread.
    job.error = ERROR_NOT_ENOUGH_MEMORY;
  }
  job.finished.store(true);
  if (job.wake->sleeping.load() && job.wake->event) SetEvent(job.wake->event.get());
}

bool Submit(const std::shared_ptr<Job>& job) {
  auto* share = new std::shared_ptr<Job>(job);
  if (TrySubmitThreadpoolCallback(&Worker, share, nullptr)) return true;
  delete share;
  return false;
}

// Waits for the job, running this thread's messages. After a WM_QUIT (the window is gone)
// messages are left alone: the main loop ends with that message.
Outcome WaitFor(Job& job, const std::function<void()>& cancel) {
  Waker& waker = *job.wake;
  // What can wake the wait: the call's event and the shut-down's, those that exist. A
  // missing one is made up for by looking again every kPollMs.
  HANDLE handles[2] = {};
  DWORD count = 0;
  if (waker.event) handles[count++] = waker.event.get();
  const DWORD callHandles = count;
  HANDLE shutdown = ShutdownEvent();
  const bool polling = !waker.event || !shutdown;
  bool pumping = true;
  bool cancelled = false;
  ULONGLONG giveUpAt = 0;
  for (;;) {
    // A call that is back already costs no wait and no message round.
    if (job.finished.load()) return Outcome{true, job.error};
    if (!cancelled && Abandoned()) {
      if (cancel) {
        try {
          cancel();
        } catch (...) {
          // The wait ends all the same; the call owns what it uses.
        }
      }
      return Outcome{false, ERROR_INTERNET_OPERATION_CANCELLED};
    }
    if (!cancelled && ShuttingDown()) {
      cancelled = true;
      giveUpAt = GetTickCount64() + kCancelGraceMs;
      if (cancel) {
        try {
          cancel();
        } catch (...) {
          // A cancel that fails leaves only the grace period; the wait still ends.
        }
      }
      continue;
    }
    if (pumping && !timing::RunWaitingMessages()) pumping = false;
    DWORD timeout = polling ? kPollMs : t_abandon != nullptr ? kAbandonPollMs : INFINITE;
    if (cancelled) {
      const ULONGLONG now = GetTickCount64();
      if (now >= giveUpAt) return Outcome{false, ERROR_INTERNET_OPERATION_CANCELLED};
      timeout = std::min<DWORD>(timeout, static_cast<DWORD>(giveUpAt - now));
    }
    count = callHandles;
    if (!cancelled && shutdown) handles[count++] = shutdown;
    // Said before the last look, so that a call returning in between sets the event.
    waker.sleeping.store(true);
    if (job.finished.load()) {
      waker.sleeping.store(false);
      return Outcome{true, job.error};
    }
    DWORD r = WAIT_TIMEOUT;
    if (pumping) {
      r = MsgWaitForMultipleObjectsEx(count, handles, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    } else if (count > 0) {
      r = WaitForMultipleObjects(count, handles, FALSE, timeout);
    } else {
      Sleep(timeout);
    }
    waker.sleeping.store(false);
    if (r == WAIT_FAILED) {
      // Nothing to sleep on after all: the call is still looked after, by looking again.
      Sleep(kPollMs);
    }
    // A signalled shut-down event is seen by ShuttingDown() at the top.
  }
}

}  // namespace

Pending Start(std::function<void()> work) {
  if (ShuttingDown()) return Pending();
  auto job = std::make_shared<Job>();
  job->work = std::move(work);
  job->wake = ThreadWaker();
  if (!Submit(job)) {
    // No worker to be had: the call is made here rather than not at all.
    job->work();
    job->error = GetLastError();
    job->finished = true;
  }
  return Pending(job);
}

Outcome Pending::Wait(const std::function<void()>& cancel) {
  if (!job_) return Outcome{false, ERROR_INTERNET_OPERATION_CANCELLED};
  const Outcome outcome = WaitFor(*job_, cancel);
  // A call left behind will still set this thread's event (it keeps it alive): the thread
  // takes a fresh one.
  if (!outcome.finished) t_wake.reset();
  return outcome;
}

bool Pending::Finished() const { return !job_ || job_->finished.load(); }

Outcome Run(std::function<void()> work, const std::function<void()>& cancel) {
  return Start(std::move(work)).Wait(cancel);
}

void CloseInternetHandle(HINTERNET handle) noexcept {
  if (handle == nullptr) return;
  try {
    if (ShuttingDown()) {
      auto job = std::make_shared<Job>();
      job->work = [handle] { InternetCloseHandle(handle); };
      job->wake = std::make_shared<Waker>();  // nobody waits: the event is never set
      if (!Submit(job)) InternetCloseHandle(handle);
      return;
    }
    Run([handle] { InternetCloseHandle(handle); });
  } catch (...) {
    InternetCloseHandle(handle);
  }
}

AbandonScope::AbandonScope(std::function<bool()> abandon) : abandon_(std::move(abandon)), outer_(t_abandon) {
  t_abandon = this;
}

AbandonScope::~AbandonScope() { t_abandon = outer_; }

bool Abandoned() {
  for (AbandonScope* scope = t_abandon; scope != nullptr; scope = scope->outer_) {
    try {
      if (scope->abandon_ && scope->abandon_()) return true;
    } catch (...) {
      return true;  // a question that cannot be answered is no reason to wait on
    }
  }
  return false;
}

void BeginShutdown() noexcept {
  g_shuttingDown = true;
  if (HANDLE event = ShutdownEvent()) SetEvent(event);
}

bool ShuttingDown() noexcept { return g_shuttingDown; }

}  // namespace offthread

void NetworkTraits::close(HINTERNET h) noexcept { offthread::CloseInternetHandle(h); }

}  // namespace velmora
