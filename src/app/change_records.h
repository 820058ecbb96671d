// The per-user record of what IfChanged=1 requests placed (change_store.h), beside the
// journal in %LOCALAPPDATA%\Velmora\Skytrove4\. Read when a request first wants it, so an
// agent that is never asked pays nothing at start.
#pragma once

#include <optional>
#include <string>

#include "app/change_store.h"
#include "app/journal_files.h"

namespace velmora {

class ChangeRecords {
 public:
  ChangeRecords();
  std::optional<ChangeRecord> Find(const std::wstring& destination);
  // False, with a log line, when it could not be written through.
  bool Keep(const ChangeRecord& record);

 private:
  void Locate();
  JournalDiskFiles files_{kChangeRecordsFileName};
  ChangeStore store_;
  bool located_ = false;
};

}  // namespace velmora
