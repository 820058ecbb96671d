#include "transfer/resume_rules.h"

#include <cwctype>

#include "support/text.h"

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

bool HasControl(const std::wstring& text) {
  for (wchar_t c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

}  // namespace

std::wstring PartPath(const std::wstring& destination) { return destination + L".vskpart"; }
std::wstring RecordPath(const std::wstring& destination) { return destination + L".vskpart.rec"; }

std::wstring SourceForRecord(const std::wstring& source) {
  const size_t scheme = source.find(L"://");
  const size_t hostStart = scheme == std::wstring::npos ? 0 : scheme + 3;
  const size_t slash = source.find(L'/', hostStart);
  const size_t authorityEnd = slash == std::wstring::npos ? source.size() : slash;
  const size_t at = source.rfind(L'@', authorityEnd == 0 ? 0 : authorityEnd - 1);
  if (at == std::wstring::npos || at < hostStart) return MaskUrlSecrets(source);
  const size_t colon = source.find(L':', hostStart);
  if (colon == std::wstring::npos || colon > at) return MaskUrlSecrets(source);
  return MaskUrlSecrets(source.substr(0, colon) + source.substr(at));
}

std::wstring HttpValidator(const std::wstring& etag, const std::wstring& lastModified) {
  if (!etag.empty() && etag.compare(0, 2, L"W/") != 0 && !HasControl(etag)) return etag;
  if (!lastModified.empty() && !HasControl(lastModified)) return lastModified;
  return std::wstring();
}

std::wstring FtpValidator(int64_t size, const std::wstring& lastWriteTime) {
  return L"ftp " + std::to_wstring(size) + L" " + lastWriteTime;
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
      !FromUtf8(text.substr(validatorStart, validatorEnd - validatorStart), read.validator))
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

RangeAnswer JudgeRangeAnswer(int64_t status, const std::wstring& contentRange, int64_t offset,
                             const std::wstring& recorded, const std::wstring& validator) {
  if (status == 200) return RangeAnswer::StartOver;
  if (status == 206) {
    int64_t first = 0, last = 0, total = 0;
    const bool sameContent = validator.empty() || validator == recorded;
    if (ParseContentRange(contentRange, first, last, total) && first == offset && sameContent)
      return RangeAnswer::Continue;
    return RangeAnswer::Refused;
  }
  // "Range not satisfiable": the kept bytes are not a beginning of what the server has.
  if (status == 416) return RangeAnswer::Refused;
  if (status >= 400) return RangeAnswer::Other;
  return RangeAnswer::Refused;
}

}  // namespace velmora
