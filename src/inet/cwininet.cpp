// cWinINET's small operations: the codecs bound to the system's ANSI code page, the
// result texts, the server's last response and the ping.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
#include <wininet.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "inet/cwininet.h"
#include "support/ansi.h"
#include "support/handles.h"
#include "support/server_reply.h"

namespace velmora {

namespace {

class SystemPage final : public AnsiCodePage {
 public:
  // No default character: CP_ACP may be UTF-8, which refuses one. Whatever the page
  // cannot hold comes back as its own "?" substitute or, failing that, as "?".
  std::string Encode(wchar_t c) const override {
    char bytes[8] = {};
    const int n = WideCharToMultiByte(CP_ACP, 0, &c, 1, bytes, sizeof bytes, nullptr, nullptr);
    return n > 0 ? std::string(bytes, static_cast<size_t>(n)) : std::string("?");
  }
  wchar_t Decode(uint8_t code) const override {
    const char byte = static_cast<char>(code);
    wchar_t c = 0;
    return MultiByteToWideChar(CP_ACP, 0, &byte, 1, &c, 1) == 1 ? c : L'?';
  }
};

struct IcmpTraits {
  using type = HANDLE;
  static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(type h) noexcept { IcmpCloseHandle(h); }
};
using UniqueIcmp = Unique<IcmpTraits>;

// Winsock stays started for one ping and is released on every way out, exceptions too.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data{};
    started_ = WSAStartup(MAKEWORD(1, 1), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

 private:
  bool started_ = false;
};

constexpr size_t kMaxPingName = 64;
constexpr DWORD kPingTimeoutMs = 2000;
constexpr size_t kReplyBufferSize = 163;
constexpr WORD kPingDataSize = 32;

}  // namespace

const AnsiCodePage& SystemCodePage() {
  static const SystemPage page;
  return page;
}

std::wstring cWinINET::URLEncode(const std::wstring& SourceString, bool ReplaceSpaces) const {
  return velmora::URLEncode(SourceString, ReplaceSpaces, SystemCodePage());
}
std::wstring cWinINET::URLEncode2(const std::wstring& sWork) const {
  return velmora::URLEncode2(sWork, SystemCodePage());
}
std::string cWinINET::URLDecodeB2(const std::wstring& sWork) const { return velmora::URLDecodeB2(sWork); }
std::wstring cWinINET::URLDecode2(const std::wstring& sWork) const {
  return velmora::URLDecode2(sWork, SystemCodePage());
}
std::wstring cWinINET::URLEncodeB2(const std::string& sWork) const { return velmora::URLEncodeB2(sWork); }
std::wstring cWinINET::URLEncodeB2(const std::wstring& sWork) const { return velmora::URLEncodeB2(sWork); }

std::wstring cWinINET::GetUploadResultDescription(int32_t eResult) const {
  return velmora::GetUploadResultDescription(eResult);
}

std::wstring cWinINET::GetLastInternetResponse() const { return FromAnsi(LastServerReply()); }

// A name that does not resolve is an error, not a ping of 0.0.0.0: Linux (and so Wine)
// answers an echo to that address from the local machine, which would pass an unknown
// host off as a fast one.
int32_t cWinINET::PingComputer(const std::wstring& strComputerName) const {
  WinsockSession winsock;
  if (strComputerName.size() > kMaxPingName)
    throw std::invalid_argument("PingComputer: the computer name is longer than 64 characters");
  const std::string name = ToAnsi(strComputerName);
  const hostent* host = gethostbyname(name.c_str());
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 || host->h_addr_list == nullptr ||
      host->h_addr_list[0] == nullptr)
    return -1;
  IPAddr address = 0;
  std::memcpy(&address, host->h_addr_list[0], sizeof address);

  UniqueIcmp icmp(IcmpCreateFile());
  if (!icmp) return -1;
  IP_OPTION_INFORMATION options{};
  options.Ttl = 255;
  char request[kPingDataSize];
  std::memset(request, 'A', sizeof request);
  constexpr size_t kReplySize = std::max(kReplyBufferSize, sizeof(ICMP_ECHO_REPLY) + kPingDataSize + 8);
  alignas(ICMP_ECHO_REPLY) std::array<unsigned char, kReplySize> reply{};
  const DWORD replies = IcmpSendEcho(icmp.get(), address, request, kPingDataSize, &options, reply.data(),
                                     static_cast<DWORD>(reply.size()), kPingTimeoutMs);
  if (replies == 0) return GetLastError() == IP_REQ_TIMED_OUT ? -255 : -1;
  ICMP_ECHO_REPLY first;
  std::memcpy(&first, reply.data(), sizeof first);
  return first.Status == IP_SUCCESS ? static_cast<int32_t>(first.RoundTripTime) : -1;
}

}  // namespace velmora
