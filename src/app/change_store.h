// The destinations IfChanged=1 requests placed, remembered across runs, in plain C++: read
// once when first wanted, each change written through before it is reported kept, the
// least recently used dropped beyond the limit. The file operations are the journal's
// (JournalFiles), so the same tests of kills and damage apply.
//
// Layout: an 8-byte header ("VSCR" and the format version), then the journal's records
// (length, CRC-32, body), each body one ChangeRecord as kept. A later record of the same
// destination replaces the earlier one and makes it the most recently used, so reading
// the records in order, with the same limit, gives back exactly the set that was kept.
// A torn or damaged record ends the reading: what stood before it is kept, nothing after
// it can validate a file, and the file is written afresh before the next record.
//
// Memory holds where each record stands in the file, not the record: a hundred thousand
// destinations cost a few megabytes, and a lookup reads its one record back.
#pragma once

#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>

#include "app/journal_store.h"
#include "transfer/change_rules.h"

namespace velmora {

inline constexpr uint32_t kChangeRecordsVersion = 1;

class ChangeStore {
 public:
  ChangeStore(JournalFiles& files, JournalLog log, size_t limit = kMaxChangeRecords)
      : files_(files), log_(std::move(log)), limit_(limit) {}
  ChangeStore(const ChangeStore&) = delete;
  ChangeStore& operator=(const ChangeStore&) = delete;

  std::optional<ChangeRecord> Find(const std::wstring& destination);
  // On the disk before it returns true; the destination becomes the most recently used.
  bool Keep(const ChangeRecord& record, std::wstring& why);
  size_t Count();

 private:
  // One record in the file: the destination's key (a hash of ChangeKey; a record read
  // back names its destination, so two keys that collide are told apart) and its bytes.
  struct Slot {
    uint64_t key = 0;
    uint64_t offset = 0;
    uint32_t length = 0;
  };
  using Order = std::list<Slot>;  // least recently used first
  using Index = std::unordered_map<uint64_t, Order::iterator>;
  void Load();
  static void Put(Order& order, Index& index, uint64_t& liveBytes, size_t limit, const Slot& slot);
  // The file written afresh with the live records and then `pending` (a whole record).
  bool Rewrite(const std::string& pending, uint64_t pendingKey, std::wstring& why);

  JournalFiles& files_;
  JournalLog log_;
  const size_t limit_;
  Order order_;
  Index index_;
  uint64_t liveBytes_ = 0;
  uint64_t size_ = 0;  // the file's bytes while appendable
  bool loaded_ = false;
  bool appendable_ = false;
};

}  // namespace velmora
