#include "text.h"

#include <cmath>
#include <cwchar>
#include <limits>
#include <vector>

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

std::wstring LineBreaksShown(const std::wstring& text, bool blankControls) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    if (c == L'\r') {
      out += L"<CR>";
    } else if (c == L'\n') {
      out += L"<LF>";
    } else {
      out += blankControls && (c < 0x20 || c == 0x7F) ? L' ' : c;
    }
  }
  return out;
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
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
// Words are what blanks and quotes separate: a URL starts a word, or follows "Key=".
bool EndsWord(wchar_t c) { return IsBlank(c) || c == L'"'; }
bool IsLoneColon(const std::wstring& text, size_t colon) {
  return colon > 0 && IsBlank(text[colon - 1]) && colon + 1 < text.size() && IsBlank(text[colon + 1]);
}
// A ":" that may end a user name: not a scheme's, not one standing alone between blanks.
bool CanStartPassword(const std::wstring& text, size_t colon) {
  return !IsSchemeColon(text, colon) && !IsLoneColon(text, colon);
}
// The last "@" in [from, to), or npos.
size_t LastAtIn(const std::wstring& text, size_t from, size_t to) {
  for (size_t i = to; i > from; --i)
    if (text[i - 1] == L'@') return i - 1;
  return std::wstring::npos;
}
}  // namespace

// A scheme begins its word: "ftp://u://x@h" and "ftp://me@x.org://x@h" are users whose
// passwords begin with "//", because a ":" stands before theirs in the same word.
bool IsSchemeColon(const std::wstring& text, size_t colon) {
  if (colon >= text.size() || text.compare(colon, 3, L"://") != 0) return false;
  size_t start = colon;
  while (start > 0 && IsSchemeChar(text[start - 1])) --start;
  if (start == colon) return false;
  for (size_t i = start; i > 0 && !EndsWord(text[i - 1]); --i)
    if (text[i - 1] == L':') return false;
  return true;
}

// A password may hold any character, unencoded "/ ? # \" @ :" and blanks included, and a
// path may hold "@": "ftp://u:p@h/a@b.txt" is user u with password "p", or with password
// "p@h/a" on host "b.txt"; a blank or a quote does not end it either. So after
// "scheme://user:" the only "@" that surely is not inside the password is the last one
// of the whole text. A requester may leave the scheme out of an FTP source ("u:p@h/f"),
// and then nothing tells a user name from any word with a ":" ("frmX:Remove ..."): such
// a password is taken to end at the last "@" before the next scheme, so that the log's
// own "Object:Procedure http://host/a@b" keeps its words; a password without a scheme
// that holds a scheme ("u:a http://b@h") is not one the FTP rules take either.
// The price is a line that masks more than a password (a host, a path, the text up to a
// later URL's "@"); a line that loses a host name is better than one showing a password.
// Not masked: a password starting with "//" of a user without a scheme whose name is all
// scheme characters ("u://x@h" reads as scheme u), and a ":" alone between blanks.
size_t UrlPasswordEnd(const std::wstring& text, size_t colon) {
  if (colon >= text.size() || text[colon] != L':' || !CanStartPassword(text, colon)) return std::wstring::npos;
  bool schemeBefore = false;
  for (size_t i = colon; i > 0 && !EndsWord(text[i - 1]) && !schemeBefore; --i)
    schemeBefore = text[i - 1] == L':' && IsSchemeColon(text, i - 1);
  size_t limit = text.size();
  if (!schemeBefore) {
    for (size_t c = text.find(L':', colon + 1); c != std::wstring::npos && limit == text.size();
         c = text.find(L':', c + 1))
      if (IsSchemeColon(text, c)) limit = c;
  }
  const size_t at = LastAtIn(text, colon + 1, limit);
  return at == std::wstring::npos ? std::wstring::npos : at;
}

