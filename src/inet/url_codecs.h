// The five percent codecs of cWinINET. They are deliberately not one rule: they differ
// in which characters they keep, in how they write spaces, in whether they see
// characters or bytes and in what they do with a malformed "%" sequence. Plain C++, no
// windows.h: the one thing that needs the system, the ANSI code page, comes in through
// AnsiCodePage.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velmora {

// The system's ANSI code page as the encoders and URLDecode2 see it.
class AnsiCodePage {
 public:
  virtual ~AnsiCodePage() = default;
  // The bytes of one UTF-16 unit in the code page: one, or two for a double-byte
  // character. A unit the code page cannot hold becomes "?".
  virtual std::string Encode(wchar_t c) const = 0;
  // The character whose code in the code page is `code`.
  virtual wchar_t Decode(uint8_t code) const = 0;
};

// ISO 8859-1: the byte is the code point. The native stand-in for the system's page.
const AnsiCodePage& Latin1CodePage();

// A "%" not followed by one or two hexadecimal digits where URLDecodeB2 needs a byte.
class UrlConversionError : public std::invalid_argument {
 public:
  explicit UrlConversionError(const std::string& what) : std::invalid_argument(what) {}
};

// Characters that URLEncode copies unchanged: ASCII letters, digits and "-" "." "_" "~".
bool IsUrlUnreserved(wchar_t c);

// Spaces become "+" when `replaceSpaces`, else stay; unreserved characters stay; every
// other character is "%XX" for each byte of its ANSI code.
std::wstring URLEncode(const std::wstring& source, bool replaceSpaces, const AnsiCodePage& page);

// Letters and digits stay, a space is "+", anything else "%XX" of the low byte of its
// ANSI code (a double-byte character keeps only its trail byte).
std::wstring URLEncode2(const std::wstring& text, const AnsiCodePage& page);

// Byte text: ASCII letters stay, byte 32 is "+", every other byte (digits too) "%XX".
std::wstring URLEncodeB2(const std::string& bytes);
// Character text seen as its UTF-16 bytes, low byte first.
std::wstring URLEncodeB2(const std::wstring& text);

// "+" is a space; "%X" or "%XX" is the character of that ANSI code; a "%" whose next
// characters are not hexadecimal is copied with them unchanged.
std::wstring URLDecode2(const std::wstring& text, const AnsiCodePage& page);

// Byte text: "%X"/"%XX" is that byte, "+" byte 32, any other character its low byte.
// Throws UrlConversionError for a malformed sequence and returns nothing partial.
std::string URLDecodeB2(const std::wstring& text);

}  // namespace velmora
