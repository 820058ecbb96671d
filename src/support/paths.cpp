#include "paths.h"

namespace velmora {

namespace {
size_t LastSeparator(const std::wstring& path) { return path.find_last_of(L"\\/"); }

// The dot must be inside the file-name part: "dir.v2\readme" has no extension.
size_t ExtensionDot(const std::wstring& path) {
  const size_t dot = path.rfind(L'.');
  const size_t sep = LastSeparator(path);
  if (dot == std::wstring::npos) return std::wstring::npos;
  if (sep != std::wstring::npos && dot < sep) return std::wstring::npos;
  return dot;
}
}  // namespace

std::wstring FileNamePart(const std::wstring& path) {
  const size_t sep = LastSeparator(path);
  return sep == std::wstring::npos ? path : path.substr(sep + 1);
}

std::wstring ExtensionPart(const std::wstring& path) {
  const size_t dot = ExtensionDot(path);
  return dot == std::wstring::npos ? std::wstring() : path.substr(dot + 1);
}

std::wstring StemPart(const std::wstring& path) {
  const size_t dot = ExtensionDot(path);
  return dot == std::wstring::npos ? path : path.substr(0, dot);
}

std::wstring FolderPart(const std::wstring& path) {
  const size_t sep = LastSeparator(path);
  return sep == std::wstring::npos ? std::wstring() : path.substr(0, sep);
}

bool IsFullPath(const std::wstring& path) {
  auto separator = [&](size_t i) { return i < path.size() && (path[i] == L'\\' || path[i] == L'/'); };
  if (path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
      path[1] == L':' && separator(2))
    return true;
  return separator(0) && separator(1) && path.size() > 2 && !separator(2);
}

}  // namespace velmora
