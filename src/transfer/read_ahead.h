// Reads of one WinINet handle made one after another on the workers, with several of them
// on their way at once: the next pieces arrive while the window writes this one. A handle
// takes one read at a time, so each read waits for its turn.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "support/offthread.h"

namespace velmora {

struct AheadRead {
  bool ok = false;
  DWORD got = 0;
  std::shared_ptr<std::vector<char>> data;  // the piece it read into
};

class ReadAhead {
 public:
  ReadAhead(HINTERNET handle, size_t pieceSize, size_t depth);
  // Stops: a read left on its way owns what it uses.
  ~ReadAhead() { Stop(); }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Starts reads until `depth` of them are on their way.
  void Fill();
  // Waits for the oldest read (running messages, as every offthread wait).
  offthread::Result<AheadRead> Next(const std::function<void()>& cancel);
  // No read that has not begun will begin: said before the handle is closed.
  void Stop();

 private:
  struct Turns {
    std::mutex lock;
    std::condition_variable changed;
    uint64_t turn = 0;
    bool stopped = false;
  };
  HINTERNET handle_;
  size_t pieceSize_;
  size_t depth_;
  uint64_t issued_ = 0;
  std::shared_ptr<Turns> turns_ = std::make_shared<Turns>();
  std::deque<offthread::PendingCall<AheadRead>> pending_;
};

}  // namespace velmora
