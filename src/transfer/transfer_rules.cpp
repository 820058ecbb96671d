#include "transfer/transfer_rules.h"

#include <algorithm>


namespace velmora {

int EffectiveStallSeconds(int32_t requested, int32_t adminDefault) {
  const int32_t chosen = requested > 0 ? requested : adminDefault > 0 ? adminDefault : kDefaultStallSeconds;
  return std::clamp<int32_t>(chosen, kMinStallSeconds, kMaxStallSeconds);
}

std::wstring StallReason(int seconds) { return L"stalled: no data for " + std::to_wstring(seconds) + L" s"; }

bool IsTransient(FailureKind kind, int code) {
  switch (kind) {
    case FailureKind::NoConnection:
    case FailureKind::CutShort:
    case FailureKind::Stalled:
      return true;
    case FailureKind::HttpStatus: {
      static constexpr int kHttp[] = {408, 429, 500, 502, 503, 504};
      return std::find(std::begin(kHttp), std::end(kHttp), code) != std::end(kHttp);
    }
    case FailureKind::FtpReply: {
      static constexpr int kFtp[] = {421, 425, 426, 450, 451, 452};
      return std::find(std::begin(kFtp), std::end(kFtp), code) != std::end(kFtp);
    }
    case FailureKind::Permanent:
      break;
  }
  return false;
}

int FtpReplyCode(const std::wstring& response) {
  if (response.size() < 3) return 0;
  int code = 0;
  for (size_t i = 0; i < 3; ++i) {
    if (response[i] < L'0' || response[i] > L'9') return 0;
    code = code * 10 + (response[i] - L'0');
  }
  if (response.size() > 3 && response[3] != L' ' && response[3] != L'-') return 0;
  return code >= 100 ? code : 0;
}

int RetryDelaySeconds(int retryAfter, int attemptsMade) {
  if (retryAfter >= 0) return std::min(retryAfter, 300);
  const int step = std::clamp(attemptsMade, 1, 6);
  return std::min(1 << step, 60);
}

std::wstring WithAttempts(const std::wstring& reason, int attempts) {
  if (attempts <= 1) return reason;
  return reason + L" (after " + std::to_wstring(attempts) + L" attempts)";
}

namespace {
int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}
}  // namespace

bool IsSha256Text(const std::wstring& text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](wchar_t c) { return HexValue(c) >= 0; });
}

bool DigestMatches(const std::wstring& text, const unsigned char* digest, size_t size) {
  if (!IsSha256Text(text) || size != 32) return false;
  for (size_t i = 0; i < size; ++i)
    if (HexValue(text[2 * i]) * 16 + HexValue(text[2 * i + 1]) != digest[i]) return false;
  return true;
}

}  // namespace velmora
