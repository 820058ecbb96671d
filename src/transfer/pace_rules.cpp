#include "transfer/pace_rules.h"

#include <cmath>
#include <cstdio>

#include "support/text.h"

namespace velmora {

namespace {
bool Hour(int64_t h) { return h >= 0 && h <= 23; }
bool Cap(int64_t v) { return v >= kMinBytesPerSecond && v <= kMaxBytesPerSecond; }
}  // namespace

int64_t RequestedBytesPerSecond(const std::wstring& value) {
  const double v = std::nearbyint(LeadingNumber(value));
  return v >= static_cast<double>(kMinBytesPerSecond) && v <= static_cast<double>(kMaxBytesPerSecond)
             ? static_cast<int64_t>(v)
             : 0;
}

bool InWorkHours(const MachineLimits& m, int hour) {
  if (!Hour(m.start) || !Hour(m.end) || m.start == m.end) return false;
  return m.start < m.end ? hour >= m.start && hour < m.end : hour >= m.start || hour < m.end;
}

int64_t CapInForce(int64_t requested, const MachineLimits& machine, int hour) {
  const int64_t own = InWorkHours(machine, hour) ? machine.workHours : machine.allHours;
  const int64_t a = Cap(requested) ? requested : 0;
  const int64_t b = Cap(own) ? own : 0;
  if (a == 0) return b;
  if (b == 0) return a;
  return a < b ? a : b;
}

void Pacer::SetCap(int64_t cap, int64_t bytes, uint64_t now) {
  if (cap == cap_) return;
  cap_ = cap;
  fromBytes_ = bytes;
  fromMs_ = now;
}

uint64_t Pacer::WaitMs(int64_t bytes, uint64_t now) const {
  if (cap_ <= 0 || bytes <= fromBytes_) return 0;
  // When these bytes are due, in milliseconds after the cap came in force.
  const double due = static_cast<double>(bytes - fromBytes_) * 1000.0 / static_cast<double>(cap_);
  const double elapsed = static_cast<double>(now - fromMs_);
  return due > elapsed ? static_cast<uint64_t>(std::ceil(due - elapsed)) : 0;
}

std::wstring CapText(int64_t cap) {
  if (cap < 1024 * 1024) return L"limited to " + ToDecimal((cap + 512) / 1024) + L" KB/s";
  wchar_t text[32] = {};
  std::swprintf(text, 32, L"limited to %.1f MB/s", static_cast<double>(cap) / (1024.0 * 1024.0));
  return text;
}

}  // namespace velmora
