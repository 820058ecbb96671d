// How fast a transfer may go: the request's cap and the machine's (with its work hours),
// and the pacer that holds a transfer to the cap in force. Plain C++.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

inline constexpr int64_t kMinBytesPerSecond = 1024;
inline constexpr int64_t kMaxBytesPerSecond = 2147483647;
// How often a running transfer looks at the cap again (work hours may begin or end).
inline constexpr uint64_t kLimitRecheckMs = 5000;

// "MaxBytesPerSecond=N" read by the agent's number rule; 0 (no cap) for no number, one
// below 1,024 or one above 2^31-1.
int64_t RequestedBytesPerSecond(const std::wstring& value);

// The machine's caps as the registry holds them; -1 for a value that is missing.
struct MachineLimits {
  int64_t allHours = -1;   // MaxBytesPerSecond
  int64_t workHours = -1;  // WorkHoursMaxBytesPerSecond, instead of it during work hours
  int64_t start = -1;      // WorkHoursStart, a local hour 0-23, inclusive
  int64_t end = -1;        // WorkHoursEnd, exclusive; before the start: past midnight
};
// Whether the local `hour` is within the work hours; never when they are not set (a
// start equal to the end, either one missing or out of range).
bool InWorkHours(const MachineLimits& machine, int hour);
// The cap in force at the local `hour`: the lowest of the request's and the machine's; 0
// for none. A machine value of 0, a missing one or one out of range sets none.
int64_t CapInForce(int64_t requested, const MachineLimits& machine, int hour);

// Holds a transfer's bytes to a cap: after `bytes` in all, how long to wait before the
// next read so that they took at least bytes / cap seconds since the cap came in force. A
// new cap counts from the moment it came, so a transfer that was capped neither makes up
// for lost time nor owes any when the cap rises or goes.
class Pacer {
 public:
  // `now`: a millisecond clock; `cap` 0: none.
  void SetCap(int64_t cap, int64_t bytes, uint64_t now);
  int64_t Cap() const { return cap_; }
  uint64_t WaitMs(int64_t bytes, uint64_t now) const;

 private:
  int64_t cap_ = 0;
  int64_t fromBytes_ = 0;
  uint64_t fromMs_ = 0;
};

// "limited to 64 KB/s" (KB of 1,024 bytes, MB beyond 1,024 KB with one decimal).
std::wstring CapText(int64_t cap);

}  // namespace velmora
