// Rules of the FTP requests that need no operating system: where a source's server ends
// and its path begins, which remote folder a download changes to, and how a remote
// last-write time is written into a reply. Plain C++, tested natively.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

struct FtpSource {
  std::wstring hostAndPath;  // the source with every "ftp://" taken out
  std::wstring server;       // before the first "/"; empty when there is no "/"
  std::wstring remotePath;   // after the first "/"; the whole text when there is no "/"
  bool hasPath = false;      // false: no "/" after the host, so there is no server to ask
};

// Every "ftp://" (any case) is removed in one left-to-right pass, wherever it stands.
std::wstring StripFtpPrefix(const std::wstring& source);
FtpSource SplitFtpSource(const std::wstring& source);

// "pub/data/file.zip" -> "pub/data/"; empty when the name has no "/".
std::wstring RemoteDirectoryPart(const std::wstring& remoteFilename);
// "pub/data/file.zip" -> "file.zip"; the whole name when it has no "/".
std::wstring RemoteNamePart(const std::wstring& remoteFilename);

// A FILETIME as "high$low", each half as a signed 32-bit decimal number.
std::wstring LastWriteTimeText(uint32_t high, uint32_t low);

}  // namespace velmora
