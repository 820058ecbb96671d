#include "text.h"

#include <cmath>
#include <cwchar>
#include <limits>

namespace velmora {

wchar_t FoldCase(wchar_t c) {
  if (c >= L'a' && c <= L'z') return static_cast<wchar_t>(c - 32);
  // Latin-1 lower-case letters, except the division sign and y-diaeresis, sit 32 above
  // their capitals; the ANSI code page of the machines we run on is Latin-1 based.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<wchar_t>(c - 32);
  return c;
}

std::wstring UpperCase(const std::wstring& s) {
  std::wstring out(s);
  for (auto& c : out) c = FoldCase(c);
  return out;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  if (prefix.size() > text.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (FoldCase(text[i]) != FoldCase(prefix[i])) return false;
  return true;
}

size_t FindNoCase(const std::wstring& text, const std::wstring& what, size_t from) {
  if (what.empty()) return from <= text.size() ? from : std::wstring::npos;
  if (what.size() > text.size()) return std::wstring::npos;
  const wchar_t first = FoldCase(what[0]);
  const size_t last = text.size() - what.size();
  for (size_t i = from; i <= last; ++i) {
    if (FoldCase(text[i]) != first) continue;
    size_t k = 1;
    while (k < what.size() && FoldCase(text[i + k]) == FoldCase(what[k])) ++k;
    if (k == what.size()) return i;
  }
  return std::wstring::npos;
}

std::wstring TokenExtract(const std::wstring& text, size_t start, const std::wstring& delimiter,
                          size_t& found) {
  found = 0;
  if (start < 1) start = 1;
  if (start > text.size()) return std::wstring();
  const size_t from = start - 1;
  const size_t at = delimiter.empty() ? std::wstring::npos : text.find(delimiter, from);
  if (at == std::wstring::npos) return text.substr(from);
  found = at + 1;
  return text.substr(from, at - from);
}

// The delimiter put in front of the text and of the key is what ties a key to the start
// of the text or to a preceding space: "Reference" is not found inside "StoryReference".
std::wstring GetField(const std::wstring& text, const std::wstring& key,
                      const std::wstring& separator, const std::wstring& delimiter) {
  std::wstring work;
  std::wstring fullKey;
  if (!delimiter.empty()) {
    if (!StartsWithNoCase(text, delimiter)) {
      work.reserve(delimiter.size() + text.size());
      work = delimiter;
    }
    if (!StartsWithNoCase(key, delimiter)) fullKey = delimiter;
  }
  work += text;
  fullKey += key;
  const size_t at = FindNoCase(work, fullKey + separator);
  if (at == std::wstring::npos) return std::wstring();
  size_t p = 0;
  TokenExtract(work, at + 1, separator, p);
  if (p == 0) return std::wstring();
  size_t ignored = 0;
  const size_t valueStart = p + separator.size();  // 1-based
  if (valueStart <= work.size() && work[valueStart - 1] == L'"')
    return TokenExtract(work, valueStart + 1, L"\"", ignored);
  return TokenExtract(work, valueStart, delimiter, ignored);
}

// A value that holds the delimiter is written in quotes so that GetField reads it whole.
// The grammar has no escape, so a value that begins with a quote, or holds a quote and
// a delimiter, cannot be read back exactly; such values are written as they are.
std::wstring FieldWrite(const std::wstring& text, const std::wstring& key,
                        const std::wstring& value, const std::wstring& separator,
                        const std::wstring& delimiter) {
  std::wstring out(text);
  if (!out.empty() && !delimiter.empty() &&
      (out.size() < delimiter.size() ||
       out.compare(out.size() - delimiter.size(), delimiter.size(), delimiter) != 0))
    out += delimiter;
  out += key;
  out += separator;
  const bool quote = !delimiter.empty() && value.find(delimiter) != std::wstring::npos;
  if (quote) out += L'"';
  out += value;
  if (quote) out += L'"';
  return out;
}

std::wstring PadLeft(const std::wstring& text, size_t width, wchar_t pad) {
  if (text.size() >= width) return text;
  return std::wstring(width - text.size(), pad) + text;
}

std::wstring HexText(int32_t value, int width) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  uint32_t v = static_cast<uint32_t>(value);
  std::wstring out;
  do {
    out.insert(out.begin(), kDigits[v & 0xF]);
    v >>= 4;
  } while (v != 0);
  if (static_cast<int>(out.size()) < width) out.insert(0, width - out.size(), L'0');
  return out;
}

int32_t RangeLimit(int32_t value, int32_t lower, int32_t upper) {
  return value < lower ? lower : (value > upper ? upper : value);
}

namespace {

double LeadingNumber(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
  std::string digits;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) digits += static_cast<char>(text[i++]);
  bool any = false;
  while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') { digits += static_cast<char>(text[i++]); any = true; }
  if (i < text.size() && text[i] == L'.') {
    digits += '.';
    ++i;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') { digits += static_cast<char>(text[i++]); any = true; }
  }
  if (!any) return 0.0;
  if (i < text.size() && (text[i] == L'e' || text[i] == L'E' || text[i] == L'd' || text[i] == L'D')) {
    size_t j = i + 1;
    std::string exponent = "e";
    if (j < text.size() && (text[j] == L'+' || text[j] == L'-')) exponent += static_cast<char>(text[j++]);
    bool expDigits = false;
    while (j < text.size() && text[j] >= L'0' && text[j] <= L'9' && exponent.size() < 8) {
      exponent += static_cast<char>(text[j++]);
      expDigits = true;
    }
    if (expDigits) digits += exponent;
  }
  return std::strtod(digits.c_str(), nullptr);
}

}  // namespace

