#include "app/reply_outbox.h"

#include <atomic>
#include <vector>

#include "support/debug_log.h"
#include "support/offthread.h"
#include "support/text.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {

HWND WindowOf(int32_t parent) { return reinterpret_cast<HWND>(static_cast<intptr_t>(parent)); }

std::wstring ToRequester(int32_t parent) { return L"requesting application (" + ToDecimal(parent) + L")"; }

void LogPosting(int32_t parent, const std::wstring& reply) {
  WriteDebugLog(L"Posting to " + ToRequester(parent) + L" : " + reply, 10, kMarkNone);
}

void LogNotDelivered(int32_t parent, DWORD error) {
  WriteDebugLog(L"Reply to " + ToRequester(parent) + L" not delivered - " + SystemMessage(error), 5, kMarkNone);
}

void LogDropped(int32_t parent, size_t count) {
  WriteDebugLog(L"Replies to " + ToRequester(parent) + L" dropped - it did not answer: " +
                    ToDecimal(static_cast<int64_t>(count)),
                5, kMarkNone);
}

}  // namespace

bool OwnProcessWindow(HWND window) {
  DWORD pid = 0;
  return window != nullptr && GetWindowThreadProcessId(window, &pid) != 0 && pid == GetCurrentProcessId();
}

// One receiver's replies of one round, sent in order on a worker. The worker owns a copy of
// everything it sends and reports through `errors` and `finished` only.
struct ReplyOutbox::Delivery {
  std::vector<std::wstring> replies;
  std::vector<DWORD> errors;  // per reply: 0 delivered, else why not
  size_t dropped = 0;         // not sent: an earlier one timed out
  bool logged = true;
  bool collected = false;
  std::atomic<bool> finished{false};
  offthread::Pending pending;
};

void ReplyOutbox::Attach(HWND self, UINT dueMessage) {
  self_ = self;
  dueMessage_ = dueMessage;
}

bool ReplyOutbox::Addressable(int32_t parent, bool logged) const {
  if (parent == 0 || closed_) return false;
  if (!OwnProcessWindow(WindowOf(parent))) return true;
  if (logged)
    WriteDebugLog(L"Reply to " + ToRequester(parent) + L" not sent - the window is the agent's own", 5, kMarkNone);
  return false;
}

std::shared_ptr<ReplyOutbox::Delivery> ReplyOutbox::Start(int32_t parent, std::deque<std::wstring> replies,
                                                         bool logged, UINT timeoutMs) {
  if (logged)
    for (const std::wstring& reply : replies) LogPosting(parent, reply);
  if (replies.empty() || !Addressable(parent, logged)) return nullptr;
  auto delivery = std::make_shared<Delivery>();
  delivery->logged = logged;
  delivery->replies.assign(replies.begin(), replies.end());
  delivery->errors.assign(delivery->replies.size(), 0);
  delivery->pending = offthread::Start([delivery, target = WindowOf(parent), self = self_, message = dueMessage_,
                                        timeoutMs] {
    for (size_t i = 0; i < delivery->replies.size(); ++i) {
      const CopyDataDelivery sent = DeliverCopyData(target, delivery->replies[i], self, timeoutMs);
      if (sent.delivered) continue;
      delivery->errors[i] = sent.error;
      // A receiver that did not take this one in time will not take the next ones either.
      if (sent.error == ERROR_TIMEOUT) {
        delivery->dropped = delivery->replies.size() - i - 1;
        break;
      }
    }
    delivery->finished.store(true);
    PostMessageW(self, message, 0, 0);
  });
  return delivery;
}

void ReplyOutbox::Finish(int32_t parent, Delivery& delivery) {
  if (delivery.collected) return;
  delivery.collected = true;
  if (!delivery.logged) return;
  for (DWORD error : delivery.errors)
    if (error != 0) LogNotDelivered(parent, error);
  if (delivery.dropped > 0) LogDropped(parent, delivery.dropped);
}

void ReplyOutbox::WaitFor(const std::shared_ptr<Delivery>& delivery) {
  if (!delivery) return;
  // Given up by the shut-down's grace: the worker still owns its copy.
  delivery->pending.Wait();
}

void ReplyOutbox::Collect() {
  for (auto it = lanes_.begin(); it != lanes_.end();) {
    Lane& lane = it->second;
    if (lane.sending && lane.sending->finished.load()) {
      Finish(it->first, *lane.sending);
      lane.sending.reset();
    }
    if (!lane.sending && !lane.waiting.empty() && !closed_) {
      std::deque<std::wstring> due;
      due.swap(lane.waiting);
      // A requester that has gone is owed nothing.
      if (GetWindowLongA(WindowOf(it->first), GWL_STYLE) != 0) lane.sending = Start(it->first, std::move(due), true,
                                                                                    kReplyTimeoutMs);
    }
    if (!lane.sending && lane.waiting.empty())
      it = lanes_.erase(it);
    else
      ++it;
  }
}

void ReplyOutbox::Pump() {
  duePosted_ = false;
  Collect();
}

void ReplyOutbox::PostDue() {
  if (!duePosted_) duePosted_ = PostMessageW(self_, dueMessage_, 0, 0) != FALSE;
}

bool ReplyOutbox::Busy(int32_t parent) const {
  const auto it = lanes_.find(parent);
  return it != lanes_.end() && (it->second.sending || !it->second.waiting.empty());
}

void ReplyOutbox::Defer(int32_t parent, const std::wstring& reply) {
  if (parent == 0 || self_ == nullptr || closed_) return;
  lanes_[parent].waiting.push_back(reply);
  PostDue();
}

// Sent by this thread, as the tick's moment wants: the request leaves the list right after
// its receiver has handled the reply, before this thread reads the next message (a request
// sent again from inside that handling is still a duplicate, one sent after it is not).
// Incoming sends are answered meanwhile; a receiver that is hung costs nothing, one that
// stops reading its messages costs one time-out, and the rest of its round with it.
void ReplyOutbox::SendNow(int32_t parent, const std::wstring& reply) {
  auto it = lanes_.find(parent);
  // A PROGRESS on its way is short (its own time-out) and goes first.
  if (it != lanes_.end() && it->second.sending && !it->second.sending->logged && it->second.waiting.empty()) {
    std::shared_ptr<Delivery> progress = it->second.sending;
    WaitFor(progress);
    Finish(parent, *progress);
    it = lanes_.find(parent);
    if (it != lanes_.end() && it->second.sending == progress) it->second.sending.reset();
  }
  if (Busy(parent)) {
    // Behind what is already due to it, in order: the tick never waits on a receiver that
    // may have stopped reading its messages.
    lanes_[parent].waiting.push_back(reply);
    PostDue();
    return;
  }
  LogPosting(parent, reply);
  if (!Addressable(parent, true)) return;
  const CopyDataDelivery sent = DeliverCopyData(WindowOf(parent), reply, self_);
  if (sent.delivered) return;
  LogNotDelivered(parent, sent.error);
  // Deferred to it meanwhile: it would not take those either.
  it = lanes_.find(parent);
  if (sent.error != ERROR_TIMEOUT || it == lanes_.end() || it->second.waiting.empty() || it->second.sending) return;
  LogDropped(parent, it->second.waiting.size());
  it->second.waiting.clear();
}

void ReplyOutbox::SendProgress(int32_t parent, const std::wstring& text, UINT timeoutMs) {
  if (parent == 0 || closed_ || Busy(parent)) return;
  std::shared_ptr<Delivery> delivery = Start(parent, std::deque<std::wstring>{text}, false, timeoutMs);
  if (delivery) lanes_[parent].sending = delivery;
}

}  // namespace velmora
