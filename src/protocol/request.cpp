#include "protocol/request.h"

#include <algorithm>

#include "support/text.h"
#include "transfer/pace_rules.h"

namespace velmora {

std::wstring CommandWord(const std::wstring& text) {
  size_t found = 0;
  return UpperCase(TokenExtract(text, 1, L" ", found));
}

int ClampRetries(int32_t requested) { return requested <= 0 ? 0 : std::min<int32_t>(requested, kMaxRetries); }

bool FastPace(const std::wstring& requested, const std::wstring& machine) {
  return UpperCase(requested.empty() ? machine : requested) == L"FAST";
}

std::optional<DownloadRequest> ParseRequest(const std::wstring& text, int32_t parent, const std::wstring& machinePace) {
  if (CommandWord(text) != L"GET") return std::nullopt;
  auto field = [&](const wchar_t* key) { return GetField(text, key, L"=", L" "); };
  DownloadRequest r;
  r.ParentHWnd = parent;
  r.Type = field(L"Type");
  r.Reference = field(L"Reference");
  r.StoryReference = LeadingNumberToInt32(field(L"StoryReference"));
  r.SourceFileName = field(L"SourceFileName");
  r.DestinationFileName = field(L"DestinationFileName");
  r.LinkedSourceFileName = field(L"LinkedSourceFileName");
  r.LinkedDestinationFileName = field(L"LinkedDestinationFileName");
  r.Username = field(L"Username");
  r.Password = field(L"Password");
  r.PassiveMode = LeadingNumberIsNonZero(field(L"PassiveMode"));
  // Exactly "1": a requester written before failure replies never sees one.
  r.ReplyOnFailure = field(L"ReplyOnFailure") == L"1";
  r.StallSeconds = LeadingNumberToInt32(field(L"StallSeconds"));
  r.Retries = ClampRetries(LeadingNumberToInt32(field(L"Retries")));
  r.Sha256 = field(L"Sha256");
  // Anything but the three words is the default: an older requester's typo runs as before.
  const std::wstring priority = UpperCase(field(L"Priority"));
  if (priority == L"HIGH") r.Priority = RequestPriority::High;
  if (priority == L"LOW") r.Priority = RequestPriority::Low;
  r.Progress = field(L"Progress") == L"1";
  r.Persist = field(L"Persist") == L"1";
  r.IfChanged = field(L"IfChanged") == L"1";
  r.KeepServerTime = field(L"KeepServerTime") == L"1";
  r.MaxBytesPerSecond = RequestedBytesPerSecond(field(L"MaxBytesPerSecond"));
  r.Fast = FastPace(field(L"Pace"), machinePace);
  return r;
}

}  // namespace velmora
