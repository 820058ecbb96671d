#include "app/download_queue.h"

#include "support/paths.h"
#include "support/text.h"

namespace velmora {

// Rivals are entries of the same window and type (type without regard to case); the key
// folds case so that a source in other letter case meets its twin.
std::wstring DownloadQueue::Key(int32_t parent, const std::wstring& type, const std::wstring& source) {
  std::wstring key = std::to_wstring(parent);
  key += L'\x1';
  key += UpperCase(type);
  key += L'\x1';
  key += UpperCase(source);
  return key;
}

// A relative destination would be resolved against the agent's working folder (System32
// when started at sign-in); a device or stream name writes no file of its own. Only the
// types that write locally are held to it; an empty destination is the transfer's to
// refuse, as it always was.
bool DownloadQueue::DestinationsPass(const DownloadRequest& request, bool (*rule)(const std::wstring&)) {
  const std::wstring type = UpperCase(request.Type);
  if (type != L"HTTP" && type != L"FTP") return true;
  auto passes = [&](const std::wstring& path) { return path.empty() || rule(path); };
  return passes(request.DestinationFileName) && (type != L"FTP" || passes(request.LinkedDestinationFileName));
}

// The duplicate test walks the list in order and stops at the first rival that matches
// either way; with the two indexes that is the smallest sequence number among the
// matches, and a rival matching both ways counts as "already in list". An index keeps a
// burst of thousands of requests linear instead of quadratic.
AddOutcome DownloadQueue::Add(const DownloadRequest& request) {
  // Without a window there is no one to answer, and a removal with window 0 would match
  // anyone's entry.
  if (request.ParentHWnd == 0) return AddOutcome::NoRequester;
  if (request.Type.empty() || request.SourceFileName.empty()) return AddOutcome::NoTypeOrSource;
  if (!DestinationsPass(request, IsFullPath)) return AddOutcome::DestinationNotFullPath;
  if (!DestinationsPass(request, NamesPlainFile)) return AddOutcome::DestinationNotFileName;
  const std::wstring key = Key(request.ParentHWnd, request.Type, request.SourceFileName);
  const auto bySource = bySource_.find(key);
  const auto byLinked = byLinked_.find(key);
  const uint64_t none = UINT64_MAX;
  const uint64_t firstSource = bySource != bySource_.end() ? *bySource->second.begin() : none;
  const uint64_t firstLinked = byLinked != byLinked_.end() ? *byLinked->second.begin() : none;
  if (firstSource != none || firstLinked != none)
    return firstSource <= firstLinked ? AddOutcome::AlreadyInList : AddOutcome::AlreadyInLinkedList;
  if (entries_.size() >= kMaxPending) return AddOutcome::Full;

  Entry entry{nextSequence_++, request};
  entry.request.Sequence = entry.sequence;
  entry.request.SourceFileLastWriteTime.clear();
  entry.request.LinkedSourceFileLastWriteTime.clear();
  entry.request.BytesDone = 0;
  entry.request.BytesTotal = -1;
  bySource_[key].insert(entry.sequence);
  if (!request.LinkedSourceFileName.empty())
    byLinked_[Key(request.ParentHWnd, request.Type, request.LinkedSourceFileName)].insert(entry.sequence);
  // Behind every request of its class or a more urgent one, and behind the running one.
  // Searched from the tail: a burst of one class costs nothing per request.
  size_t at = entries_.size();
  while (at > 0 && entries_[at - 1].request.Priority > request.Priority && entries_[at - 1].sequence != pinned_) --at;
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
  return AddOutcome::Accepted;
}

void DownloadQueue::Unindex(const Entry& entry) {
  const DownloadRequest& r = entry.request;
  auto drop = [&](Index& index, const std::wstring& key) {
    auto it = index.find(key);
    if (it == index.end()) return;
    it->second.erase(entry.sequence);
    if (it->second.empty()) index.erase(it);
  };
  drop(bySource_, Key(r.ParentHWnd, r.Type, r.SourceFileName));
  if (!r.LinkedSourceFileName.empty()) drop(byLinked_, Key(r.ParentHWnd, r.Type, r.LinkedSourceFileName));
}

void DownloadQueue::EraseAt(size_t index) {
  Unindex(entries_[index]);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
}

size_t DownloadQueue::FindFirstMatch(const DownloadRequest& request) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    const DownloadRequest& e = entries_[i].request;
    if (e.SourceFileName == request.SourceFileName && e.DestinationFileName == request.DestinationFileName &&
        (request.ParentHWnd == 0 || e.ParentHWnd == request.ParentHWnd))
      return i;
  }
  return entries_.size();
}

