#include "app/change_records.h"

#include "support/debug_log.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {
void Log(const std::wstring& text) { WriteDebugLog(text, 5, kMarkNone); }
}  // namespace

ChangeRecords::ChangeRecords() : store_(files_, &Log) {}

// Without a profile folder the first record finds none and says so when it is written.
void ChangeRecords::Locate() {
  if (located_) return;
  located_ = true;
  const std::wstring folder = JournalFolder();
  if (!folder.empty()) files_.Locate(folder);
}

std::optional<ChangeRecord> ChangeRecords::Find(const std::wstring& destination) {
  Locate();
  return store_.Find(destination);
}

bool ChangeRecords::Keep(const ChangeRecord& record) {
  Locate();
  std::wstring why;
  if (store_.Keep(record, why)) return true;
  Log(L"Change record not kept - " + why + L" - " + record.destination + L" will be fetched whole next time");
  return false;
}

}  // namespace velmora
