// Unique temporary file names with a chosen extension, made by the system's
// temporary-name service with the application title as prefix.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velmora {

// The full path of a new, unique name in `TempFolder` (the user's temporary folder when
// empty) ending in `Extension` (empty or "TMP" keeps the system's own name and its
// empty file). Empty when no name can be made.
std::wstring GetTempFile(std::wstring TempFolder = std::wstring(), std::wstring Extension = std::wstring());

namespace detail {
// The temporary-name service: folder and prefix in ANSI, the 1024-byte working buffer;
// returns the system's unique number, 0 on failure. Replaceable for tests only.
using TempNameService = std::function<uint32_t(const std::string& folder, const std::string& prefix, char* buffer)>;
std::wstring GetTempFileWith(std::wstring TempFolder, const std::wstring& Extension, const TempNameService& service);
}  // namespace detail

}  // namespace velmora
