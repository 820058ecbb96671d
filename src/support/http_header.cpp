#include "support/http_header.h"

#include <cerrno>
#include <cwchar>
#include <vector>

namespace velmora {

// Read as text: a Content-Length of 4 GiB or more does not fit the number form.
bool HttpHeaderNumber(HINTERNET url, DWORD what, int64_t& value) {
  wchar_t text[32] = {};
  DWORD size = sizeof text;
  DWORD index = 0;
  if (!HttpQueryInfoW(url, what, text, &size, &index)) return false;
  wchar_t* end = nullptr;
  errno = 0;
  const long long number = wcstoll(text, &end, 10);
  // wcstoll holds a number past the largest at the largest: such a length is none.
  if (end == text || number < 0 || errno == ERANGE) return false;
  value = number;
  return true;
}

std::wstring HttpHeaderText(HINTERNET url, DWORD what) {
  std::vector<wchar_t> text(256);
  for (int round = 0; round < 2; ++round) {
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD index = 0;
    if (HttpQueryInfoW(url, what, text.data(), &size, &index)) return std::wstring(text.data(), size / sizeof(wchar_t));
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size > 65536) break;
    text.assign(size / sizeof(wchar_t) + 1, L'\0');
  }
  return std::wstring();
}

}  // namespace velmora
