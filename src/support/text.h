// Text rules shared by the whole agent. Plain C++: no windows.h, so they are unit
// tested and fuzzed natively.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// ASCII and Latin-1 letters fold; other characters compare exactly.
wchar_t FoldCase(wchar_t c);
std::wstring UpperCase(const std::wstring& s);
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);
bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix);
// 0-based index of the first case-insensitive occurrence at or after `from`, or npos.
size_t FindNoCase(const std::wstring& text, const std::wstring& what, size_t from = 0);

// Token extraction: the characters from the 1-based position `start` up to, not
// including, the first occurrence of `delimiter` at or after it. `found` receives the
// 1-based position of that occurrence, or 0 when there is none (the rest of the text
// is then returned). An empty delimiter never occurs.
std::wstring TokenExtract(const std::wstring& text, size_t start, const std::wstring& delimiter,
                          size_t& found);

// Value of the field `key` in a key=value text (see the .cpp for the exact rule).
std::wstring GetField(const std::wstring& text, const std::wstring& key,
                      const std::wstring& separator, const std::wstring& delimiter);

// Appends key, separator and value to `text`, so that GetField reads the value back.
std::wstring FieldWrite(const std::wstring& text, const std::wstring& key,
                        const std::wstring& value, const std::wstring& separator,
                        const std::wstring& delimiter);

std::wstring PadLeft(const std::wstring& text, size_t width, wchar_t pad = L' ');
std::wstring HexText(int32_t value, int width);
int32_t RangeLimit(int32_t value, int32_t lower, int32_t upper);

// The leading decimal number of a text ("12abc" -> 12, "1.5e1x" -> 15, "x" -> 0), leading
// blanks allowed, as it is written (not rounded, not held within any range).
double LeadingNumber(const std::wstring& text);
// The same, rounded half to even and held within the signed 32-bit range.
int32_t LeadingNumberToInt32(const std::wstring& text);
// True when the leading decimal number is not zero ("2" -> true, "True" -> false).
bool LeadingNumberIsNonZero(const std::wstring& text);

std::wstring ToDecimal(int64_t value);
// "###,###,###": thousands grouped with `separator`, empty for 0.
std::wstring GroupThousands(int64_t value, const std::wstring& separator);

// The text on one line: each CR written "<CR>", each LF "<LF>", and with `blankControls`
// every other control character a space.
std::wstring LineBreaksShown(const std::wstring& text, bool blankControls);

// Replaces the value of a key=value field with "***" wherever the key stands at the
// start of the text or after a space (the places GetField would find it).
std::wstring MaskField(const std::wstring& text, const std::wstring& key);

// True when the ":" at `colon` is a scheme's ("http://", "sftp+x://"): followed by "//"
// after a run of scheme characters, and the first ":" of its word (blanks and quotes
// separate words).
bool IsSchemeColon(const std::wstring& text, size_t colon);
// When the ":" at `colon` can end the user name of a URL's user information, the "@"
// that ends the longest password it could start; npos when it cannot start one.
size_t UrlPasswordEnd(const std::wstring& text, size_t colon);

// Replaces whatever could be the password of a URL's user information with "***",
// with or without a scheme in front: from each ":" that can start one to the "@" that
// UrlPasswordEnd gives (see the .cpp for why that far).
std::wstring MaskUrlPasswords(const std::wstring& text);

// Every secret a URL may carry, replaced with "***": the passwords MaskUrlPasswords
// masks; the user information of an http or https URL without a password, which is a
// token ("https://TOKEN@host/" -> "https://***@host/"; an FTP user name stays, it is no
// secret); and the value of each query or fragment parameter whose name is one of
// kSecretParameters, in any case ("?X-Amz-Signature=***&a=1"). The one rule for every
// place a source can be seen: the log, the journal's clear part, the .rec, the window,
// STATUS and reasons.
std::wstring MaskUrlSecrets(const std::wstring& text);
extern const wchar_t* const kSecretParameters[12];

}  // namespace velmora
