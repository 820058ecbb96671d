#include "transfer/read_ahead.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace velmora {

struct ReadAhead::Shared {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::vector<char>> slots;
  std::vector<DWORD> sizes;
  std::vector<char> oks;
  size_t head = 0;     // the oldest piece not yet released
  size_t count = 0;    // pieces read and not yet released, the one being used included
  bool held = false;   // the window uses slots[head]
  bool stop = false;   // start no other read
  bool gone = false;   // the reader has left
  bool readerWaiting = false;
  size_t limit = 0;    // the most one read takes; 0: a whole piece
};

namespace {

// How many pieces may wait before the reader reads again. A full ring waits for half of it
// to be free, so that a window slower than the network (the design's pause) wakes the
// reader once per half ring, not per piece; limited reads go on as soon as a slot is free.
size_t Refill(const ReadAhead::Shared& s) { return s.limit != 0 ? s.slots.size() - 1 : s.slots.size() / 2; }

void ReadAll(const std::shared_ptr<ReadAhead::Shared>& s, HINTERNET handle, size_t pieceSize) {
  const size_t depth = s->slots.size();
  for (;;) {
    size_t slot = 0;
    DWORD size = 0;
    {
      std::unique_lock<std::mutex> l(s->lock);
      if (s->count >= depth) {
        s->readerWaiting = true;
        s->changed.wait(l, [&] { return s->stop || s->count <= Refill(*s); });
        s->readerWaiting = false;
      }
      if (s->stop) break;
      slot = (s->head + s->count) % depth;
      size = static_cast<DWORD>(s->limit != 0 ? std::min(s->limit, pieceSize) : pieceSize);
    }
    DWORD got = 0;
    const bool ok = InternetReadFile(handle, s->slots[slot].data(), size, &got) != FALSE;
    {
      std::lock_guard<std::mutex> l(s->lock);
      s->sizes[slot] = ok ? std::min<DWORD>(got, size) : 0;
      s->oks[slot] = ok ? 1 : 0;
      ++s->count;
    }
    s->changed.notify_all();
    if (!ok || got == 0) break;
  }
  {
    std::lock_guard<std::mutex> l(s->lock);
    s->gone = true;
  }
  s->changed.notify_all();
}

void TellStop(ReadAhead::Shared& s) {
  {
    std::lock_guard<std::mutex> l(s.lock);
    s.stop = true;
  }
  s.changed.notify_all();
}

}  // namespace

ReadAhead::ReadAhead(HINTERNET handle, size_t pieceSize, size_t depth) : shared_(std::make_shared<Shared>()) {
  depth = std::max<size_t>(depth, 2);
  shared_->slots.assign(depth, std::vector<char>(pieceSize));
  shared_->sizes.assign(depth, 0);
  shared_->oks.assign(depth, 0);
  reader_ = offthread::Start([s = shared_, handle, pieceSize] { ReadAll(s, handle, pieceSize); });
}

ReadAhead::~ReadAhead() { TellStop(*shared_); }

ReadAhead::Piece ReadAhead::Next(const std::function<void()>& closeHandle) {
  Shared& s = *shared_;
  const size_t depth = s.slots.size();
  bool wake = false;
  bool ready = false;
  {
    std::lock_guard<std::mutex> l(s.lock);
    if (s.held) {
      s.held = false;
      s.head = (s.head + 1) % depth;
      --s.count;
      wake = s.readerWaiting && s.count <= Refill(s);
    }
    ready = s.count > 0 || s.gone;
  }
  if (wake) s.changed.notify_all();
  if (!ready) {
    // Nothing read yet: waited for on a worker, as every network wait is.
    const offthread::Outcome waited = offthread::Run(
        [p = shared_] {
          std::unique_lock<std::mutex> l(p->lock);
          p->changed.wait(l, [&] { return p->count > 0 || p->gone || p->stop; });
        },
        [this, &closeHandle] {
          TellStop(*shared_);
          if (closeHandle) closeHandle();
        });
    if (!waited.finished) {
      // The helper wait is woken by the stop; the reader ends with its read.
      TellStop(s);
      return Piece{};
    }
  }
  std::lock_guard<std::mutex> l(s.lock);
  if (s.count == 0) return Piece{};  // the reader left without a last piece: it was stopped
  s.held = true;
  return Piece{s.oks[s.head] != 0, s.sizes[s.head], s.slots[s.head].data()};
}

ReadAhead::Piece ReadAhead::Fill(char* into, DWORD want, const std::function<void()>& closeHandle) {
  DWORD filled = 0;
  while (filled < want) {
    if (piece_.ok && piece_.got > 0 && taken_ == piece_.got) piece_ = Piece{};
    if (piece_.data == nullptr) {
      piece_ = Next(closeHandle);
      taken_ = 0;
    }
    // The end, or a failure: what came before it is handed over first.
    if (!piece_.ok || piece_.got == 0) {
      if (filled > 0) return Piece{true, filled, into};
      return Piece{piece_.ok, 0, into};
    }
    const DWORD n = std::min(want - filled, piece_.got - taken_);
    std::memcpy(into + filled, piece_.data + taken_, n);
    filled += n;
    taken_ += n;
  }
  return Piece{true, filled, into};
}

void ReadAhead::Limit(size_t bytes) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> l(shared_->lock);
    if (shared_->limit == bytes) return;
    shared_->limit = bytes;
    wake = shared_->readerWaiting && shared_->count <= Refill(*shared_);
  }
  if (wake) shared_->changed.notify_all();
}

void ReadAhead::Stop(const std::function<void()>& closeHandle) {
  if (stopped_) return;
  stopped_ = true;
  TellStop(*shared_);
  bool gone = false;
  {
    std::lock_guard<std::mutex> l(shared_->lock);
    gone = shared_->gone;
  }
  // A read under way on a silent server would hold the end of the transfer: it is ended.
  if (!gone && closeHandle) closeHandle();
  reader_.Wait(closeHandle);
}

}  // namespace velmora
