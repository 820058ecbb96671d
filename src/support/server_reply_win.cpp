#include <windows.h>
#include <wininet.h>

#include <algorithm>

#include "support/server_reply.h"

namespace velmora {

// A short buffer is answered with ERROR_INSUFFICIENT_BUFFER and the length needed (with
// or without its terminator, by implementation): the buffer grows until the reply fits,
// and always keeps one byte WinINet is not told of, so the text ends whatever is written.
std::string LastServerReply() {
  std::string text(512, '\0');
  for (int round = 0; round < 8; ++round) {
    DWORD code = 0;
    DWORD length = static_cast<DWORD>(text.size() - 1);
    if (InternetGetLastResponseInfoA(&code, text.data(), &length)) {
      text.resize(std::min<size_t>(length, text.size() - 1));
      text.resize(std::min(text.find('\0'), text.size()));
      return text;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::string();
    text.assign(std::max<size_t>(static_cast<size_t>(length) + 2, text.size() * 2), '\0');
  }
  return std::string();
}

}  // namespace velmora