// The same rule as UrlPasswordEnd, in one pass: a line may be megabytes long.
std::wstring MaskUrlPasswords(const std::wstring& text) {
  const size_t lastAt = text.rfind(L'@');
  if (lastAt == std::wstring::npos) return text;
  std::vector<size_t> schemes;  // the scheme colons before the last "@", in order
  for (size_t c = text.find(L':'); c < lastAt; c = text.find(L':', c + 1))
    if (IsSchemeColon(text, c)) schemes.push_back(c);
  std::wstring out;
  size_t copied = 0;
  size_t next = 0;  // the first scheme colon at or after i
  size_t segmentAt = std::wstring::npos, segmentOf = SIZE_MAX;  // last "@" before schemes[segmentOf]
  bool schemeInWord = false;
  for (size_t i = 0; i < lastAt; ++i) {
    if (EndsWord(text[i])) schemeInWord = false;
    if (text[i] != L':') continue;
    while (next < schemes.size() && schemes[next] < i) ++next;
    if (next < schemes.size() && schemes[next] == i) {
      schemeInWord = true;
      continue;
    }
    if (IsLoneColon(text, i)) continue;
    size_t end = lastAt;
    if (!schemeInWord) {
      if (segmentOf != next) {  // each stretch between schemes is searched once
        segmentOf = next;
        const size_t limit = next < schemes.size() ? schemes[next] : lastAt + 1;
        segmentAt = LastAtIn(text, i + 1, limit);
      }
      if (segmentAt == std::wstring::npos || segmentAt <= i) continue;
      end = segmentAt;
    }
    out.append(text, copied, i + 1 - copied);
    out += L"***";
    copied = end;
    i = end;
  }
  if (copied == 0) return text;
  out.append(text, copied, std::wstring::npos);
  return out;
}

const wchar_t* const kSecretParameters[12] = {
    L"X-Amz-Signature", L"X-Amz-Credential", L"X-Amz-Security-Token", L"sig", L"signature", L"token",
    L"access_token",    L"api_key",          L"apikey",               L"password", L"pwd", L"auth"};

namespace {
// Where an authority ends (RFC 3986 3.2), or the word holding it.
bool EndsAuthority(wchar_t c) { return c == L'/' || c == L'?' || c == L'#' || EndsWord(c); }
bool EndsParameter(wchar_t c) { return c == L'&' || c == L'?' || c == L'#' || EndsWord(c); }

bool IsSecretParameter(const std::wstring& text, size_t from, size_t to) {
  const std::wstring name = text.substr(from, to - from);
  for (const wchar_t* secret : kSecretParameters)
    if (EqualsNoCase(name, secret)) return true;
  return false;
}

// "https://TOKEN@host/": a token given as the user name. The "@" that ends it is the
// last one before the authority ends, as a URL reader takes it; one with a ":" before it
// is a user and password, MaskUrlPasswords' part.
std::wstring MaskUserTokens(const std::wstring& text) {
  std::wstring out;
  size_t copied = 0;
  for (size_t c = text.find(L"://"); c != std::wstring::npos; c = text.find(L"://", c + 3)) {
    size_t start = c;
    while (start > 0 && IsSchemeChar(text[start - 1])) --start;
    const std::wstring scheme = text.substr(start, c - start);
    if (!EqualsNoCase(scheme, L"http") && !EqualsNoCase(scheme, L"https")) continue;
    const size_t user = c + 3;
    size_t end = user;
    while (end < text.size() && !EndsAuthority(text[end])) ++end;
    const size_t at = LastAtIn(text, user, end);
    if (at == std::wstring::npos || at == user || text.find(L':', user) < at) continue;
    out.append(text, copied, user - copied);
    out += L"***";
    copied = at;
  }
  if (copied == 0) return text;
  out.append(text, copied, std::wstring::npos);
  return out;
}

// "?name=value", "&name=value" and "#name=value" (a token in a fragment, as OAuth puts
// it), wherever they stand: a source without a scheme is a URL all the same.
std::wstring MaskSecretParameters(const std::wstring& text) {
  std::wstring out;
  size_t copied = 0;
  for (size_t i = text.find_first_of(L"?&#"); i != std::wstring::npos; i = text.find_first_of(L"?&#", i)) {
    const size_t name = i + 1;
    size_t eq = name;
    while (eq < text.size() && text[eq] != L'=' && !EndsParameter(text[eq])) ++eq;
    if (eq >= text.size() || text[eq] != L'=' || !IsSecretParameter(text, name, eq)) {
      i = eq;
      continue;
    }
    size_t end = eq + 1;
    while (end < text.size() && !EndsParameter(text[end])) ++end;
    if (end > eq + 1) {
      out.append(text, copied, eq + 1 - copied);
      out += L"***";
      copied = end;
    }
    i = end;
  }
  if (copied == 0) return text;
  out.append(text, copied, std::wstring::npos);
  return out;
}
}  // namespace

std::wstring MaskUrlSecrets(const std::wstring& text) {
  return MaskSecretParameters(MaskUserTokens(MaskUrlPasswords(text)));
}

}  // namespace velmora
