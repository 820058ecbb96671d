// One attempt's cap, shared by the window (which decides the cap in force and waits on its
// own thread, running messages) and the worker an FTP transfer reads on (which sleeps).
// The stall watch asks it whether the silence is ours.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "transfer/pace_rules.h"

namespace velmora {

class PaceGate {
 public:
  using Clock = std::chrono::steady_clock;
  // A new cap in force (0: none), counted from the bytes so far.
  void SetCap(int64_t cap);
  int64_t Cap() const { return cap_.load(); }
  // The bytes so far; how long to wait now before the next read (milliseconds).
  uint64_t Note(int64_t bytes);
  // On a worker: notes `bytes` and sleeps as long as the cap says, in short steps that
  // give up once `gaveUp` holds.
  void Take(int64_t bytes, const std::atomic<bool>& gaveUp);
  // A read size that keeps each wait short: a tenth of a second of the cap, within
  // [1 KB, `largest`].
  size_t ReadSize(size_t largest) const;
  // The transfer is waiting for the cap (or was until a moment ago): not the server's silence.
  bool Waiting() const;

 private:
  uint64_t NowMs() const;
  mutable std::mutex lock_;
  Pacer pacer_;
  int64_t bytes_ = 0;
  std::atomic<int64_t> cap_{0};
  std::atomic<uint64_t> heldUntil_{0};
  const Clock::time_point start_ = Clock::now();
};

}  // namespace velmora
