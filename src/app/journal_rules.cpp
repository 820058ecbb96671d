#include "app/journal_rules.h"

#include <array>
#include <map>

#include "support/byte_codec.h"
#include "support/text.h"

namespace velmora {

namespace {

constexpr char kMagic[4] = {'V', 'S', 'Q', 'J'};
constexpr char kAdd = 'A';
constexpr char kDone = 'D';

std::array<uint32_t, 256> CrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

bool HoldsUrlSecret(const std::wstring& text) { return MaskUrlSecrets(text) != text; }

}  // namespace

uint32_t Crc32(const std::string& bytes) {
  static const std::array<uint32_t, 256> table = CrcTable();
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::string JournalHeader() {
  std::string out(kMagic, sizeof kMagic);
  PutU32(out, kJournalVersion);
  return out;
}

std::string JournalRecord(const std::string& body) {
  std::string out;
  PutU32(out, static_cast<uint32_t>(body.size()));
  PutU32(out, Crc32(body));
  return out + body;
}

std::optional<std::string> AddBody(uint64_t id, const DownloadRequest& r, const Sealer& seal) {
  std::string sealed;
  const bool secret = !r.Password.empty() || HoldsUrlSecret(r.SourceFileName) ||
                      HoldsUrlSecret(r.LinkedSourceFileName);
  if (secret) {
    std::string clear;
    PutText(clear, r.Password);
    PutText(clear, r.SourceFileName);
    PutText(clear, r.LinkedSourceFileName);
    const bool ok = seal && seal(clear, sealed);
    // The clear copy must not linger in freed memory longer than needed.
    for (char& c : clear) c = 0;
    if (!ok) return std::nullopt;
  }
  std::string body(1, kAdd);
  PutU64(body, id);
  PutText(body, r.Type);
  PutText(body, r.Reference);
  PutText(body, MaskUrlSecrets(r.SourceFileName));
  PutText(body, r.DestinationFileName);
  PutText(body, MaskUrlSecrets(r.LinkedSourceFileName));
  PutText(body, r.LinkedDestinationFileName);
  PutText(body, r.Username);
  PutText(body, r.Sha256);
  PutU32(body, static_cast<uint32_t>(r.ParentHWnd));
  PutU32(body, static_cast<uint32_t>(r.StoryReference));
  PutU32(body, static_cast<uint32_t>(r.StallSeconds));
  PutU32(body, static_cast<uint32_t>(r.Retries));
  body += static_cast<char>((r.PassiveMode ? 1 : 0) | (r.ReplyOnFailure ? 2 : 0) | (r.Progress ? 4 : 0) |
                            (r.IfChanged ? 8 : 0) | (r.KeepServerTime ? 16 : 0) | (r.Fast ? 32 : 0));
  body += static_cast<char>(r.Priority);
  PutU32(body, r.RequesterProcessId);
  PutU64(body, r.RequesterProcessCreated);
  PutText(body, r.RequesterProgram);
  PutBytes(body, sealed);
  // Only when there is one: a journal without caps stays readable by an agent before them.
  if (r.MaxBytesPerSecond > 0) PutU64(body, static_cast<uint64_t>(r.MaxBytesPerSecond));
  return body;
}

std::string DoneBody(uint64_t id) {
  std::string body(1, kDone);
  PutU64(body, id);
  return body;
}

bool UnsealEntry(JournalEntry& entry, const Sealer& unseal) {
  if (entry.sealed.empty()) return true;
  std::string clear;
  if (!unseal || !unseal(entry.sealed, clear)) return false;
  Cursor in(clear);
  std::wstring password = in.Text();
  std::wstring source = in.Text();
  std::wstring linked = in.Text();
  for (char& c : clear) c = 0;
  if (!in.AtEnd()) return false;
  entry.request.Password = std::move(password);
  entry.request.SourceFileName = std::move(source);
  entry.request.LinkedSourceFileName = std::move(linked);
  return true;
}

namespace {
// One body; false when it is not one this version writes.
// The adds read so far in their order, and where each still-live one stands by its number:
// a done finds its add without a search, so a long journal reads in linear time.
struct Added {
  std::vector<JournalEntry> entries;
  std::vector<bool> ended;
  std::multimap<uint64_t, size_t> live;  // equal numbers keep the order they were read in
};

bool ReadBody(const std::string& body, JournalContents& out, Added& added) {
  Cursor in(body);
  const char kind = static_cast<char>(in.U8());
  const uint64_t id = in.U64();
  if (!in.ok() || id == 0) return false;
  if (kind == kDone) {
    if (!in.AtEnd()) return false;
    out.lastId = id > out.lastId ? id : out.lastId;
    const auto it = added.live.lower_bound(id);
    if (it != added.live.end() && it->first == id) {
      added.ended[it->second] = true;
      added.live.erase(it);
    }
    return true;
  }
  if (kind != kAdd) return false;
  JournalEntry e;
  e.id = id;
  DownloadRequest& r = e.request;
  r.Type = in.Text();
  r.Reference = in.Text();
  r.SourceFileName = in.Text();
  r.DestinationFileName = in.Text();
  r.LinkedSourceFileName = in.Text();
  r.LinkedDestinationFileName = in.Text();
  r.Username = in.Text();
  r.Sha256 = in.Text();
  r.ParentHWnd = static_cast<int32_t>(in.U32());
  r.StoryReference = static_cast<int32_t>(in.U32());
  r.StallSeconds = static_cast<int32_t>(in.U32());
  r.Retries = static_cast<int32_t>(in.U32());
  const uint8_t flags = in.U8();
  const uint8_t priority = in.U8();
  r.RequesterProcessId = in.U32();
  r.RequesterProcessCreated = in.U64();
  r.RequesterProgram = in.Text();
  e.sealed = in.Bytes();
  if (in.ok() && !in.AtEnd()) r.MaxBytesPerSecond = static_cast<int64_t>(in.U64());
  if (!in.AtEnd() || priority > static_cast<uint8_t>(RequestPriority::Low)) return false;
  r.PassiveMode = (flags & 1) != 0;
  r.ReplyOnFailure = (flags & 2) != 0;
  r.Progress = (flags & 4) != 0;
  r.IfChanged = (flags & 8) != 0;
  r.KeepServerTime = (flags & 16) != 0;
  r.Fast = (flags & 32) != 0;
  r.Priority = static_cast<RequestPriority>(priority);
  r.Persist = true;
  r.JournalId = id;
  added.live.emplace(id, added.entries.size());
  added.entries.push_back(std::move(e));
  added.ended.push_back(false);
  out.lastId = id > out.lastId ? id : out.lastId;
  return true;
}
}  // namespace

JournalProblem ReadRecords(const std::string& bytes, size_t& at, const RecordReader& take) {
  while (at < bytes.size()) {
    if (bytes.size() - at < 8) return JournalProblem::Truncated;
    const uint32_t length = GetU32At(bytes, at);
    const uint32_t crc = GetU32At(bytes, at + 4);
    if (length > kMaxJournalRecord) return JournalProblem::BadRecord;
    if (bytes.size() - at - 8 < length) return JournalProblem::Truncated;
    const std::string body = bytes.substr(at + 8, length);
    if (Crc32(body) != crc) return JournalProblem::BadChecksum;
    if (!take(body, at, 8 + length)) return JournalProblem::BadRecord;
    at += 8 + length;
  }
  return JournalProblem::None;
}

JournalContents ReadJournal(const std::string& bytes) {
  JournalContents out;
  if (bytes.empty()) return out;
  if (bytes.size() < kJournalHeaderSize) {
    // A header cut short can only be ours if what there is matches it.
    out.problem = bytes.compare(0, bytes.size(), JournalHeader(), 0, bytes.size()) == 0 ? JournalProblem::Truncated
                                                                                          : JournalProblem::NotAJournal;
    return out;
  }
  if (bytes.compare(0, sizeof kMagic, kMagic, sizeof kMagic) != 0) {
    out.problem = JournalProblem::NotAJournal;
    return out;
  }
  if (GetU32At(bytes, 4) != kJournalVersion) {
    out.problem = JournalProblem::UnknownVersion;
    return out;
  }
  Added added;
  size_t at = kJournalHeaderSize;
  out.problem = ReadRecords(bytes, at, [&](const std::string& body, size_t start, size_t length) {
    const size_t before = added.entries.size();
    if (!ReadBody(body, out, added)) return false;
    if (added.entries.size() > before) added.entries.back().record = bytes.substr(start, length);
    return true;
  });
  out.readableBytes = out.problem == JournalProblem::None ? bytes.size() : at;
  for (size_t i = 0; i < added.entries.size(); ++i)
    if (!added.ended[i]) out.live.push_back(std::move(added.entries[i]));
  return out;
}

std::wstring DescribeProblem(const JournalContents& c) {
  const std::wstring where = L" at byte " + ToDecimal(static_cast<int64_t>(c.readableBytes));
  switch (c.problem) {
    case JournalProblem::None: return L"no problem";
    case JournalProblem::Truncated: return L"a record cut short" + where;
    case JournalProblem::BadChecksum: return L"a record with a bad checksum" + where;
    case JournalProblem::BadRecord: return L"a record this version cannot read" + where;
    case JournalProblem::UnknownVersion: return L"an unknown journal version";
    case JournalProblem::NotAJournal: return L"not a journal of this agent";
  }
  return L"a problem";
}

bool JournalWantsRewrite(uint64_t liveBytes, uint64_t deadBytes) {
  if (deadBytes == 0) return false;
  if (liveBytes == 0) return true;
  return deadBytes > liveBytes && deadBytes >= kJournalCompactFloor;
}

}  // namespace velmora