bool DownloadQueue::RemoveFirstMatch(const DownloadRequest& request, std::wstring* removedSource) {
  const size_t i = FindFirstMatch(request);
  if (i == entries_.size()) return false;
  if (removedSource) *removedSource = entries_[i].request.SourceFileName;
  EraseAt(i);
  return true;
}

size_t DownloadQueue::NextRunnable(uint64_t now) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].request.DueAt <= now) return i;
  return entries_.size();
}

bool DownloadQueue::Reschedule(const DownloadRequest& request, uint64_t dueAt, int32_t attempts) {
  // By its number when it has one: a twin sent meanwhile must not take its place.
  size_t i = entries_.size();
  if (request.Sequence != 0) {
    for (size_t k = 0; k < entries_.size(); ++k)
      if (entries_[k].sequence == request.Sequence) i = k;
  } else {
    i = FindFirstMatch(request);
  }
  if (i == entries_.size()) return false;
  entries_[i].request.DueAt = dueAt;
  entries_[i].request.Attempts = attempts;
  return true;
}

size_t DownloadQueue::RemoveParent(int32_t parent) {
  size_t removed = 0;
  for (size_t i = 0; i < entries_.size();) {
    if (entries_[i].request.ParentHWnd != parent || entries_[i].request.Persist) {
      ++i;
      continue;
    }
    EraseAt(i);
    ++removed;
  }
  return removed;
}

const DownloadRequest& DownloadQueue::BeginRun(size_t index) {
  if (index != 0) {
    Entry entry = std::move(entries_[index]);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    entries_.push_front(std::move(entry));
  }
  pinned_ = entries_.front().sequence;
  return entries_.front().request;
}

uint64_t DownloadQueue::Pinned() const {
  return pinned_ != 0 && !entries_.empty() && entries_.front().sequence == pinned_ ? pinned_ : 0;
}

bool DownloadQueue::RemoveSequence(uint64_t sequence, std::wstring* removedSource) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].sequence != sequence) continue;
    if (removedSource) *removedSource = entries_[i].request.SourceFileName;
    EraseAt(i);
    return true;
  }
  return false;
}

// One pass that keeps the rest in order: cancelling thousands stays linear.
std::vector<DownloadRequest> DownloadQueue::RemoveMatching(const std::function<bool(const DownloadRequest&)>& match) {
  std::vector<DownloadRequest> removed;
  std::deque<Entry> kept;
  for (Entry& entry : entries_) {
    if (match(entry.request)) {
      Unindex(entry);
      removed.push_back(std::move(entry.request));
    } else {
      kept.push_back(std::move(entry));
    }
  }
  entries_.swap(kept);  // even when none went: the entries were moved into `kept`
  return removed;
}

void DownloadQueue::Clear() {
  pinned_ = 0;
  entries_.clear();
  bySource_.clear();
  byLinked_.clear();
}

void RequestHistory::Forget(uint64_t now) {
  while (!kept_.empty() && (kept_.size() > kMaxKept || now - kept_.front().finishedAt >= kKeepMs)) kept_.pop_front();
}

void RequestHistory::Add(const DownloadRequest& request, RequestState state, const std::wstring& reason, uint64_t now) {
  kept_.push_back(FinishedRequest{request, state, reason, now});
  // STATUS never shows it, and it need not outlive its request.
  kept_.back().request.Password.clear();
  Forget(now);
}

std::vector<FinishedRequest> RequestHistory::Find(int32_t parent, const std::wstring& reference, uint64_t now) {
  return FindWhere([&](const DownloadRequest& r) { return r.ParentHWnd == parent && r.Reference == reference; }, now);
}

std::vector<FinishedRequest> RequestHistory::FindWhere(const std::function<bool(const DownloadRequest&)>& match,
                                                       uint64_t now) {
  Forget(now);
  std::vector<FinishedRequest> found;
  for (const FinishedRequest& f : kept_)
    if (match(f.request)) found.push_back(f);
  return found;
}

}  // namespace velmora
