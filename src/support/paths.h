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

// Whether a full path names a file of its own: false when its last component is a DOS
// device ("CON", "NUL", "COM1", "LPT\u00b9"... in any case, with any extension and trailing
// dots or spaces, which the system opens as the device whatever the folder) or when it
// holds a ":" after the drive (an alternate stream of another file). A device name stays
// one with any extension, so the part kept beside such a name ("CON.vskpart") is one too.
bool NamesPlainFile(const std::wstring& path);

// The form of a full path that the file calls take at any length, past MAX_PATH too:
// "\\?\C:\..." or "\\?\UNC\server\share\...". That form is taken literally, so the
// path is first normalised as the system would have done it: "/" read as "\", runs of
// separators as one, "." and ".." resolved (never above the drive or the share), the last
// dot of a folder's name and the trailing dots and spaces of the last name dropped. Any
// other path (already "\\?\" or "\\.\", or not full) is returned as it is. Only the
// calls see this form; logs and replies keep the path as it was given.
std::wstring ExtendedPath(const std::wstring& path);

}  // namespace velmora
