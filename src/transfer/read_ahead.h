// The body of one HTTP answer read ahead on a worker: one reader, piece after piece, into a
// ring of its own, so that taking the next piece costs no hand-off to a worker while the
// window pauses over and writes the last one.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <functional>
#include <memory>

#include "support/offthread.h"

namespace velmora {

class ReadAhead {
 public:
  // What the next read brought. `data` stays valid until the next call to Next or Stop.
  struct Piece {
    bool ok = false;  // false: the read failed, or the wait was given up (a stop, the shut-down)
    DWORD got = 0;    // 0 with ok: the end of the body
    const char* data = nullptr;
  };

  // Starts reading `handle`, pieces of `pieceSize`, at most `depth` pieces ahead.
  ReadAhead(HINTERNET handle, size_t pieceSize, size_t depth);
  // Tells the reader to stop; waits for nothing.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next piece, in order, waiting for it when none has come yet (running messages, as
  // every wait of the window does). `closeHandle` runs when the wait is given up, after
  // the reader has been told to start no other read: it ends the read under way.
  Piece Next(const std::function<void()>& closeHandle);
  // Copies the next `want` bytes into `into`, over as many pieces as they take: fewer only
  // at the end of the body, or when a read failed or the wait was given up (`ok` false then
  // when no byte came). The pieces read may be larger than the caller's chunks.
  Piece Fill(char* into, DWORD want, const std::function<void()>& closeHandle);
  // Reads from now on take at most `bytes` (0: whole pieces), and each is read as soon as a
  // slot is free: under a cap the server then sees the pace, not bursts of half a ring.
  void Limit(size_t bytes);
  // Ends the reading: a read still under way is ended by `closeHandle`, and waited for, so
  // that nothing reads the handle once this returns (but after a given-up wait).
  void Stop(const std::function<void()>& closeHandle);

  // What the reader and the window share; it outlives a reader left behind.
  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  offthread::Pending reader_;
  Piece piece_;        // the piece Fill takes from, and how far it has taken
  DWORD taken_ = 0;
  bool stopped_ = false;
};

}  // namespace velmora
