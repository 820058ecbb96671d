// The download list: pending requests in arrival order, head first, with the rules that
// accept, refuse and remove them. Plain C++; the window shows and drives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/download_request.h"

namespace velmora {

enum class AddOutcome {
  Accepted,
  NoRequester,
  NoTypeOrSource,
  DestinationNotFullPath,
  AlreadyInList,
  AlreadyInLinkedList,
  Full
};

class DownloadQueue {
 public:
  // The display and the removals of the original design walk the list with a signed
  // 16-bit index; the limit stays so that behaviour at the edge is the same everywhere.
  static constexpr size_t kMaxPending = 32767;

  AddOutcome Add(const DownloadRequest& request);
  size_t Count() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }
  // 0-based: At(0) is the head.
  const DownloadRequest& At(size_t index) const { return entries_[index].request; }

  // The index of the first entry whose retry is due at tick `now` (DueAt 0 is always
  // due); Count() when none is.
  size_t NextRunnable(uint64_t now) const;
  // Sets the first matching entry (as RemoveFirstMatch matches) to wait until `dueAt`
  // with `attempts` made; false when none matched (it was removed meanwhile).
  bool Reschedule(const DownloadRequest& request, uint64_t dueAt, int32_t attempts);

  // Removes the first entry with the same source and destination (exact) whose window
  // matches (any window when the request's is 0). Returns false when none matched.
  bool RemoveFirstMatch(const DownloadRequest& request, std::wstring* removedSource = nullptr);
  // Removes every entry of `parent`, keeping the others in order; returns how many went.
  size_t RemoveParent(int32_t parent);
  void Clear();

 private:
  struct Entry {
    uint64_t sequence;
    DownloadRequest request;
  };
  using Index = std::unordered_map<std::wstring, std::set<uint64_t>>;

  static bool DestinationsAreFull(const DownloadRequest& request);
  static std::wstring Key(int32_t parent, const std::wstring& type, const std::wstring& source);
  void Unindex(const Entry& entry);
  void EraseAt(size_t index);
  size_t FindFirstMatch(const DownloadRequest& request) const;

  std::deque<Entry> entries_;
  Index bySource_;  // rivals by their own source
  Index byLinked_;  // rivals by their linked source
  uint64_t nextSequence_ = 1;
};

}  // namespace velmora
