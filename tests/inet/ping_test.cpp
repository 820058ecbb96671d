// PingComputer with the system's ICMP service. The time-out case needs an echo that is
// never answered without sending anything beyond this machine: the ctest entry
// inet_ping_timeout runs this program in a network namespace of its own whose kernel
// ignores echo requests, and names the host in VELMORA_PING_SILENT_HOST.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "inet/cwininet.h"
#include "win_test_support.h"

namespace velmora {
namespace {

using namespace testing_support;

TEST(PingComputer, LoopbackAnswers) {
  if (!Env("VELMORA_PING_SILENT_HOST").empty()) GTEST_SKIP() << "echo replies are switched off here";
  cWinINET inet;
  EXPECT_GE(inet.PingComputer(L"127.0.0.1"), 0);
  EXPECT_GE(inet.PingComputer(L"localhost"), 0);
}

TEST(PingComputer, NamesThatDoNotResolveAreErrorsAndLongNamesRaise) {
  cWinINET inet;
  std::wstring name64 = L"no-such-host-";
  name64 += std::wstring(64 - name64.size() - 8, L'x') + L".invalid";
  ASSERT_EQ(name64.size(), 64u);
  EXPECT_EQ(inet.PingComputer(name64), -1);
  EXPECT_THROW(inet.PingComputer(name64 + L"x"), std::invalid_argument);
  EXPECT_THROW(inet.PingComputer(std::wstring(200, L'a')), std::invalid_argument);
}

TEST(PingComputer, SilentHostTimesOut) {
  const std::wstring host = Env("VELMORA_PING_SILENT_HOST");
  if (host.empty()) GTEST_SKIP() << "no silent host (only the inet_ping_timeout entry provides one)";
  cWinINET inet;
  const DWORD start = GetTickCount();
  EXPECT_EQ(inet.PingComputer(host), -255);
  const DWORD took = GetTickCount() - start;
  EXPECT_GE(took, 1800u);
  EXPECT_LT(took, 5000u);
}

}  // namespace
}  // namespace velmora
