#include "inet/url_codecs.h"

#include <algorithm>

namespace velmora {

namespace {

constexpr wchar_t kHexDigits[] = L"0123456789ABCDEF";

void AppendPercent(std::wstring& out, uint8_t byte) {
  out += L'%';
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0xF];
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// The (at most two) characters after the "%" at `percent`, read as one or two hex
// digits. Nothing else counts as a number: no sign, no blanks, and not an empty text.
bool ReadHexAfter(const std::wstring& text, size_t percent, int& value) {
  const size_t first = percent + 1;
  const size_t count = first >= text.size() ? 0 : std::min<size_t>(2, text.size() - first);
  if (count == 0) return false;
  value = 0;
  for (size_t i = 0; i < count; ++i) {
    const int digit = HexValue(text[first + i]);
    if (digit < 0) return false;
    value = value * 16 + digit;
  }
  return true;
}

bool IsAsciiLetter(uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsAsciiDigit(uint32_t c) { return c >= '0' && c <= '9'; }

class Latin1 final : public AnsiCodePage {
 public:
  std::string Encode(wchar_t c) const override {
    return std::string(1, c < 256 ? static_cast<char>(c) : '?');
  }
  wchar_t Decode(uint8_t code) const override { return static_cast<wchar_t>(code); }
};

}  // namespace

const AnsiCodePage& Latin1CodePage() {
  static const Latin1 page;
  return page;
}

bool IsUrlUnreserved(wchar_t c) {
  return IsAsciiLetter(c) || IsAsciiDigit(c) || c == L'-' || c == L'.' || c == L'_' || c == L'~';
}

// Every byte of a double-byte character is written: its code as one hex number would
// not be a percent sequence a server could read back.
std::wstring URLEncode(const std::wstring& source, bool replaceSpaces, const AnsiCodePage& page) {
  std::wstring out;
  out.reserve(source.size() * 3);
  for (wchar_t c : source) {
    if (c == L' ') {
      out += replaceSpaces ? L'+' : L' ';
    } else if (IsUrlUnreserved(c)) {
      out += c;
    } else {
      for (char b : page.Encode(c)) AppendPercent(out, static_cast<uint8_t>(b));
    }
  }
  return out;
}

std::wstring URLEncode2(const std::wstring& text, const AnsiCodePage& page) {
  std::wstring out;
  out.reserve(text.size() * 3);
  for (wchar_t c : text) {
    if (IsAsciiLetter(c) || IsAsciiDigit(c)) {
      out += c;
    } else if (c == L' ') {
      out += L'+';
    } else {
      const std::string bytes = page.Encode(c);
      AppendPercent(out, bytes.empty() ? 0 : static_cast<uint8_t>(bytes.back()));
    }
  }
  return out;
}

std::wstring URLEncodeB2(const std::string& bytes) {
  std::wstring out;
  out.reserve(bytes.size() * 3);
  for (char ch : bytes) {
    const uint8_t b = static_cast<uint8_t>(ch);
    if (IsAsciiLetter(b)) {
      out += static_cast<wchar_t>(b);
    } else if (b == ' ') {
      out += L'+';
    } else {
      AppendPercent(out, b);
    }
  }
  return out;
}

std::wstring URLEncodeB2(const std::wstring& text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (wchar_t c : text) {
    const uint16_t unit = static_cast<uint16_t>(c);
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return URLEncodeB2(bytes);
}

// "+" turns into a space before any sequence is read, so "%2B" still yields a "+".
std::wstring URLDecode2(const std::wstring& text, const AnsiCodePage& page) {
  std::wstring work(text);
  for (auto& c : work)
    if (c == L'+') c = L' ';
  std::wstring out;
  out.reserve(work.size());
  size_t copied = 0;  // start of the text not yet appended
  size_t percent = work.find(L'%');
  while (percent != std::wstring::npos) {
    out.append(work, copied, percent - copied);
    int value = 0;
    const size_t taken = std::min<size_t>(3, work.size() - percent);
    if (ReadHexAfter(work, percent, value))
      out += page.Decode(static_cast<uint8_t>(value));
    else
      out.append(work, percent, taken);
    copied = percent + taken;
    percent = copied < work.size() ? work.find(L'%', copied) : std::wstring::npos;
  }
  if (copied < work.size()) out.append(work, copied, std::wstring::npos);
  return out;
}

std::string URLDecodeB2(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L'%') {
      int value = 0;
      if (!ReadHexAfter(text, i, value))
        throw UrlConversionError("URLDecodeB2: type mismatch, \"%\" at position " + std::to_string(i + 1) +
                                 " is not followed by a hexadecimal number");
      out += static_cast<char>(value);
      i += std::min<size_t>(2, text.size() - i - 1);
    } else if (c == L'+') {
      out += ' ';
    } else {
      out += static_cast<char>(static_cast<uint16_t>(c) & 0xFF);
    }
  }
  return out;
}

}  // namespace velmora
