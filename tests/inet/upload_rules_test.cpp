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

// The final reply decides an upload: a refusal hidden behind a multi-line reply or after
// an earlier positive one must not read as success.
TEST(UploadRules, LastReplyCodeOfAResponse) {
  EXPECT_EQ(LastReplyCode("226 Transfer complete."), 226);
  EXPECT_EQ(LastReplyCode("150 Opening.\r\n451 Local error.\r\n"), 451);
  EXPECT_EQ(LastReplyCode("552-Quota\r\n 226 is not a reply\r\n552 exceeded"), 552);
  EXPECT_EQ(LastReplyCode("451-first line\n226-looks like a code\n451"), 451);
  EXPECT_EQ(LastReplyCode(""), 0);
  EXPECT_EQ(LastReplyCode("no code here\r\n22 short"), 0);
  EXPECT_EQ(BackupName(L"a/x.bin", 0), L"a/x.bin.old");
  EXPECT_EQ(BackupName(L"a/x.bin", 2), L"a/x.bin.old2");
}

}  // namespace
}  // namespace velmora
