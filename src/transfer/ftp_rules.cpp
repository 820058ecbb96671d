#include "transfer/ftp_rules.h"

#include <vector>

#include "support/text.h"

namespace velmora {

namespace {
const std::wstring kPrefix = L"ftp://";

// One pass, like a plain text replace: "ftftp://p://" keeps the "ftp://" that the removal
// itself brings together, because only text that was in the source is searched. With
// `kept`, the position in the source of each character kept.
std::wstring Strip(const std::wstring& source, std::vector<size_t>* kept) {
  std::wstring out;
  out.reserve(source.size());
  if (kept) kept->reserve(source.size());
  size_t from = 0;
  for (;;) {
    const size_t at = FindNoCase(source, kPrefix, from);
    const size_t end = at == std::wstring::npos ? source.size() : at;
    out.append(source, from, end - from);
    if (kept)
      for (size_t i = from; i < end; ++i) kept->push_back(i);
    if (at == std::wstring::npos) break;
    from = at + kPrefix.size();
  }
  return out;
}
}  // namespace

std::wstring StripFtpPrefix(const std::wstring& source) { return Strip(source, nullptr); }

// Where the user information ends must agree with the log's masking (MaskUrlPasswords):
// every password used here lies inside what the log masks. A password with an unencoded
// "/" is taken whole ("u:pa/ss@host/f"), so that the server is never a piece of it; the
// price is that a source with a ":" before its first "/" and an "@" later in its path
// ("host:21/a@b") reads as user information: a port was never something a source could
// carry (the port is 21). A password holding "ftp://" loses it to the prefix removal,
// as every source always has; it must be written "ftp%3A//".
FtpSource SplitFtpSource(const std::wstring& source) {
  FtpSource s;
  std::vector<size_t> kept;
  const std::wstring text = Strip(source, &kept);
  const size_t slash = text.find(L'/');
  const std::wstring authority = text.substr(0, slash);
  const size_t colon = authority.find(L':');
  size_t at = authority.rfind(L'@');
  if (at == std::wstring::npos && colon != std::wstring::npos) {
    const size_t last = text.rfind(L'@');
    if (last != std::wstring::npos && last > colon) at = last;
  }
  // Only a password the log would mask whole is one: judged in the source as written,
  // as the log sees it ("ftp://u://x@h" has one, "u://x@h" and "u:a http://b@h" none).
  if (at != std::wstring::npos && colon < at) {
    const size_t end = UrlPasswordEnd(source, kept[colon]);
    if (end == std::wstring::npos || end < kept[at]) at = std::wstring::npos;
  }
  if (at != std::wstring::npos) {
    s.hasUserInfo = true;
    const bool withPassword = colon < at;
    s.user = text.substr(0, withPassword ? colon : at);
    if (withPassword) s.password = text.substr(colon + 1, at - colon - 1);
    s.hostAndPath = text.substr(at + 1);
  } else {
    s.hostAndPath = text;
  }
  const size_t hostEnd = s.hostAndPath.find(L'/');
  if (hostEnd == std::wstring::npos) {
    s.remotePath = s.hostAndPath;
    return s;
  }
  s.hasPath = true;
  s.server = s.hostAndPath.substr(0, hostEnd);
  s.remotePath = s.hostAndPath.substr(hostEnd + 1);
  return s;
}

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string PercentDecode(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '%' && i + 2 < bytes.size() && HexValue(bytes[i + 1]) >= 0 && HexValue(bytes[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(bytes[i + 1]) * 16 + HexValue(bytes[i + 2]));
      i += 2;
    } else {
      out += bytes[i];
    }
  }
  return out;
}

// The two go together: a user name from the request with the URL's password (or the
// other way round) would log one account in with another's secret.
FtpLogin ChooseFtpLogin(const FtpSource& source, const std::wstring& username, const std::wstring& password) {
  if (!username.empty() || !password.empty() || !source.hasUserInfo) return FtpLogin{username, password, false};
  return FtpLogin{source.user, source.password, true};
}

std::wstring RemoteDirectoryPart(const std::wstring& remoteFilename) {
  const size_t last = remoteFilename.rfind(L'/');
  return last == std::wstring::npos ? std::wstring() : remoteFilename.substr(0, last + 1);
}

std::wstring RemoteNamePart(const std::wstring& remoteFilename) {
  const size_t last = remoteFilename.rfind(L'/');
  return last == std::wstring::npos ? remoteFilename : remoteFilename.substr(last + 1);
}

namespace {
// The text of a reply's final line when that line is a "213" one; false otherwise.
bool Reply213(const std::string& reply, std::string& text) {
  std::string last;
  size_t start = 0;
  while (start < reply.size()) {
    size_t end = reply.find_first_of("\r\n", start);
    if (end == std::string::npos) end = reply.size();
    if (end > start) last = reply.substr(start, end - start);
    start = end + 1;
  }
  if (last.compare(0, 4, "213 ") != 0) return false;
  text = last.substr(4);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return true;
}

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}
}  // namespace

int64_t SizeReply(const std::string& reply) {
  std::string text;
  if (!Reply213(reply, text) || !AllDigits(text) || text.size() > 18) return -1;
  return std::stoll(text);
}

std::string MdtmReply(const std::string& reply) {
  std::string text;
  if (!Reply213(reply, text) || text.size() < 14 || !AllDigits(text.substr(0, 14))) return std::string();
  if (text.size() > 14 && (text[14] != '.' || !AllDigits(text.substr(15)))) return std::string();
  return text;
}

// Requesting programs read the halves as signed 32-bit numbers, so a low half of 2^31 or
// more is written negative rather than as the unsigned value.
std::wstring LastWriteTimeText(uint32_t high, uint32_t low) {
  return ToDecimal(static_cast<int32_t>(high)) + L"$" + ToDecimal(static_cast<int32_t>(low));
}

}  // namespace velmora
