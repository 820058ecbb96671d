// The rules of transfers that must survive the network: the stall limit, which failures
// are worth another attempt and when, and the checksum's text. Plain C++.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

inline constexpr int kDefaultStallSeconds = 60;
inline constexpr int kMinStallSeconds = 5;
inline constexpr int kMaxStallSeconds = 3600;

// The stall limit of one request: its own StallSeconds when given (a number > 0), else
// the administrator's default when that is > 0, else 60; clamped to 5..3600 either way,
// so that a typo never leaves a transfer without a limit.
int EffectiveStallSeconds(int32_t requested, int32_t adminDefault);

// The reason a stalled attempt gives.
std::wstring StallReason(int seconds);

// How an attempt failed, as far as another attempt could help.
enum class FailureKind {
  Permanent,     // bad URL, local file errors, checksum mismatch, anything not listed
  NoConnection,  // no connection to the server at all
  CutShort,      // a reset or a body cut short
  Stalled,       // no byte for the stall limit
  HttpStatus,    // the server answered with an HTTP status (code given)
  FtpReply       // the server answered with an FTP reply (code given)
};
bool IsTransient(FailureKind kind, int code);

// The leading three-digit reply code of an FTP server's answer ("421 Too many users"),
// 0 when the text does not start with one.
int FtpReplyCode(const std::wstring& response);

// Seconds to wait before attempt `attemptsMade + 1`: the server's Retry-After when it
// gave one (>= 0; held to 300), else 2, 4, 8 ... held to 60.
int RetryDelaySeconds(int retryAfter, int attemptsMade);

// A failure reason carrying how many attempts were made (only when more than one).
std::wstring WithAttempts(const std::wstring& reason, int attempts);

// Sha256=: exactly 64 hex digits, either case.
bool IsSha256Text(const std::wstring& text);
// Whether the 32-byte digest is the one the text names.
bool DigestMatches(const std::wstring& text, const unsigned char* digest, size_t size);

}  // namespace velmora
