#include "transfer/resume_rules.h"

#include <cwctype>

#include "support/text.h"
#include "transfer/ftp_rules.h"
#include "transfer/http_date.h"

namespace velmora {

namespace {

const char kRecordHeader[] = "vskpart 1";

std::string Utf8(const std::wstring& text) {
  std::string out;
  for (wchar_t wc : text) {
    uint32_t c = static_cast<uint32_t>(wc);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      // UTF-16 halves are written one by one: the text only has to read back the same.
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool FromUtf8(const std::string& text, std::wstring& out) {
  out.clear();
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    size_t extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : 3;
    if (extra == 3 || i + extra >= text.size()) return false;
    uint32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : (b & 0x0F);
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char n = static_cast<unsigned char>(text[i + k]);
      if ((n & 0xC0) != 0x80) return false;
      c = (c << 6) | (n & 0x3F);
    }
    out += static_cast<wchar_t>(c);
    i += extra + 1;
  }
  return true;
}

bool ParseNumber(const std::wstring& text, size_t& at, int64_t& value) {
  const size_t start = at;
  value = 0;
  while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
    if (value > (INT64_MAX - 9) / 10) return false;
    value = value * 10 + (text[at++] - L'0');
  }
  return at > start;
}

// C0, DEL and C1: none of them can stand in a header value as it is.
bool HasControl(const std::wstring& text) {
  for (wchar_t c : text)
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  return false;
}

// A Last-Modified this much older than the answer's Date names one content.
constexpr int64_t kStrongDateSeconds = 60;

}  // namespace

std::wstring PartPath(const std::wstring& destination) { return destination + L".vskpart"; }
std::wstring RecordPath(const std::wstring& destination) { return destination + L".vskpart.rec"; }

namespace {
std::wstring WithoutPassword(const std::wstring& source) {
  const bool web = StartsWithNoCase(source, L"http://") || StartsWithNoCase(source, L"https://");
  if (!web) {
    const FtpSource split = SplitFtpSource(source);
    if (!split.hasUserInfo) return source;
    const std::wstring scheme = StartsWithNoCase(source, L"ftp://") ? source.substr(0, 6) : std::wstring();
    return scheme + split.user + L"@" + split.hostAndPath;
  }
  const size_t hostStart = source.find(L"://") + 3;
  const size_t slash = source.find(L'/', hostStart);
  const size_t authorityEnd = slash == std::wstring::npos ? source.size() : slash;
  const size_t at = source.rfind(L'@', authorityEnd == 0 ? 0 : authorityEnd - 1);
  if (at == std::wstring::npos || at < hostStart) return source;
  const size_t colon = source.find(L':', hostStart);
  if (colon == std::wstring::npos || colon > at) return source;
  return source.substr(0, colon) + source.substr(at);
}
}  // namespace

std::wstring SourceForRecord(const std::wstring& source) { return MaskUrlSecrets(WithoutPassword(source)); }

std::wstring HttpValidator(const std::wstring& etag, const std::wstring& lastModified, const std::wstring& date) {
  if (!etag.empty()) return etag.compare(0, 2, L"W/") != 0 && !HasControl(etag) ? etag : std::wstring();
  int64_t modified = 0, served = 0;
  if (HasControl(lastModified) || !ParseHttpDate(lastModified, modified) || !ParseHttpDate(date, served) ||
      served - modified < kStrongDateSeconds)
    return std::wstring();
  return lastModified;
}

std::wstring FtpValidator(const FtpContent& content) {
  if (content.size < 0) return std::wstring();
  const std::wstring size = L"ftp " + std::to_wstring(content.size);
  if (!content.modified.empty()) return HasControl(content.modified) ? std::wstring() : size + L" mdtm " + content.modified;
  if (!content.listed) return std::wstring();
  constexpr uint64_t kMinute = 60ull * 10000000ull;
  constexpr uint64_t kDay = 24ull * 60ull * kMinute;
  // A listing's "Mon DD YYYY" reads as midnight; a file really changed at 00:00 is taken
  // for one of those too.
  if (content.listedTime % kDay == 0) return std::wstring();
  if (content.listedTime / kMinute >= content.askedAt / kMinute) return std::wstring();
  const uint32_t high = static_cast<uint32_t>(content.listedTime >> 32);
  const uint32_t low = static_cast<uint32_t>(content.listedTime & 0xFFFFFFFFu);
  return size + L" list " + LastWriteTimeText(high, low);
}

