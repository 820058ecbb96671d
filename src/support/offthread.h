// Calls that wait on the network, made on a worker thread while the calling thread keeps
// running its window messages: other programs talk to the agent with synchronous
// SendMessage, so its window must answer while a server takes its time.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <functional>
#include <memory>
#include <utility>

namespace velmora {
namespace offthread {

// How a call ended for its caller: `finished` is false when the shut-down stopped the
// wait first (the call may still be running, and owns what it uses).
struct Outcome {
  bool finished = false;
  DWORD error = 0;  // the worker's GetLastError right after the call
};

namespace detail {
struct Job;
}

// A call started on the worker and not yet waited for.
class Pending {
 public:
  Pending() = default;
  explicit Pending(std::shared_ptr<detail::Job> job) : job_(std::move(job)) {}
  // Waits for the call, running this thread's messages (the same wait as the pause).
  // `cancel` runs on this thread, once, when the shut-down begins during the wait: it
  // closes the handles the call waits on (Windows then ends the call). The wait then
  // lasts at most kCancelGraceMs more.
  Outcome Wait(const std::function<void()>& cancel = {});
  // Whether the call has returned, without waiting (true when none was started).
  bool Finished() const;

 private:
  std::shared_ptr<detail::Job> job_;  // none: the shut-down had begun, nothing was started
};

// Starts `work` on a worker thread. `work` must own everything it touches: capture by
// value or by shared_ptr, never a reference into the caller's frame, because a shut-down
// stops the wait and unwinds the caller while the call may still be blocked in the
// network. After the shut-down has begun nothing is started.
Pending Start(std::function<void()> work);

// Start and Wait in one.
Outcome Run(std::function<void()> work, const std::function<void()>& cancel = {});

// The value-returning forms. The value is R{} unless the call finished.
template <typename R>
struct Result {
  R value{};
  Outcome outcome;
};
template <typename R>
class PendingCall {
 public:
  PendingCall() = default;
  PendingCall(Pending pending, std::shared_ptr<R> value) : pending_(std::move(pending)), value_(std::move(value)) {}
  Result<R> Wait(const std::function<void()>& cancel = {}) {
    Result<R> result;
    result.outcome = pending_.Wait(cancel);
    if (result.outcome.finished && value_) result.value = *value_;
    return result;
  }

 private:
  Pending pending_;
  std::shared_ptr<R> value_;
};
template <typename F>
auto Begin(F work) -> PendingCall<decltype(work())> {
  using R = decltype(work());
  auto value = std::make_shared<R>();
  Pending pending = Start([work = std::move(work), value]() mutable { *value = work(); });
  return PendingCall<R>(std::move(pending), value);
}
template <typename F>
auto Call(F work, const std::function<void()>& cancel = {}) -> Result<decltype(work())> {
  return Begin(std::move(work)).Wait(cancel);
}

// While one lives, every wait on this thread also asks `abandon` (at least every
// kAbandonPollMs): once it says true, the wait runs its cancel and ends at once as not
// finished, the call left behind on its worker (Wine cannot end a blocked WinINet call).
// This is how one transfer is given up (a stall, a cancel) without closing the agent.
// Scopes nest; any one of them abandons. Only for the thread that made it.
class AbandonScope {
 public:
  explicit AbandonScope(std::function<bool()> abandon);
  ~AbandonScope();
  AbandonScope(const AbandonScope&) = delete;
  AbandonScope& operator=(const AbandonScope&) = delete;
  friend bool Abandoned();

 private:
  std::function<bool()> abandon_;
  AbandonScope* outer_;
};
// Whether a scope of this thread says to give up now.
bool Abandoned();

inline constexpr DWORD kAbandonPollMs = 100;

// Closes a WinINet handle off this thread: closing an FTP connection says goodbye to the
// server and waits for its answer. Waits like Run; once the shut-down has begun it does
// not wait at all.
void CloseInternetHandle(HINTERNET handle) noexcept;

// The agent is closing: waits in progress cancel their calls and give up after the grace
// period, and no new call starts. For good: there is no way back.
void BeginShutdown() noexcept;
bool ShuttingDown() noexcept;

inline constexpr DWORD kCancelGraceMs = 1000;

}  // namespace offthread
}  // namespace velmora
