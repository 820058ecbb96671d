// Reading the requester-control messages "CANCEL" and "STATUS": a requester asking about,
// or taking back, its own requests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/download_request.h"

namespace velmora {

struct ControlMessage {
  std::wstring command;  // "CANCEL" or "STATUS"
  std::wstring reference;
  std::wstring source;       // CANCEL only: narrows when not empty
  std::wstring destination;  // CANCEL only: narrows when not empty
};
std::optional<ControlMessage> ParseControl(const std::wstring& text);
// Whether `request` is one that `message`, sent with window `parent`, speaks of.
bool ControlMatches(const ControlMessage& message, int32_t parent, const DownloadRequest& request);

}  // namespace velmora
