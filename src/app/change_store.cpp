#include "app/change_store.h"

#include "support/byte_codec.h"
#include "support/text.h"

namespace velmora {

namespace {

constexpr char kMagic[4] = {'V', 'S', 'C', 'R'};
constexpr size_t kHeaderSize = 8;

std::string Header() {
  std::string out(kMagic, sizeof kMagic);
  PutU32(out, kChangeRecordsVersion);
  return out;
}

}  // namespace

void ChangeStore::Put(std::wstring key, std::string record) {
  const auto found = index_.find(key);
  if (found != index_.end()) {
    liveBytes_ -= found->second->record.size();
    order_.erase(found->second);
    index_.erase(found);
  }
  liveBytes_ += record.size();
  order_.push_back(Entry{key, std::move(record)});
  index_[std::move(key)] = std::prev(order_.end());
  while (index_.size() > limit_) {
    liveBytes_ -= order_.front().record.size();
    index_.erase(order_.front().key);
    order_.pop_front();
  }
}

void ChangeStore::Load() {
  if (loaded_) return;
  loaded_ = true;
  std::string bytes;
  std::wstring why;
  if (files_.ReadJournal(bytes, why) == JournalFiles::Read::Failed) {
    log_(L"Change records unreadable - " + why + L" - every file is fetched whole");
    return;
  }
  if (bytes.empty()) return;
  if (bytes.size() < kHeaderSize || bytes.compare(0, kHeaderSize, Header()) != 0) {
    log_(L"Change records not readable by this version - every file is fetched whole");
    return;
  }
  size_t at = kHeaderSize;
  const JournalProblem problem = ReadRecords(bytes, at, [this, &bytes](const std::string& body, size_t start, size_t length) {
    ChangeRecord record;
    if (!ReadChangeBody(body, record)) return false;
    Put(ChangeKey(record.destination), bytes.substr(start, length));
    return true;
  });
  if (problem != JournalProblem::None) {
    log_(L"Change records damaged at byte " + ToDecimal(static_cast<int64_t>(at)) + L" - keeping the " +
         ToDecimal(static_cast<int64_t>(index_.size())) + L" records before it");
    return;  // written afresh before the next record
  }
  size_ = bytes.size();
  appendable_ = true;
}

std::optional<ChangeRecord> ChangeStore::Find(const std::wstring& destination) {
  Load();
  const auto found = index_.find(ChangeKey(destination));
  if (found == index_.end()) return std::nullopt;
  ChangeRecord record;
  // Read back as written; the length and checksum were checked when it was.
  if (!ReadChangeBody(found->second->record.substr(8), record)) return std::nullopt;
  return record;
}

size_t ChangeStore::Count() {
  Load();
  return index_.size();
}

// In their order of use, so that a later run reads back the same set.
bool ChangeStore::Rewrite(std::wstring& why) {
  appendable_ = false;
  std::string bytes = Header();
  bytes.reserve(bytes.size() + liveBytes_);
  for (const Entry& entry : order_) bytes += entry.record;
  if (!WriteAfresh(files_, bytes, why)) return false;
  size_ = bytes.size();
  appendable_ = true;
  return true;
}

bool ChangeStore::Keep(const ChangeRecord& record, std::wstring& why) {
  Load();
  std::string written = JournalRecord(ChangeBody(record));
  const size_t length = written.size();
  Put(ChangeKey(record.destination), std::move(written));
  // Put in memory first, so a file written afresh holds it already.
  if (!appendable_) return Rewrite(why);
  if (!files_.Append(index_[ChangeKey(record.destination)]->record, why)) {
    appendable_ = false;
    return false;
  }
  size_ += length;
  const uint64_t dead = size_ - kHeaderSize - liveBytes_;
  if (JournalWantsRewrite(liveBytes_, dead)) {
    std::wstring ignored;
    Rewrite(ignored);  // the record is on the disk already; a failed compaction waits for the next
  }
  return true;
}

}  // namespace velmora
