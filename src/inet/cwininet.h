// cWinINET: the program's general-purpose internet class. FTP upload (directly or under
// a temporary name that replaces the destination at the end), HTTP download into a
// file, the five URL codecs and an ICMP ping. It holds no data between calls: every
// WinINet handle is either the caller's or opened and closed within one call.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>
#include <string>

#include "inet/upload_rules.h"
#include "inet/url_codecs.h"

namespace velmora {

class cWinINET {
 public:
  // Raised after every chunk of an upload with the percent sent; set CancelUpload to
  // stop it. Runs on the caller's thread inside UploadFile. Must not throw.
  std::function<void(int16_t Progress, bool& CancelUpload)> UploadProgress;

  // Sends `fName` to an FTP server on port 21. Without `hConnection` (or without
  // `hInternet`, which makes `hConnection` meaningless), `Destination` is
  // "server/path/on/server"; with one, it is the path on that connection's server.
  // Handles passed in stay open. Returns an UploadResult.
  int32_t UploadFile(const std::wstring& fName, const std::wstring& Destination,
                     const std::wstring& UserName = std::wstring(), const std::wstring& Password = std::wstring(),
                     HINTERNET hInternet = nullptr, HINTERNET hConnection = nullptr, bool UploadToTempFile = false,
                     bool PassiveUpload = true);

  // Fetches the URL `source` into the local file `fName`, which is replaced only when
  // the whole body arrived. `CallingReference`, `UserName`, `Password` and
  // `hConnection` are accepted for the callers' sake and not used. With
  // `PeriodicDoevents`, waiting window messages run before the 1st, 11th, 21st... write.
  int32_t DownloadFile(const std::wstring& source, const std::wstring& fName, int32_t CallingReference = 0,
                       const std::wstring& UserName = std::wstring(), const std::wstring& Password = std::wstring(),
                       HINTERNET hInternet = nullptr, HINTERNET hConnection = nullptr,
                       bool PeriodicDoevents = false);

  std::wstring URLEncode(const std::wstring& SourceString, bool ReplaceSpaces) const;

  // The last response text a server sent on this thread, as WinINet recorded it.
  std::wstring GetLastInternetResponse() const;

  // Round-trip time in milliseconds of one ICMP echo to `strComputerName`; -255 when
  // no reply came within 2 seconds; -1 on an error status, a name that does not resolve
  // or no ICMP service. Throws std::invalid_argument for a name over 64 characters.
  int32_t PingComputer(const std::wstring& strComputerName) const;

  std::wstring GetUploadResultDescription(int32_t eResult) const;
  std::wstring URLEncode2(const std::wstring& sWork) const;
  // Throws UrlConversionError on a malformed "%" sequence.
  std::string URLDecodeB2(const std::wstring& sWork) const;
  std::wstring URLDecode2(const std::wstring& sWork) const;
  std::wstring URLEncodeB2(const std::string& sWork) const;
  std::wstring URLEncodeB2(const std::wstring& sWork) const;
};

// The process's ANSI code page, as the codecs see it.
const AnsiCodePage& SystemCodePage();

}  // namespace velmora
