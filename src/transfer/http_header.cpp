#include "transfer/http_header.h"

#include <cwchar>

namespace velmora {

// Read as text: a Content-Length of 4 GiB or more does not fit the number form.
bool HttpHeaderNumber(HINTERNET url, DWORD what, int64_t& value) {
  wchar_t text[32] = {};
  DWORD size = sizeof text;
  DWORD index = 0;
  if (!HttpQueryInfoW(url, what, text, &size, &index)) return false;
  wchar_t* end = nullptr;
  const long long number = wcstoll(text, &end, 10);
  if (end == text || number < 0) return false;
  value = number;
  return true;
}

}  // namespace velmora
