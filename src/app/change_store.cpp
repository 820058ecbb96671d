#include "app/change_store.h"

#include "support/byte_codec.h"
#include "support/text.h"

namespace velmora {

namespace {

constexpr char kMagic[4] = {'V', 'S', 'C', 'R'};
constexpr size_t kHeaderSize = 8;
constexpr size_t kFrame = 8;  // a record's length and checksum

std::string Header() {
  std::string out(kMagic, sizeof kMagic);
  PutU32(out, kChangeRecordsVersion);
  return out;
}

// FNV-1a over the key's UTF-16 units.
uint64_t KeyOf(const std::wstring& destination) {
  uint64_t h = 14695981039346656037ull;
  for (wchar_t c : ChangeKey(destination)) {
    h = (h ^ (static_cast<uint16_t>(c) & 0xFF)) * 1099511628211ull;
    h = (h ^ (static_cast<uint16_t>(c) >> 8)) * 1099511628211ull;
  }
  return h;
}

// A whole record as it was read back: the frame must still fit its body.
bool ReadWhole(const std::string& bytes, ChangeRecord& record) {
  if (bytes.size() < kFrame || GetU32At(bytes, 0) != bytes.size() - kFrame) return false;
  const std::string body = bytes.substr(kFrame);
  return Crc32(body) == GetU32At(bytes, 4) && ReadChangeBody(body, record);
}

}  // namespace

void ChangeStore::Put(Order& order, Index& index, uint64_t& liveBytes, size_t limit, const Slot& slot) {
  const auto found = index.find(slot.key);
  if (found != index.end()) {
    liveBytes -= found->second->length;
    order.erase(found->second);
    index.erase(found);
  }
  liveBytes += slot.length;
  order.push_back(slot);
  index[slot.key] = std::prev(order.end());
  while (index.size() > limit) {
    liveBytes -= order.front().length;
    index.erase(order.front().key);
    order.pop_front();
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
  const JournalProblem problem = ReadRecords(bytes, at, [this](const std::string& body, size_t start, size_t length) {
    ChangeRecord record;
    if (!ReadChangeBody(body, record)) return false;
    Put(order_, index_, liveBytes_, limit_, Slot{KeyOf(record.destination), start, static_cast<uint32_t>(length)});
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
  const auto found = index_.find(KeyOf(destination));
  if (found == index_.end()) return std::nullopt;
  std::string bytes;
  std::wstring why;
  ChangeRecord record;
  if (!files_.ReadPart(found->second->offset, found->second->length, bytes, why) || !ReadWhole(bytes, record) ||
      ChangeKey(record.destination) != ChangeKey(destination))
    return std::nullopt;
  return record;
}

size_t ChangeStore::Count() {
  Load();
  return index_.size();
}

// In their order of use, so that a later run reads back the same set. The live records
// are copied from the file as it is; what cannot be read back is left out.
bool ChangeStore::Rewrite(const std::string& pending, uint64_t pendingKey, std::wstring& why) {
  std::string old;
  if (!order_.empty() && files_.ReadJournal(old, why) != JournalFiles::Read::Whole) old.clear();
  std::string bytes = Header();
  bytes.reserve(kHeaderSize + liveBytes_ + pending.size());
  Order order;
  Index index;
  uint64_t liveBytes = 0;
  for (const Slot& slot : order_) {
    ChangeRecord record;
    if ((!pending.empty() && slot.key == pendingKey) || slot.offset > old.size() || old.size() - slot.offset < slot.length ||
        !ReadWhole(old.substr(slot.offset, slot.length), record))
      continue;
    Put(order, index, liveBytes, limit_, Slot{slot.key, bytes.size(), slot.length});
    bytes.append(old, slot.offset, slot.length);
  }
  old.clear();
  if (!pending.empty()) {
    Put(order, index, liveBytes, limit_, Slot{pendingKey, bytes.size(), static_cast<uint32_t>(pending.size())});
    bytes += pending;
  }
  if (!WriteAfresh(files_, bytes, why)) {
    appendable_ = false;
    return false;
  }
  order_.swap(order);
  index_.swap(index);
  liveBytes_ = liveBytes;
  size_ = bytes.size();
  appendable_ = true;
  return true;
}

bool ChangeStore::Keep(const ChangeRecord& record, std::wstring& why) {
  Load();
  const std::string written = JournalRecord(ChangeBody(record));
  const uint64_t key = KeyOf(record.destination);
  if (!appendable_) return Rewrite(written, key, why);
  if (!files_.Append(written, why)) {
    appendable_ = false;
    return false;
  }
  Put(order_, index_, liveBytes_, limit_, Slot{key, size_, static_cast<uint32_t>(written.size())});
  size_ += written.size();
  if (JournalWantsRewrite(liveBytes_, size_ - kHeaderSize - liveBytes_)) {
    std::wstring ignored;
    Rewrite(std::string(), 0, ignored);  // the record is on the disk already; a failed compaction waits for the next
  }
  return true;
}

}  // namespace velmora
