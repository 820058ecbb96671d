// Every reply the agent sends (GOT, FAILED, CANCELLED, STATUS, PROGRESS) goes out here, by
// one set of rules: never to a window of the agent's own process (it would read its own
// reply as a new message, for ever); given up when the receiver hangs or takes longer than
// the reply time-out, and then the rest of what was due to it in that round is dropped, so
// each receiver costs at most one time-out a round. Deferred replies are sent from a
// worker, so that a requester that stops reading its messages holds only its own replies
// and never the window; the tick's own reply is sent by the window's thread, at its moment.
// Replies to one receiver arrive in the order they were made.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

namespace velmora {

// Whether `window` belongs to this process.
bool OwnProcessWindow(HWND window);

class ReplyOutbox {
 public:
  ReplyOutbox() = default;
  ReplyOutbox(const ReplyOutbox&) = delete;
  ReplyOutbox& operator=(const ReplyOutbox&) = delete;
  // The window that sends (the replies' wParam), and the message it is told with that
  // deferred replies are due (posted once the requester's own send has returned) or that
  // a delivery has ended.
  void Attach(HWND self, UINT dueMessage);

  // Delivered now, from the dispatcher's tick: returns once the receiver has handled it or
  // the delivery was given up, answering incoming sends meanwhile. A receiver still busy
  // with earlier replies gets it after them instead, without the tick waiting.
  void SendNow(int32_t parent, const std::wstring& reply);
  // Sent once the requester's own send has returned.
  void Defer(int32_t parent, const std::wstring& reply);
  // PROGRESS: not logged, a short time-out, and skipped while the receiver is still busy
  // with an earlier reply (it misses one rather than queue them).
  void SendProgress(int32_t parent, const std::wstring& text, UINT timeoutMs);
  // The posted message's handler: starts what is due and notes what has ended.
  void Pump();
  // Closing: nothing more is sent.
  void Close() { closed_ = true; }

 private:
  struct Delivery;
  struct Lane {
    std::deque<std::wstring> waiting;
    std::shared_ptr<Delivery> sending;
  };
  // Whether a reply may go to `parent` at all (never to a window of this process), saying
  // why not when `logged`.
  bool Addressable(int32_t parent, bool logged) const;
  std::shared_ptr<Delivery> Start(int32_t parent, std::deque<std::wstring> replies, bool logged, UINT timeoutMs);
  void Finish(int32_t parent, Delivery& delivery);
  void Collect();
  // The due message, posted once until it is handled.
  void PostDue();
  // Something for `parent` is on its way or waiting.
  bool Busy(int32_t parent) const;
  void WaitFor(const std::shared_ptr<Delivery>& delivery);

  HWND self_ = nullptr;
  UINT dueMessage_ = 0;
  bool closed_ = false;
  bool duePosted_ = false;
  std::map<int32_t, Lane> lanes_;
};

}  // namespace velmora
