// Path rules of the file-utility component: plain C++, both separators accepted.
#pragma once

#include <string>

namespace velmora {

// The part after the last "\" or "/" (the whole text when it has none).
std::wstring FileNamePart(const std::wstring& path);
// The extension of the file-name part, without the dot; empty when it has none.
std::wstring ExtensionPart(const std::wstring& path);
// The path without the extension of its file-name part (and without the dot).
std::wstring StemPart(const std::wstring& path);
// The folder part, without a trailing separator; empty when there is none.
std::wstring FolderPart(const std::wstring& path);

// A path that names the same file whatever the current folder and drive: "X:\..." or
// "\\server\share\..." ("/" counts as "\"). "a.txt", "\a.txt" and "X:a.txt" are not.
bool IsFullPath(const std::wstring& path);

}  // namespace velmora
