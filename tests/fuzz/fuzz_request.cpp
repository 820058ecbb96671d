// Any text a requester can send: reading it as a request, echoing it as a reply,
// masking its passwords and making it a log line must neither crash nor read out of
// bounds, the line never holds a line break, and as a URL's password it never shows;
// any text as a reply or as a value the client library composes, likewise.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/request_rules.h"
#include "client/client_rules.h"
#include "protocol/replies.h"
#include "protocol/request.h"
#include "support/debug_level.h"
#include "support/debug_log.h"
#include "support/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring text;
  text.reserve(size);
  for (size_t i = 0; i < size; ++i) text += static_cast<wchar_t>(data[i]);
  if (auto request = velmora::ParseRequest(text, 1)) {
    const std::wstring reply = velmora::ComposeReply(*request, true);
    // What was written must read back.
    if (velmora::GetField(reply, L"Type", L"=", L" ") != request->Type &&
        request->Type.find(L'"') == std::wstring::npos && request->Type.find(L' ') == std::wstring::npos)
      __builtin_trap();
    velmora::PendingLine(*request);
  }
  skytrove::ParseReply(text);
  // Whatever the client library agrees to send, the agent reads back unchanged.
  std::wstring problem;
  const std::wstring composed =
      skytrove::ComposeRequest({{L"Reference", text}, {L"SourceFileName", L"x y"}}, true, problem);
  if (!composed.empty()) {
    auto request = velmora::ParseRequest(composed, 1);
    if (!request || request->Reference != text || request->SourceFileName != L"x y" || !request->ReplyOnFailure)
      __builtin_trap();
    // Nor does it read a field that was not given, one still to come included.
    for (const wchar_t* key : velmora::kRequestKeys) {
      const std::wstring k = key;
      if (k != L"Reference" && k != L"SourceFileName" && k != L"ReplyOnFailure" &&
          !velmora::GetField(composed, k, L"=", L" ").empty())
        __builtin_trap();
    }
  }
  velmora::MaskField(text, L"Password");
  // Any text as a URL's password is masked whole, with a scheme and without one (where
  // a password holds no scheme and does not start with "//").
  if (velmora::MaskUrlPasswords(L"ftp://u:" + text + L"@h/f") != L"ftp://u:***@h/f") __builtin_trap();
  if (text.compare(0, 2, L"//") != 0 && text.find(L"://") == std::wstring::npos &&
      velmora::MaskUrlPasswords(L"GET u:" + text + L"@h/f") != L"GET u:***@h/f")
    __builtin_trap();
  // The one-pass masking is the rule of UrlPasswordEnd, which the FTP sources are split by.
  std::wstring byColon;
  size_t copied = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t end = velmora::UrlPasswordEnd(text, i);
    if (end == std::wstring::npos) continue;
    byColon += text.substr(copied, i + 1 - copied) + L"***";
    copied = i = end;
  }
  if (velmora::MaskUrlPasswords(text) != byColon + text.substr(copied)) __builtin_trap();
  const std::wstring line = velmora::LogText(text);
  if (line.find_first_of(L"\r\n") != std::wstring::npos) __builtin_trap();
  velmora::DebugLevelFromCommandLine(text);
  velmora::CommandLineArguments(text);
  velmora::RestartArguments(text);
  return 0;
}
