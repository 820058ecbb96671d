#include "app/journal_rules.h"

#include <array>
#include <map>

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

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutU64(std::string& out, uint64_t v) {
  PutU32(out, static_cast<uint32_t>(v));
  PutU32(out, static_cast<uint32_t>(v >> 32));
}
void PutBytes(std::string& out, const std::string& bytes) {
  PutU32(out, static_cast<uint32_t>(bytes.size()));
  out += bytes;
}
// UTF-16 code units, as the agent holds its texts on Windows.
void PutText(std::string& out, const std::wstring& text) {
  PutU32(out, static_cast<uint32_t>(text.size()));
  for (wchar_t c : text) {
    const auto unit = static_cast<uint16_t>(c);
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
}

uint32_t GetU32At(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
  return v;
}

// Reads a body front to back; any read past its end leaves it failed for good.
class Cursor {
 public:
  explicit Cursor(const std::string& bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return ok_ && at_ == bytes_.size(); }
  bool Has(size_t n) {
    if (ok_ && bytes_.size() - at_ >= n) return true;
    ok_ = false;
    return false;
  }
  uint8_t U8() { return Has(1) ? static_cast<uint8_t>(bytes_[at_++]) : 0; }
  uint32_t U32() {
    if (!Has(4)) return 0;
    const uint32_t v = GetU32At(bytes_, at_);
    at_ += 4;
    return v;
  }
  uint64_t U64() {
    const uint64_t low = U32();
    return low | (static_cast<uint64_t>(U32()) << 32);
  }
  std::string Bytes() {
    const uint32_t n = U32();
    if (!Has(n)) return std::string();
    std::string out = bytes_.substr(at_, n);
    at_ += n;
    return out;
  }
  std::wstring Text() {
    const uint32_t n = U32();
    if (n > bytes_.size() / 2 || !Has(static_cast<size_t>(n) * 2)) {
      ok_ = false;
      return std::wstring();
    }
    std::wstring out(n, L'\0');
    for (uint32_t i = 0; i < n; ++i, at_ += 2)
      out[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes_[at_]) |
                                    (static_cast<unsigned char>(bytes_[at_ + 1]) << 8));
    return out;
  }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
  bool ok_ = true;
};

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
  body += static_cast<char>((r.PassiveMode ? 1 : 0) | (r.ReplyOnFailure ? 2 : 0) | (r.Progress ? 4 : 0));
  body += static_cast<char>(r.Priority);
  PutU32(body, r.RequesterProcessId);
  PutU64(body, r.RequesterProcessCreated);
  PutText(body, r.RequesterProgram);
  PutBytes(body, sealed);
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
  if (!in.AtEnd() || priority > static_cast<uint8_t>(RequestPriority::Low)) return false;
  r.PassiveMode = (flags & 1) != 0;
  r.ReplyOnFailure = (flags & 2) != 0;
  r.Progress = (flags & 4) != 0;
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
  while (at < bytes.size()) {
    if (bytes.size() - at < 8) {
      out.problem = JournalProblem::Truncated;
      break;
    }
    const uint32_t length = GetU32At(bytes, at);
    const uint32_t crc = GetU32At(bytes, at + 4);
    if (length > kMaxJournalRecord) {
      out.problem = JournalProblem::BadRecord;
      break;
    }
    if (bytes.size() - at - 8 < length) {
      out.problem = JournalProblem::Truncated;
      break;
    }
    const std::string body = bytes.substr(at + 8, length);
    if (Crc32(body) != crc) {
      out.problem = JournalProblem::BadChecksum;
      break;
    }
    const size_t before = added.entries.size();
    if (!ReadBody(body, out, added)) {
      out.problem = JournalProblem::BadRecord;
      break;
    }
    if (added.entries.size() > before) added.entries.back().record = bytes.substr(at, 8 + length);
    at += 8 + length;
  }
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
