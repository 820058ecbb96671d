// Any bytes as a journal left on disk: reading them must neither crash nor read out of
// bounds, what is read back must be whole records that read back the same on their own,
// and any text as a request field comes back unchanged through a record. The same bytes as
// change records: every record read writes back to the very same body.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/journal_rules.h"
#include "transfer/change_rules.h"

namespace {
bool Flip(const std::string& in, std::string& out) {
  out = in;
  for (char& c : out) c = static_cast<char>(~c);
  return true;
}

// Records behind a sound header, so that the search need not find the header first.
void ReadBack(const std::string& bytes) {
  const velmora::JournalContents read = velmora::ReadJournal(bytes);
  if (read.readableBytes > bytes.size()) __builtin_trap();
  std::string again = velmora::JournalHeader();
  for (velmora::JournalEntry entry : read.live) {
    again += entry.record;
    velmora::UnsealEntry(entry, &Flip);
  }
  const velmora::JournalContents reread = velmora::ReadJournal(again);
  if (reread.problem != velmora::JournalProblem::None || reread.live.size() != read.live.size()) __builtin_trap();
}

void ReadChanges(const std::string& bytes) {
  size_t at = 0;
  velmora::ReadRecords(bytes, at, [](const std::string& body, size_t, size_t) {
    velmora::ChangeRecord record;
    if (!velmora::ReadChangeBody(body, record)) return false;
    if (velmora::ChangeBody(record) != body) __builtin_trap();
    return true;
  });
  if (at > bytes.size()) __builtin_trap();
  // The bytes as one body: the checksum would keep most of them from the reader above.
  velmora::ChangeRecord record;
  if (velmora::ReadChangeBody(bytes, record) && velmora::ChangeBody(record) != bytes) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ReadBack(bytes);
  ReadBack(velmora::JournalHeader() + bytes);
  ReadChanges(bytes);

  std::wstring text;
  for (size_t i = 0; i < size; ++i) text += static_cast<wchar_t>(data[i]);
  velmora::DownloadRequest r;
  r.Reference = text;
  r.Password = text;
  r.SourceFileName = L"ftp://u:" + text + L"@h/f";
  r.ParentHWnd = 1;
  const auto body = velmora::AddBody(7, r, &Flip);
  if (!body) __builtin_trap();
  velmora::JournalContents back = velmora::ReadJournal(velmora::JournalHeader() + velmora::JournalRecord(*body));
  if (back.live.size() != 1 || !velmora::UnsealEntry(back.live[0], &Flip)) __builtin_trap();
  const velmora::DownloadRequest& got = back.live[0].request;
  if (got.Reference != text || got.Password != text || got.SourceFileName != r.SourceFileName) __builtin_trap();
  return 0;
}
