#include "offthread.h"

#include <exception>

#include "components.h"
#include "handles.h"

namespace velmora {
namespace offthread {

namespace {

struct Job {
  std::function<void()> work;
  UniqueHandle done;  // set by the worker when the call has returned
  DWORD error = 0;
};

// Manual-reset, never reset: once the agent is closing it stays closing.
HANDLE ShutdownEvent() {
  static UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return event.get();
}

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
  if (job.done) SetEvent(job.done.get());
}

bool Submit(const std::shared_ptr<Job>& job) {
  auto* share = new std::shared_ptr<Job>(job);
  if (TrySubmitThreadpoolCallback(&Worker, share, nullptr)) return true;
  delete share;
  return false;
}

// Waits for the job, running this thread's messages. After a WM_QUIT (the window is gone)
// messages are left alone: the main loop ends with that message.
Outcome Wait(Job& job, const std::function<void()>& cancel) {
  HANDLE handles[2] = {job.done.get(), ShutdownEvent()};
  bool pumping = true;
  bool cancelled = false;
  ULONGLONG giveUpAt = 0;
  for (;;) {
    if (pumping && !timing::RunWaitingMessages()) pumping = false;
    DWORD timeout = INFINITE;
    if (cancelled) {
      const ULONGLONG now = GetTickCount64();
      if (now >= giveUpAt) return Outcome{false, ERROR_INTERNET_OPERATION_CANCELLED};
      timeout = static_cast<DWORD>(giveUpAt - now);
    }
    const DWORD count = cancelled ? 1 : 2;
    const DWORD r = pumping ? MsgWaitForMultipleObjectsEx(count, handles, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE)
                            : WaitForMultipleObjects(count, handles, FALSE, timeout);
    if (r == WAIT_OBJECT_0) return Outcome{true, job.error};
    if (r == WAIT_FAILED) return Outcome{false, GetLastError()};
    if (r == WAIT_OBJECT_0 + 1 && !cancelled) {
      cancelled = true;
      giveUpAt = GetTickCount64() + kCancelGraceMs;
      if (cancel) {
        try {
          cancel();
        } catch (...) {
          // A cancel that fails leaves only the grace period; the wait still ends.
        }
      }
    }
  }
}

}  // namespace

Outcome Run(std::function<void()> work, const std::function<void()>& cancel) {
  if (ShuttingDown()) return Outcome{false, ERROR_INTERNET_OPERATION_CANCELLED};
  auto job = std::make_shared<Job>();
  job->work = std::move(work);
  job->done.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!job->done || !Submit(job)) {
    // No worker to be had: the call is made here rather than not at all.
    job->work();
    return Outcome{true, GetLastError()};
  }
  return Wait(*job, cancel);
}

void CloseInternetHandle(HINTERNET handle) noexcept {
  if (handle == nullptr) return;
  try {
    if (ShuttingDown()) {
      auto job = std::make_shared<Job>();
      job->work = [handle] { InternetCloseHandle(handle); };
      if (!Submit(job)) InternetCloseHandle(handle);
      return;
    }
    Run([handle] { InternetCloseHandle(handle); });
  } catch (...) {
    InternetCloseHandle(handle);
  }
}

void BeginShutdown() noexcept {
  if (HANDLE event = ShutdownEvent()) SetEvent(event);
}

bool ShuttingDown() noexcept {
  HANDLE event = ShutdownEvent();
  return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

}  // namespace offthread

void NetworkTraits::close(HINTERNET h) noexcept { offthread::CloseInternetHandle(h); }

}  // namespace velmora
