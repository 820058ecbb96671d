// A numeric HTTP header of an open URL (status code, Content-Length).
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

namespace velmora {

// False when the header is missing or not a number (an FTP URL has no status).
bool HttpHeaderNumber(HINTERNET url, DWORD what, int64_t& value);
// A header as text; empty when it is missing.
std::wstring HttpHeaderText(HINTERNET url, DWORD what);

}  // namespace velmora
