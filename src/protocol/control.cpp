#include "protocol/control.h"

#include "protocol/request.h"
#include "support/text.h"

namespace velmora {

std::optional<ControlMessage> ParseControl(const std::wstring& text) {
  ControlMessage m;
  m.command = CommandWord(text);
  if (m.command != L"CANCEL" && m.command != L"STATUS") return std::nullopt;
  auto field = [&](const wchar_t* key) { return GetField(text, key, L"=", L" "); };
  m.reference = field(L"Reference");
  if (m.command == L"CANCEL") {
    m.source = field(L"SourceFileName");
    m.destination = field(L"DestinationFileName");
  }
  return m;
}

bool ControlMatches(const ControlMessage& m, int32_t parent, const DownloadRequest& r) {
  return parent != 0 && r.ParentHWnd == parent && r.Reference == m.reference &&
         (m.source.empty() || r.SourceFileName == m.source) &&
         (m.destination.empty() || r.DestinationFileName == m.destination);
}

}  // namespace velmora
