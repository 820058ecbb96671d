// Any text a caller may hand the decoders (and what the encoders make of the result):
// no crash, no out-of-bounds read, and the byte codecs give back what they were given.
// Any text as a URL's secret (a token parameter's value, a user token) is masked whole.
#include <cstddef>
#include <cstdint>
#include <string>

#include "inet/url_codecs.h"
#include "support/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora;
  std::wstring text;
  text.reserve(size / 2 + 1);
  // Pairs of bytes as UTF-16 units; a lone last byte as a unit of its own.
  for (size_t i = 0; i < size; i += 2)
    text += static_cast<wchar_t>(i + 1 < size ? data[i] | (data[i + 1] << 8) : data[i]);
  const AnsiCodePage& page = Latin1CodePage();

  const std::wstring decoded = URLDecode2(text, page);
  URLEncode(decoded, true, page);
  URLEncode2(decoded, page);
  try {
    const std::string bytes = URLDecodeB2(text);
    if (URLDecodeB2(URLEncodeB2(bytes)) != bytes) __builtin_trap();
  } catch (const UrlConversionError&) {
  }
  const std::string raw(reinterpret_cast<const char*>(data), size);
  if (URLDecodeB2(URLEncodeB2(raw)) != raw) __builtin_trap();

  MaskUrlSecrets(text);
  // A value runs to the next "&", "?", "#", blank or quote; whatever it holds (":", "@",
  // a scheme), nothing of it shows.
  const std::wstring value = text.substr(0, text.find_first_of(L"&?#\" \t\r\n"));
  if (!value.empty() && MaskUrlSecrets(L"h/f?a=1&X-Amz-Signature=" + value) != L"h/f?a=1&X-Amz-Signature=***")
    __builtin_trap();
  const std::wstring user = text.substr(0, text.find_first_of(L"/?#:\" \t\r\n"));
  if (!user.empty() && user.back() != L'@' && MaskUrlSecrets(L"https://" + user + L"@h/f") != L"https://***@h/f")
    __builtin_trap();
  return 0;
}
