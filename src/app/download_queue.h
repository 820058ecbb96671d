// The download list: pending requests in run order, head first (by priority class, then
// arrival), with the rules that accept, refuse and remove them; and the history of
// finished requests that STATUS reads. Plain C++; the window shows and drives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "protocol/download_request.h"
#include "protocol/request_state.h"

namespace velmora {

enum class AddOutcome {
  Accepted,
  NoRequester,
  NoTypeOrSource,
  DestinationNotFullPath,
  DestinationNotFileName,
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
  // The request at `index` starts: it moves to the head and stays there, never passed by
  // a later arrival however urgent, until EndRun or its removal.
  const DownloadRequest& BeginRun(size_t index);
  void EndRun() { pinned_ = 0; }
  // The sequence number of the request pinned at the head, while it is still listed; 0 when
  // none. Only the order: whether and how a request runs is the dispatcher's record.
  uint64_t Pinned() const;
  // What STATUS calls the place at `index`: 0 the running request, 1.. those waiting.
  size_t Position(size_t index) const { return Pinned() != 0 ? index : index + 1; }
  // Removes the request with that sequence number; false when it is no longer listed.
  bool RemoveSequence(uint64_t sequence, std::wstring* removedSource = nullptr);
  // Removes every request `match` accepts, the running one included, and returns them in
  // run order.
  std::vector<DownloadRequest> RemoveMatching(const std::function<bool(const DownloadRequest&)>& match);

  // Removes the first entry with the same source and destination (exact) whose window
  // matches (any window when the request's is 0). Returns false when none matched.
  bool RemoveFirstMatch(const DownloadRequest& request, std::wstring* removedSource = nullptr);
  // Removes every entry of `parent` but the persisted ones (they outlive their requester),
  // keeping the others in order; returns how many went.
  size_t RemoveParent(int32_t parent);
  void Clear();

 private:
  struct Entry {
    uint64_t sequence;
    DownloadRequest request;
  };
  using Index = std::unordered_map<std::wstring, std::set<uint64_t>>;

  static bool DestinationsPass(const DownloadRequest& request, bool (*rule)(const std::wstring&));
  static std::wstring Key(int32_t parent, const std::wstring& type, const std::wstring& source);
  void Unindex(const Entry& entry);
  void EraseAt(size_t index);
  size_t FindFirstMatch(const DownloadRequest& request) const;

  std::deque<Entry> entries_;
  uint64_t pinned_ = 0;  // sequence number of the request pinned at the head
  Index bySource_;  // rivals by their own source
  Index byLinked_;  // rivals by their linked source
  uint64_t nextSequence_ = 1;
};

struct FinishedRequest {
  DownloadRequest request;
  RequestState state = RequestState::Done;
  std::wstring reason;  // why it failed
  uint64_t finishedAt = 0;
};

// Finished requests, for STATUS: each kept kKeepMs after it ended, and never more than the
// last kMaxKept, so a requester sending thousands keeps the agent's memory bounded.
class RequestHistory {
 public:
  static constexpr size_t kMaxKept = 1000;
  static constexpr uint64_t kKeepMs = 10 * 60 * 1000;

  // `now` is a millisecond tick count; the ticks passed in never go back.
  void Add(const DownloadRequest& request, RequestState state, const std::wstring& reason, uint64_t now);
  // The requests of window `parent` with that reference, oldest first.
  std::vector<FinishedRequest> Find(int32_t parent, const std::wstring& reference, uint64_t now);
  std::vector<FinishedRequest> FindWhere(const std::function<bool(const DownloadRequest&)>& match, uint64_t now);
  size_t Count() const { return kept_.size(); }

 private:
  void Forget(uint64_t now);
  std::deque<FinishedRequest> kept_;
};

}  // namespace velmora
