#include "paths.h"

#include <vector>

namespace velmora {

namespace {
size_t LastSeparator(const std::wstring& path) { return path.find_last_of(L"\\/"); }
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "\\?\" or "\\.\": the system takes the rest as it is.
bool HasNamespacePrefix(const std::wstring& path) {
  return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.') &&
         IsSeparator(path[3]);
}

bool IsDeviceName(std::wstring name) {
  // The system reads a name as far as its first dot, without the spaces before it.
  while (!name.empty() && (name.back() == L' ' || name.back() == L'.')) name.pop_back();
  name = name.substr(0, name.find(L'.'));
  while (!name.empty() && name.back() == L' ') name.pop_back();
  for (wchar_t& c : name)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  if (name == L"CON" || name == L"PRN" || name == L"AUX" || name == L"NUL") return true;
  if (name.size() != 4 || (name.compare(0, 3, L"COM") != 0 && name.compare(0, 3, L"LPT") != 0)) return false;
  const wchar_t digit = name[3];
  return (digit >= L'0' && digit <= L'9') || digit == L'\u00b9' || digit == L'\u00b2' || digit == L'\u00b3';
}

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

bool NamesPlainFile(const std::wstring& path) {
  size_t afterDrive = 0;
  const size_t root = HasNamespacePrefix(path) ? 4 : 0;
  if (path.size() >= root + 2 && path[root + 1] == L':') afterDrive = root + 2;
  if (path.find(L':', afterDrive) != std::wstring::npos) return false;
  return !IsDeviceName(FileNamePart(path));
}

std::wstring ExtendedPath(const std::wstring& path) {
  if (!IsFullPath(path) || HasNamespacePrefix(path)) return path;
  const bool unc = IsSeparator(path[0]);
  std::wstring extended = unc ? L"\\\\?\\UNC" : L"\\\\?\\" + path.substr(0, 2);
  // A UNC path's server and share are its root, as a drive is.
  const size_t root = unc ? 2 : 0;
  std::vector<std::wstring> names;
  size_t at = unc ? 2 : 3;
  while (at < path.size()) {
    size_t end = at;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    std::wstring name = path.substr(at, end - at);
    at = end + 1;
    if (name.empty() || name == L".") continue;
    if (name == L"..") {
      if (names.size() > root) names.pop_back();
      continue;
    }
    if (end < path.size() && name.back() == L'.' && name.find_first_not_of(L'.') != std::wstring::npos) name.pop_back();
    names.push_back(std::move(name));
  }
  const bool folder = IsSeparator(path.back());
  if (!folder && names.size() > root) {
    std::wstring& last = names.back();
    while (!last.empty() && (last.back() == L' ' || last.back() == L'.')) last.pop_back();
  }
  for (const std::wstring& name : names) extended += L"\\" + name;
  if (folder || names.empty()) extended += L'\\';
  return extended;
}

}  // namespace velmora