FtpKeptUse JudgeFtpKept(int64_t kept, const std::wstring& recorded, const std::wstring& validator, int64_t size) {
  if (kept <= 0 || validator.empty() || validator != recorded || size <= 0 || kept > size) return FtpKeptUse::StartOver;
  return kept == size ? FtpKeptUse::Complete : FtpKeptUse::Continue;
}

std::string ComposeRecord(const ResumeRecord& record) {
  return std::string(kRecordHeader) + "\nsource " + Utf8(record.source) + "\nvalidator " + Utf8(record.validator) +
         "\nend\n";
}

bool ParseRecord(const std::string& text, ResumeRecord& record) {
  // The closing line proves the whole record was written.
  const std::string head = std::string(kRecordHeader) + "\nsource ";
  if (text.compare(0, head.size(), head) != 0) return false;
  const size_t sourceEnd = text.find('\n', head.size());
  if (sourceEnd == std::string::npos) return false;
  const std::string validatorTag = "validator ";
  if (text.compare(sourceEnd + 1, validatorTag.size(), validatorTag) != 0) return false;
  const size_t validatorStart = sourceEnd + 1 + validatorTag.size();
  const size_t validatorEnd = text.find('\n', validatorStart);
  if (validatorEnd == std::string::npos || text.substr(validatorEnd + 1) != "end\n") return false;
  ResumeRecord read;
  if (!FromUtf8(text.substr(head.size(), sourceEnd - head.size()), read.source) ||
      !FromUtf8(text.substr(validatorStart, validatorEnd - validatorStart), read.validator) ||
      HasControl(read.validator))
    return false;
  record = std::move(read);
  return true;
}

bool PartUsable(bool recordRead, const ResumeRecord& record, const std::wstring& source, int64_t partSize,
                int64_t ageSeconds) {
  return recordRead && !record.validator.empty() && record.source == SourceForRecord(source) && partSize > 0 &&
         ageSeconds >= 0 && ageSeconds <= kPartMaxAgeSeconds;
}

std::wstring ResumeHeaders(int64_t offset, const std::wstring& validator) {
  if (validator.empty() || HasControl(validator)) return std::wstring();
  return L"Range: bytes=" + std::to_wstring(offset) + L"-\r\nIf-Range: " + validator + L"\r\n";
}

bool ParseContentRange(const std::wstring& text, int64_t& first, int64_t& last, int64_t& total) {
  size_t at = 0;
  while (at < text.size() && text[at] == L' ') ++at;
  static const std::wstring kUnit = L"bytes";
  if (text.size() - at < kUnit.size()) return false;
  for (size_t i = 0; i < kUnit.size(); ++i)
    if (static_cast<wchar_t>(std::towlower(text[at + i])) != kUnit[i]) return false;
  at += kUnit.size();
  if (at >= text.size() || text[at] != L' ') return false;
  while (at < text.size() && text[at] == L' ') ++at;
  if (!ParseNumber(text, at, first) || at >= text.size() || text[at++] != L'-') return false;
  if (!ParseNumber(text, at, last) || last < first || at >= text.size() || text[at++] != L'/') return false;
  if (at < text.size() && text[at] == L'*') {
    total = -1;
    ++at;
  } else if (!ParseNumber(text, at, total) || total <= last) {
    return false;
  }
  while (at < text.size() && text[at] == L' ') ++at;
  return at == text.size();
}

RangeJudgement JudgeRangeAnswer(int64_t status, const std::wstring& contentRange, int64_t contentLength,
                                int64_t offset, const std::wstring& recorded, const std::wstring& validator) {
  RangeJudgement judged;
  if (offset <= 0) {
    if (status < 400) judged.answer = status == 206 ? RangeAnswer::Unasked : RangeAnswer::StartOver;
    return judged;
  }
  // "Range not satisfiable": the kept bytes are not a beginning of what the server has.
  if (status >= 400 && status != 416) return judged;
  judged.answer = status == 200 ? RangeAnswer::StartOver : RangeAnswer::Refused;
  if (status != 206) return judged;
  int64_t first = 0, last = 0, total = 0;
  const bool sameContent = validator.empty() || validator == recorded;
  // An unknown total ("*") could never show the file whole.
  if (!ParseContentRange(contentRange, first, last, total) || first != offset || total < 0 || !sameContent ||
      (contentLength >= 0 && contentLength != last - first + 1))
    return judged;
  judged.answer = RangeAnswer::Continue;
  judged.end = last + 1;
  judged.total = total;
  return judged;
}

}  // namespace velmora
