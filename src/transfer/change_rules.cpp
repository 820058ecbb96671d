#include "transfer/change_rules.h"

#include "support/byte_codec.h"
#include "support/text.h"
#include "transfer/http_date.h"

namespace velmora {

namespace {

constexpr char kKeep = 'K';
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kUnixEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01

bool HasControl(const std::wstring& text) {
  for (wchar_t c : text)
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  return false;
}

std::wstring Opaque(const std::wstring& etag) { return etag.compare(0, 2, L"W/") == 0 ? etag.substr(2) : etag; }

bool SecondsToTicks(int64_t seconds, uint64_t& ticks) {
  if (seconds < -kUnixEpochSeconds || seconds > INT64_MAX / kTicksPerSecond - kUnixEpochSeconds) return false;
  ticks = static_cast<uint64_t>(seconds + kUnixEpochSeconds) * kTicksPerSecond;
  return true;
}

}  // namespace

std::wstring ChangeKey(const std::wstring& destination) {
  std::wstring key = UpperCase(destination);
  for (wchar_t& c : key)
    if (c == L'/') c = L'\\';
  return key;
}

std::string ChangeBody(const ChangeRecord& r) {
  std::string body(1, kKeep);
  PutText(body, r.destination);
  PutText(body, r.source);
  PutText(body, r.etag);
  PutText(body, r.lastModified);
  PutU64(body, static_cast<uint64_t>(r.serverSize));
  PutText(body, r.serverTime);
  PutU64(body, static_cast<uint64_t>(r.size));
  PutU64(body, r.writeTime);
  PutText(body, r.sha256);
  return body;
}

bool ReadChangeBody(const std::string& body, ChangeRecord& r) {
  Cursor in(body);
  if (in.U8() != static_cast<uint8_t>(kKeep)) return false;
  ChangeRecord read;
  read.destination = in.Text();
  read.source = in.Text();
  read.etag = in.Text();
  read.lastModified = in.Text();
  read.serverSize = static_cast<int64_t>(in.U64());
  read.serverTime = in.Text();
  read.size = static_cast<int64_t>(in.U64());
  read.writeTime = in.U64();
  read.sha256 = in.Text();
  if (!in.AtEnd() || read.destination.empty()) return false;
  if (HasControl(read.etag) || HasControl(read.lastModified) || HasControl(read.serverTime)) return false;
  r = std::move(read);
  return true;
}

bool RecordHolds(const ChangeRecord& r, const std::wstring& recordedSource, const std::wstring& sha256, int64_t size,
                 uint64_t writeTime) {
  if (!sha256.empty() && !EqualsNoCase(sha256, r.sha256)) return false;
  return r.source == recordedSource && r.size >= 0 && r.size == size && r.writeTime == writeTime;
}

std::wstring ConditionHeader(const ChangeRecord& r) {
  if (!r.etag.empty()) return HasControl(r.etag) ? std::wstring() : L"If-None-Match: " + r.etag;
  if (!r.lastModified.empty() && !HasControl(r.lastModified)) return L"If-Modified-Since: " + r.lastModified;
  return std::wstring();
}

bool NotModifiedConfirms(const ChangeRecord& r, const std::wstring& answerEtag) {
  if (answerEtag.empty() || r.etag.empty()) return true;
  return Opaque(answerEtag) == Opaque(r.etag);
}

bool FtpUnchanged(const ChangeRecord& r, int64_t serverSize, const std::wstring& serverTime) {
  return serverSize >= 0 && !serverTime.empty() && r.serverSize == serverSize && r.serverTime == serverTime;
}

bool HttpDateTicks(const std::wstring& date, uint64_t& ticks) {
  int64_t seconds = 0;
  return ParseHttpDate(date, seconds) && SecondsToTicks(seconds, ticks);
}

bool MdtmTicks(const std::wstring& time, uint64_t& ticks) {
  // A fraction of the second may follow; the file system's time is taken to the second.
  if (time.size() < 14 || (time.size() > 14 && time[14] != L'.')) return false;
  int64_t part[6] = {};
  const int widths[6] = {4, 2, 2, 2, 2, 2};
  size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    for (int k = 0; k < widths[i]; ++k, ++at) {
      if (time[at] < L'0' || time[at] > L'9') return false;
      part[i] = part[i] * 10 + (time[at] - L'0');
    }
  }
  int64_t seconds = 0;
  if (part[0] < 1601 ||
      !CivilSeconds(part[0], static_cast<int>(part[1]), static_cast<int>(part[2]), static_cast<int>(part[3]),
                    static_cast<int>(part[4]), static_cast<int>(part[5]), seconds))
    return false;
  return SecondsToTicks(seconds, ticks);
}

}  // namespace velmora
