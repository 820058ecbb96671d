// Conversions between the program's wide strings and the system's ANSI code page, done
// at every operating-system call and in every message.
#pragma once

#include <string>

namespace velmora {

std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const char* bytes, size_t count);
inline std::wstring FromAnsi(const std::string& s) { return FromAnsi(s.data(), s.size()); }

}  // namespace velmora
