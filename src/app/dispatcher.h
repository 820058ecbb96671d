// The dispatcher: one request per tick, the next in run order, and the one place where a
// request ends. Plain C++: the window is behind DispatchHost, the transfer behind its
// Attempt, so every way an attempt can end is testable without Windows.
//
// A request ends in Settle, always in this order: its destination was placed (by the
// transfer, before it returned) -> the journal's "done", written through -> the history
// STATUS reads -> the reply -> out of the list. Only the reply can run messages, and by
// then nothing a kill could replay is left.
#pragma once

#include <cstdint>
#include <string>

#include "app/download_queue.h"
#include "protocol/download_request.h"
#include "transfer/attempt.h"

namespace velmora {

// The request the tick is running, and where it stands: Running while its transfer runs,
// Cancelled once taken back, Done once its destination is in place (too late to take back),
// then how its attempt ended (Waiting for a retry, Done, Failed, Cancelled).
struct RunningRequest {
  DownloadRequest request;  // with its bytes so far
  RequestState state = RequestState::Queued;
  std::wstring cancelledBy;  // the FAILED reason of a cancel
  bool settled = false;      // its end is written: the history tells it from here on
};

class DispatchHost {
 public:
  virtual ~DispatchHost() = default;
  virtual void WriteLog(const std::wstring& text, int level, int mark) = 0;
  virtual uint64_t Now() = 0;  // a millisecond tick count
  // No transfer starts while a question of ours is up (its answer must not wait for one)
  // or once the agent is closing.
  virtual bool MayStart() = 0;
  virtual bool Closing() = 0;
  virtual void ArmTimer(bool on) = 0;
  virtual bool RequesterGone(int32_t parent) = 0;
  // One attempt of the request; runs messages. A run-time error is its own failure.
  virtual AttemptResult Attempt(DownloadRequest& work) = 0;
  virtual void JournalDone(const DownloadRequest& request) = 0;
  // What attempts kept beside the destinations, once no attempt can use it any more.
  virtual void DropKeptBytes(const DownloadRequest& request) = 0;
  // The request's GOT, and its FAILED when it asked for one, each only where a reply may go.
  virtual void ReplyDone(const DownloadRequest& request, bool linked) = 0;
  virtual void ReplyFailed(const DownloadRequest& request, const std::wstring& reason) = 0;
  virtual void ShowCurrent(const std::wstring& label) = 0;
  virtual void RemoveFromList(const DownloadRequest& request) = 0;
  virtual void RemoveParentFromList(int32_t parent) = 0;
};

class Dispatcher {
 public:
  Dispatcher(DispatchHost& host, DownloadQueue& queue, RequestHistory& history)
      : host_(host), queue_(queue), history_(history) {}
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  void Tick();
  // A tick is on the stack: it runs a request, or is about to.
  bool Busy() const { return busy_; }
  // The request being run; null when none.
  const RunningRequest* Running() const { return running_.request.Sequence != 0 ? &running_ : nullptr; }
  // Whether that request can still be taken back (its destination not yet in place).
  bool Cancellable(uint64_t sequence) const;
  // Takes it back: its transfer hears it at its next look and leaves.
  void Cancel(const std::wstring& by);
  bool Cancelled() const { return running_.request.Sequence != 0 && running_.state == RequestState::Cancelled; }
  // The transfer's word that the destination is in place.
  void Placed();
  void NoteBytes(int64_t done, int64_t total);

 private:
  void Run(DownloadRequest& work);
  void Settle(DownloadRequest& work, RequestState state, const std::wstring& reason, const AttemptResult& result);
  void Log(const std::wstring& text, int mark = 0) { host_.WriteLog(text, 10, mark); }

  DispatchHost& host_;
  DownloadQueue& queue_;
  RequestHistory& history_;
  bool busy_ = false;
  RunningRequest running_;
};

}  // namespace velmora
