#include "app/journal_store.h"

#include "support/text.h"

namespace velmora {

std::vector<DownloadRequest> JournalStore::Open(const Sealer& unseal) {
  std::vector<DownloadRequest> kept;
  std::string bytes;
  std::wstring why;
  if (files_.ReadJournal(bytes, why) == JournalFiles::Read::Failed) {
    log_(L"Journal unreadable - " + why);
    bytes.clear();
    damaged_ = true;
  }
  JournalContents contents = ReadJournal(bytes);
  bytes.clear();
  lastId_ = contents.lastId;
  if (contents.problem != JournalProblem::None) {
    log_(L"Journal damaged - " + DescribeProblem(contents) + L" - keeping the " +
         ToDecimal(static_cast<int64_t>(contents.live.size())) + L" requests before it");
    damaged_ = true;
  }
  for (JournalEntry& entry : contents.live) {
    if (!UnsealEntry(entry, unseal)) {
      log_(L"Journal request " + ToDecimal(static_cast<int64_t>(entry.id)) + L" cannot be unsealed - " +
           MaskUrlSecrets(entry.request.SourceFileName) + L" - left out");
      damaged_ = true;
      continue;
    }
    liveBytes_ += entry.record.size();
    live_[entry.id] = std::move(entry.record);
    kept.push_back(std::move(entry.request));
  }
  // A damaged journal that could not be set aside has said so already.
  if (!Ready(why) && !damaged_) log_(L"Journal cannot be written - " + why + L" - persisted requests are refused");
  return kept;
}

bool JournalStore::Ready(std::wstring& why) {
  if (appendable_) return true;
  if (damaged_) {
    // Until a copy is safe the damaged journal stays as it is: its readable requests are
    // queued all the same and come back from it at the next start; new ones are refused,
    // as nothing can be appended behind damage that the reader stops at.
    std::wstring aside, reason;
    if (!files_.CopyAside(aside, reason)) {
      log_(L"Journal could not be moved aside - " + reason);
      log_(L"Journal left as it is - persisted requests are refused until it can be moved aside");
      why = L"the damaged journal cannot be moved aside - " + reason;
      return false;
    }
    log_(L"Journal moved aside to " + aside);
    damaged_ = false;
  }
  return Rewrite(why);
}

bool JournalFiles::ReadPart(uint64_t offset, size_t length, std::string& bytes, std::wstring& why) {
  std::string whole;
  if (ReadJournal(whole, why) != Read::Whole || offset > whole.size() || whole.size() - offset < length) return false;
  bytes = whole.substr(offset, length);
  return true;
}

bool WriteAfresh(JournalFiles& files, const std::string& bytes, std::wstring& why) {
  if (files.WriteFresh(bytes, why) && files.PutFreshInPlace(why)) return true;
  files.DeleteFresh();
  return false;
}

bool JournalStore::Rewrite(std::wstring& why) {
  appendable_ = false;
  std::string bytes = JournalHeader();
  bytes.reserve(bytes.size() + liveBytes_);
  for (const auto& live : live_) bytes += live.second;
  if (!WriteAfresh(files_, bytes, why)) return false;
  size_ = bytes.size();
  appendable_ = true;
  return true;
}

bool JournalStore::Append(const std::string& record, std::wstring& why) {
  if (!Ready(why)) return false;
  if (!files_.Append(record, why)) {
    appendable_ = false;
    return false;
  }
  size_ += record.size();
  return true;
}

bool JournalStore::Add(uint64_t id, const std::string& body, std::wstring& why) {
  // The reader takes a longer record for damage and stops there, dropping every later one.
  if (body.size() > kMaxJournalRecord) {
    why = L"its record would be " + ToDecimal(static_cast<int64_t>(body.size())) +
          L" bytes, more than the journal's limit of " + ToDecimal(kMaxJournalRecord) + L" bytes";
    return false;
  }
  std::string record = JournalRecord(body);
  if (!Append(record, why)) return false;
  lastId_ = id;
  liveBytes_ += record.size();
  live_[id] = std::move(record);
  return true;
}

bool JournalStore::Done(uint64_t id, std::wstring& why) {
  const auto it = live_.find(id);
  if (id == 0 || it == live_.end()) return true;
  liveBytes_ -= it->second.size();
  live_.erase(it);
  // The end goes on disk first: a kill during the compaction then leaves it noted either way.
  if (!Append(JournalRecord(DoneBody(id)), why)) return false;
  const uint64_t dead = size_ - kJournalHeaderSize - liveBytes_;
  // A compaction that fails leaves the journal as it was, the end in it; the next write
  // starts afresh and answers for itself.
  std::wstring ignored;
  if (JournalWantsRewrite(liveBytes_, dead)) Rewrite(ignored);
  return true;
}

}  // namespace velmora
