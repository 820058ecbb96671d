#include "transfer/read_ahead.h"

namespace velmora {

ReadAhead::ReadAhead(HINTERNET handle, size_t pieceSize, size_t depth)
    : handle_(handle), pieceSize_(pieceSize), depth_(depth) {}

void ReadAhead::Fill() {
  while (pending_.size() < depth_) {
    const uint64_t mine = issued_++;
    auto data = std::make_shared<std::vector<char>>(pieceSize_);
    pending_.push_back(offthread::Begin([h = handle_, turns = turns_, data, mine] {
      AheadRead r;
      r.data = data;
      {
        std::unique_lock<std::mutex> hold(turns->lock);
        turns->changed.wait(hold, [&] { return turns->stopped || turns->turn == mine; });
        // The handle may be closed by now, and its value another's.
        if (turns->stopped) return r;
      }
      r.ok = InternetReadFile(h, data->data(), static_cast<DWORD>(data->size()), &r.got) != FALSE;
      {
        std::lock_guard<std::mutex> hold(turns->lock);
        ++turns->turn;
      }
      turns->changed.notify_all();
      return r;
    }));
  }
}

offthread::Result<AheadRead> ReadAhead::Next(const std::function<void()>& cancel) {
  if (pending_.empty()) return {};
  auto oldest = std::move(pending_.front());
  pending_.pop_front();
  return oldest.Wait([this, &cancel] {
    Stop();
    if (cancel) cancel();
  });
}

void ReadAhead::Stop() {
  {
    std::lock_guard<std::mutex> hold(turns_->lock);
    turns_->stopped = true;
  }
  turns_->changed.notify_all();
  pending_.clear();
}

}  // namespace velmora
