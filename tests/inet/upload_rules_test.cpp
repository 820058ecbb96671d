#include "inet/upload_rules.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

TEST(UploadRules, ResultTexts) {
  const std::vector<std::pair<int32_t, std::wstring>> cases = {
      {0, L"Upload Successful"},
      {1, L"No Internet Connection"},
      {2, L"Unable to connect to server"},
      {3, L"Unable to write destination file"},
      {4, L"Unable to read source file"},
      {5, L"The user cancelled the operation"},
      {6, L""},
      {-1, L""},
      {INT32_MIN, L""},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(GetUploadResultDescription(code), text) << code;
}

TEST(UploadRules, PercentRoundsHalfToEvenAndHasNoThirtyTwoBitLimit) {
  struct Case {
    int64_t sent, total;
    int16_t percent;
  };
  const int64_t big = 5LL << 30;  // 5 GiB
  const std::vector<Case> cases = {
      {2048, 2048, 100}, {0, 100, 0},     {1, 200, 0},  // 0.5 -> 0
      {3, 200, 2},       {5, 200, 2},     {7, 200, 4},  // 1.5 -> 2, 2.5 -> 2, 3.5 -> 4
      {2048, 4096, 50},  {big / 2, big, 50}, {big, big, 100}, {big - 1, big, 100},
      {2048, 0, 0},      {10, 5, 100},
  };
  for (const auto& c : cases) EXPECT_EQ(UploadPercent(c.sent, c.total), c.percent) << c.sent << "/" << c.total;
}

TEST(UploadRules, DestinationAndTemporaryUploadName) {
  struct Case {
    std::wstring destination, server, remote;
  };
  const std::vector<Case> cases = {
      {L"127.0.0.3/a/b.txt", L"127.0.0.3", L"a/b.txt"},
      {L"host/b.txt", L"host", L"b.txt"},
      {L"host", L"host", L""},
      {L"host/", L"host", L""},
      {L"host//abs.txt", L"host", L"/abs.txt"},
  };
  for (const auto& c : cases) {
    const FtpDestination d = SplitDestination(c.destination);
    EXPECT_EQ(d.server, c.server);
    EXPECT_EQ(d.remoteName, c.remote);
  }
  EXPECT_EQ(TemporaryUploadName(L"a/b/c.txt", L"VEL1.txt"), L"a/b/VEL1.txt");
  EXPECT_EQ(TemporaryUploadName(L"/c.txt", L"VEL1.txt"), L"/VEL1.txt");
  // No folder: beside the destination in the login folder, not in the server's root.
  EXPECT_EQ(TemporaryUploadName(L"c.txt", L"VEL1.txt"), L"VEL1.txt");
}

}  // namespace
}  // namespace velmora
