// The journal's file operations on the disk: the per-user folder, the journal in it, the
// fresh one beside it and the copies set aside, every write flushed through.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "app/journal_store.h"
#include "support/handles.h"

namespace velmora {

inline constexpr wchar_t kJournalFileName[] = L"queue.journal";
// What IfChanged=1 requests placed (change_store.h), beside the journal, in the same kind of file.
inline constexpr wchar_t kChangeRecordsFileName[] = L"changes.records";

// %LOCALAPPDATA%\Velmora\Skytrove4; empty when the profile's folder cannot be told.
std::wstring JournalFolder();

class JournalDiskFiles : public JournalFiles {
 public:
  explicit JournalDiskFiles(std::wstring name = kJournalFileName) : name_(std::move(name)) {}
  // The journal in `folder`, which exists. Without it the first fresh file looks for the
  // folder and makes it.
  void Locate(const std::wstring& folder);

  Read ReadJournal(std::string& bytes, std::wstring& why) override;
  bool ReadPart(uint64_t offset, size_t length, std::string& bytes, std::wstring& why) override;
  bool CopyAside(std::wstring& aside, std::wstring& why) override;
  bool WriteFresh(const std::string& bytes, std::wstring& why) override;
  bool PutFreshInPlace(std::wstring& why) override;
  void DeleteFresh() override;
  bool Append(const std::string& record, std::wstring& why) override;

 private:
  const std::wstring name_;
  std::wstring folder_;
  std::wstring path_;
  UniqueFile file_;     // the journal, open for appending once put in place
  uint64_t fresh_ = 0;  // the size of the fresh file, then of the journal
};

}  // namespace velmora