int32_t LeadingNumberToInt32(const std::wstring& text) {
  const double v = std::nearbyint(LeadingNumber(text));  // default rounding: half to even
  if (!(v >= static_cast<double>(std::numeric_limits<int32_t>::min())))
    return std::numeric_limits<int32_t>::min();
  if (v > static_cast<double>(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(v);
}

bool LeadingNumberIsNonZero(const std::wstring& text) { return LeadingNumber(text) != 0.0; }

std::wstring ToDecimal(int64_t value) { return std::to_wstring(value); }

std::wstring GroupThousands(int64_t value, const std::wstring& separator) {
  if (value == 0) return std::wstring();
  const bool negative = value < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const std::wstring digits = std::to_wstring(magnitude);
  std::wstring out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return negative ? L"-" + out : out;
}

std::wstring MaskField(const std::wstring& text, const std::wstring& key) {
  const std::wstring needle = key + L"=";
  std::wstring out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t at = FindNoCase(text, needle, pos);
    while (at != std::wstring::npos && at > 0 && text[at - 1] != L' ')
      at = FindNoCase(text, needle, at + 1);
    if (at == std::wstring::npos) break;
    const size_t valueStart = at + needle.size();
    out.append(text, pos, valueStart - pos);
    size_t valueEnd;
    if (valueStart < text.size() && text[valueStart] == L'"') {
      const size_t close = text.find(L'"', valueStart + 1);
      valueEnd = close == std::wstring::npos ? text.size() : close + 1;
    } else {
      valueEnd = text.find(L' ', valueStart);
      if (valueEnd == std::wstring::npos) valueEnd = text.size();
    }
    out += L"***";
    pos = valueEnd;
  }
  out.append(text, pos, std::wstring::npos);
  return out;
}

namespace {
bool IsSchemeChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'+' ||
         c == L'-' || c == L'.';
}
}  // namespace

std::wstring MaskUrlPasswords(const std::wstring& text) {
  static const std::wstring kAuthorityEnd = L"/?#\" \t\r\n";
  std::wstring out;
  size_t pos = 0;
  for (size_t marker = text.find(L"://"); marker != std::wstring::npos; marker = text.find(L"://", marker + 3)) {
    if (marker == 0 || !IsSchemeChar(text[marker - 1])) continue;
    const size_t start = marker + 3;
    size_t end = text.find_first_of(kAuthorityEnd, start);
    if (end == std::wstring::npos) end = text.size();
    const size_t at = text.rfind(L'@', end == 0 ? 0 : end - 1);
    if (at == std::wstring::npos || at < start) continue;
    const size_t colon = text.find(L':', start);
    if (colon == std::wstring::npos || colon > at) continue;
    out.append(text, pos, colon + 1 - pos);
    out += L"***";
    pos = at;
    marker = at;
  }
  out.append(text, pos, std::wstring::npos);
  return out;
}

}  // namespace velmora
