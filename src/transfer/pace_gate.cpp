#include "transfer/pace_gate.h"

#include <algorithm>
#include <thread>

namespace velmora {

namespace {
constexpr uint64_t kStepMs = 50;
}  // namespace

uint64_t PaceGate::NowMs() const {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count());
}

void PaceGate::SetCap(int64_t cap) {
  std::lock_guard<std::mutex> hold(lock_);
  pacer_.SetCap(cap, bytes_, NowMs());
  cap_.store(cap);
}

uint64_t PaceGate::Note(int64_t bytes) {
  std::lock_guard<std::mutex> hold(lock_);
  bytes_ = bytes;
  const uint64_t now = NowMs();
  const uint64_t wait = pacer_.WaitMs(bytes, now);
  if (wait > 0) heldUntil_.store(now + wait);
  return wait;
}

void PaceGate::Take(int64_t bytes, const std::atomic<bool>& gaveUp) {
  for (uint64_t wait = Note(bytes); wait > 0 && !gaveUp.load(); wait = Note(bytes))
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, kStepMs)));
}

size_t PaceGate::ReadSize(size_t largest) const {
  const int64_t cap = cap_.load();
  if (cap <= 0) return largest;
  return std::clamp<size_t>(static_cast<size_t>(cap / 10), 1024, largest);
}

bool PaceGate::Waiting() const {
  const uint64_t until = heldUntil_.load();
  return until != 0 && NowMs() <= until + kStepMs;
}

}  // namespace velmora
