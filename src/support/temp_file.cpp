#include "support/temp_file.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "support/ansi.h"
#include "support/components.h"
#include "support/debug_log.h"
#include "support/paths.h"
#include "support/text.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {

constexpr size_t kWorkingBuffer = 1024;

std::wstring TrimSpaces(const std::wstring& text) {
  const size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return std::wstring();
  return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

std::wstring NamePrefix() {
  std::wstring title = StringUtility::Instance().App().title;
  if (title.empty()) title = kApplicationTitle;
  std::wstring prefix;
  for (wchar_t c : UpperCase(title))
    if (c != L' ') prefix += c;
  return prefix;
}

// The extension becomes part of a path: a separator or drive colon in it would put the
// name outside the folder that was asked for.
bool ExtensionIsSafe(const std::wstring& extension) {
  return extension.find_first_of(L"\\/:") == std::wstring::npos;
}

}  // namespace

namespace detail {

std::wstring GetTempFileWith(std::wstring TempFolder, const std::wstring& Extension, const TempNameService& service) {
  WriteDebugLog(L"Start GetTempFile", 5, kMarkStart);
  const bool keepSystemName = Extension.empty() || UpperCase(Extension) == L"TMP";
  if (!keepSystemName && !ExtensionIsSafe(Extension)) {
    WriteDebugLog(L"End GetTempFile", 5, kMarkEnd);
    return std::wstring();
  }
  // The system's own files of a clashing attempt stay until a free name is found, so
  // the service cannot hand out the same number again and again.
  std::vector<std::wstring> systemFiles;
  std::wstring result;
  for (;;) {
    WriteDebugLog(L"Assign a string", -1, kMarkNone);
    std::string buffer(kWorkingBuffer, ' ');
    if (TempFolder.empty()) {
      WriteDebugLog(L"Get the user's temp path", -1, kMarkNone);
      const DWORD length = GetTempPathA(kWorkingBuffer - 1, buffer.data());
      // A longer path than the buffer holds comes back as its needed size, not as text.
      if (length == 0 || length > kWorkingBuffer - 1) {
        const DWORD error = GetLastError();
        for (const auto& file : systemFiles) DeleteFileW(ExtendedPath(file).c_str());
        const std::wstring message = L"Error getting a temporary file name :" + ToDecimal(error);
        MessageBoxA(nullptr, ToAnsi(message).c_str(), ToAnsi(kApplicationTitle).c_str(), MB_OK | MB_ICONSTOP);
        return std::wstring();
      }
      TempFolder = TrimSpaces(FromAnsi(buffer.data(), length));
    }
    WriteDebugLog(L"AlphaNum the app.title", -1, kMarkNone);
    const std::wstring prefix = NamePrefix();
    WriteDebugLog(L"Call GetTempFilename", -1, kMarkNone);
    const uint32_t unique = service(ToAnsi(TempFolder), ToAnsi(prefix), buffer.data());
    if (std::memchr(buffer.data(), '\0', buffer.size()) == nullptr) {
      for (const auto& file : systemFiles) DeleteFileW(ExtendedPath(file).c_str());
      WriteDebugLog(L"Exit NewGetTempFile (GetTempFilename returned a non-Null terminated string)", 5, kMarkEnd);
      return std::wstring();
    }
    if (unique < 1) break;
    WriteDebugLog(L"Process the return", -1, kMarkNone);
    const std::wstring name = TrimSpaces(FromAnsi(buffer.c_str(), std::strlen(buffer.c_str())));
    if (keepSystemName) {
      result = name;
      break;
    }
    systemFiles.push_back(name);
    if (name.size() < 3) break;
    const std::wstring candidate = name.substr(0, name.size() - 3) + Extension;
    if (fileutil::FileLength(candidate) > 0) continue;
    result = candidate;
    break;
  }
  for (const auto& file : systemFiles) DeleteFileW(ExtendedPath(file).c_str());
  WriteDebugLog(L"End GetTempFile", 5, kMarkEnd);
  return result;
}

}  // namespace detail

std::wstring GetTempFile(std::wstring TempFolder, std::wstring Extension) {
  return detail::GetTempFileWith(std::move(TempFolder), Extension,
                                 [](const std::string& folder, const std::string& prefix, char* buffer) {
                                   return static_cast<uint32_t>(
                                       GetTempFileNameA(folder.c_str(), prefix.c_str(), 0, buffer));
                                 });
}

}  // namespace velmora
