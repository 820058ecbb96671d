// Rules of the FTP requests that need no operating system: where a source's server ends
// and its path begins, which remote folder a download changes to, and how a remote
// last-write time is written into a reply. Plain C++, tested natively.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

struct FtpSource {
  std::wstring hostAndPath;  // the source with every "ftp://" and the user information taken out
  std::wstring server;       // before the first "/"; empty when there is no "/"
  std::wstring remotePath;   // after the first "/"; the whole text when there is no "/"
  bool hasPath = false;      // false: no "/" after the host, so there is no server to ask
  // The user information ("user:password@"), as written: still percent-encoded.
  bool hasUserInfo = false;
  std::wstring user;
  std::wstring password;
};

// Every "ftp://" (any case) is removed in one left-to-right pass, wherever it stands.
std::wstring StripFtpPrefix(const std::wstring& source);
// The user information ends at the last "@" before the first "/"; when there is none
// there but a ":" before that "/" (a password holding an unencoded "/"), at the last "@"
// of the source. Never within a scheme's "://" (see the .cpp).
FtpSource SplitFtpSource(const std::wstring& source);

// "%XX" as the byte XX; anything else, a "%" without two hexadecimal digits included,
// as it is. Bytes in, bytes out: the login reaches the server as the URL's bytes.
std::string PercentDecode(const std::string& bytes);

struct FtpLogin {
  std::wstring user;
  std::wstring password;
  bool fromUrl = false;  // the source's user information, still percent-encoded
};
// The request's Username and Password when it gives either; else the source's.
FtpLogin ChooseFtpLogin(const FtpSource& source, const std::wstring& username, const std::wstring& password);

// "pub/data/file.zip" -> "pub/data/"; empty when the name has no "/".
std::wstring RemoteDirectoryPart(const std::wstring& remoteFilename);
// "pub/data/file.zip" -> "file.zip"; the whole name when it has no "/".
std::wstring RemoteNamePart(const std::wstring& remoteFilename);

// What a server says of one remote file beyond its listing.
struct FtpFileFacts {
  int64_t size = -1;      // SIZE's exact byte count; -1 when the server gave none
  std::wstring modified;  // MDTM's time to the second, "YYYYMMDDhhmmss" (and any fraction it gave)
};
// The byte count of a "213 <digits>" reply to SIZE; -1 for anything else.
int64_t SizeReply(const std::string& reply);
// The time of a "213 YYYYMMDDhhmmss[.fraction]" reply to MDTM; empty for anything else
// (a server that writes the time some other way is taken to have no MDTM).
std::string MdtmReply(const std::string& reply);

// A FILETIME as "high$low", each half as a signed 32-bit decimal number.
std::wstring LastWriteTimeText(uint32_t high, uint32_t low);

}  // namespace velmora
