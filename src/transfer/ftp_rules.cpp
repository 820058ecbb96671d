#include "transfer/ftp_rules.h"

#include "support/text.h"

namespace velmora {

namespace {
const std::wstring kPrefix = L"ftp://";
}

// One pass, like a plain text replace: "ftftp://p://" keeps the "ftp://" that the removal
// itself brings together, because only text that was in the source is searched.
std::wstring StripFtpPrefix(const std::wstring& source) {
  std::wstring out;
  out.reserve(source.size());
  size_t from = 0;
  for (;;) {
    const size_t at = FindNoCase(source, kPrefix, from);
    if (at == std::wstring::npos) break;
    out.append(source, from, at - from);
    from = at + kPrefix.size();
  }
  out.append(source, from, std::wstring::npos);
  return out;
}

FtpSource SplitFtpSource(const std::wstring& source) {
  FtpSource s;
  s.hostAndPath = StripFtpPrefix(source);
  const size_t slash = s.hostAndPath.find(L'/');
  if (slash == std::wstring::npos) {
    s.remotePath = s.hostAndPath;
    return s;
  }
  s.hasPath = true;
  s.server = s.hostAndPath.substr(0, slash);
  s.remotePath = s.hostAndPath.substr(slash + 1);
  return s;
}

std::wstring RemoteDirectoryPart(const std::wstring& remoteFilename) {
  const size_t last = remoteFilename.rfind(L'/');
  return last == std::wstring::npos ? std::wstring() : remoteFilename.substr(0, last + 1);
}

std::wstring RemoteNamePart(const std::wstring& remoteFilename) {
  const size_t last = remoteFilename.rfind(L'/');
  return last == std::wstring::npos ? remoteFilename : remoteFilename.substr(last + 1);
}

// Requesting programs read the halves as signed 32-bit numbers, so a low half of 2^31 or
// more is written negative rather than as the unsigned value.
std::wstring LastWriteTimeText(uint32_t high, uint32_t low) {
  return ToDecimal(static_cast<int32_t>(high)) + L"$" + ToDecimal(static_cast<int32_t>(low));
}

}  // namespace velmora
