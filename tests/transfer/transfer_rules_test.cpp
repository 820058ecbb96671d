// The rules that decide how a transfer meets a failing network.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "transfer/pace_rules.h"
#include "transfer/transfer_rules.h"

using namespace velmora;

TEST(TransferRules, StallLimitFromRequestAdministratorAndBounds) {
  EXPECT_EQ(EffectiveStallSeconds(0, 0), 60);
  EXPECT_EQ(EffectiveStallSeconds(0, 30), 30);
  EXPECT_EQ(EffectiveStallSeconds(7, 30), 7);
  EXPECT_EQ(EffectiveStallSeconds(1, 30), 5);
  EXPECT_EQ(EffectiveStallSeconds(99999, 0), 3600);
  EXPECT_EQ(EffectiveStallSeconds(-4, 2), 5);
  EXPECT_EQ(StallReason(5), L"stalled: no data for 5 s");
}

TEST(TransferRules, TransientOrPermanentAndTheDelays) {
  for (int code : {408, 429, 500, 502, 503, 504}) EXPECT_TRUE(IsTransient(FailureKind::HttpStatus, code)) << code;
  for (int code : {400, 401, 403, 404, 410, 501, 505}) EXPECT_FALSE(IsTransient(FailureKind::HttpStatus, code)) << code;
  for (int code : {421, 425, 426, 450, 451, 452}) EXPECT_TRUE(IsTransient(FailureKind::FtpReply, code)) << code;
  for (int code : {530, 550, 553, 0}) EXPECT_FALSE(IsTransient(FailureKind::FtpReply, code)) << code;
  EXPECT_TRUE(IsTransient(FailureKind::Stalled, 0));
  EXPECT_TRUE(IsTransient(FailureKind::CutShort, 0));
  EXPECT_TRUE(IsTransient(FailureKind::NoConnection, 0));
  EXPECT_FALSE(IsTransient(FailureKind::Permanent, 503));
  EXPECT_EQ(FtpReplyCode(L"421 Too many users"), 421);
  EXPECT_EQ(FtpReplyCode(L"550-No such file"), 550);
  EXPECT_EQ(FtpReplyCode(L"4210 x"), 0);
  EXPECT_EQ(FtpReplyCode(L"The server closed"), 0);
  EXPECT_EQ(RetryDelaySeconds(-1, 1), 2);
  EXPECT_EQ(RetryDelaySeconds(-1, 2), 4);
  EXPECT_EQ(RetryDelaySeconds(-1, 3), 8);
  EXPECT_EQ(RetryDelaySeconds(-1, 9), 60);
  EXPECT_EQ(RetryDelaySeconds(0, 4), 0);
  EXPECT_EQ(RetryDelaySeconds(7, 4), 7);
  EXPECT_EQ(RetryDelaySeconds(9000, 1), 300);
  EXPECT_EQ(WithAttempts(L"HTTP status 503", 1), L"HTTP status 503");
  EXPECT_EQ(WithAttempts(L"HTTP status 503", 3), L"HTTP status 503 (after 3 attempts)");
}

TEST(TransferRules, ChecksumText) {
  const std::wstring hex = L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  unsigned char digest[32];
  for (int i = 0; i < 32; ++i) digest[i] = static_cast<unsigned char>(std::stoi(std::string(hex.begin() + 2 * i, hex.begin() + 2 * i + 2), nullptr, 16));
  EXPECT_TRUE(DigestMatches(hex, digest, 32));
  std::wstring upper = hex;
  for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
  EXPECT_TRUE(DigestMatches(upper, digest, 32));
  digest[31] ^= 1;
  EXPECT_FALSE(DigestMatches(hex, digest, 32));
  EXPECT_FALSE(IsSha256Text(hex.substr(1)));
  EXPECT_FALSE(IsSha256Text(hex.substr(1) + L"g"));
}

// The cap a transfer is held to, and the pacer that holds it there.
TEST(PaceRules, TheLowestCapInForceAndAPacerThatOwesNothingAcrossAChange) {
  using namespace velmora;
  EXPECT_EQ(RequestedBytesPerSecond(L"1024"), 1024);
  EXPECT_EQ(RequestedBytesPerSecond(L"65536KB"), 65536);  // the leading digits, as StoryReference
  EXPECT_EQ(RequestedBytesPerSecond(L"2147483647"), 2147483647);
  for (const wchar_t* none : {L"1023", L"2147483648", L"", L"fast", L"-5000", L"0"})
    EXPECT_EQ(RequestedBytesPerSecond(none), 0) << std::wstring(none).size();

  MachineLimits day{0, 0, 9, 17};
  EXPECT_TRUE(InWorkHours(day, 9));
  EXPECT_FALSE(InWorkHours(day, 17));
  MachineLimits night{0, 0, 22, 6};
  EXPECT_TRUE(InWorkHours(night, 23) && InWorkHours(night, 5));
  EXPECT_FALSE(InWorkHours(night, 6) || InWorkHours(night, 21));
  for (const MachineLimits& unset : {MachineLimits{0, 0, 9, 9}, MachineLimits{0, 0, -1, 17}, MachineLimits{0, 0, 9, 24}})
    EXPECT_FALSE(InWorkHours(unset, 10));

  const MachineLimits machine{200000, 50000, 9, 17};
  EXPECT_EQ(CapInForce(0, machine, 8), 200000);
  EXPECT_EQ(CapInForce(0, machine, 10), 50000);  // work hours instead of all hours
  EXPECT_EQ(CapInForce(100000, machine, 8), 100000);
  EXPECT_EQ(CapInForce(100000, machine, 10), 50000);
  EXPECT_EQ(CapInForce(100000, MachineLimits{0, -1, -1, -1}, 10), 100000);
  EXPECT_EQ(CapInForce(0, MachineLimits{500, -1, -1, -1}, 10), 0);  // below 1,024: none

  Pacer pacer;
  EXPECT_EQ(pacer.WaitMs(1 << 20, 0), 0u);
  pacer.SetCap(1000, 0, 100);
  EXPECT_EQ(pacer.WaitMs(2000, 100), 2000u);
  EXPECT_EQ(pacer.WaitMs(2000, 1600), 500u);
  EXPECT_EQ(pacer.WaitMs(2000, 3000), 0u);
  pacer.SetCap(1000, 2000, 9000);  // the same cap: still counted from its start
  EXPECT_EQ(pacer.WaitMs(9000, 9000), 100u);
  pacer.SetCap(4000, 9000, 9000);  // a new cap counts from now: no catching up
  EXPECT_EQ(pacer.WaitMs(13000, 9000), 1000u);
  pacer.SetCap(0, 13000, 9500);
  EXPECT_EQ(pacer.WaitMs(1 << 30, 9500), 0u);

  EXPECT_EQ(CapText(65536), L"limited to 64 KB/s");
  EXPECT_EQ(CapText(2 * 1024 * 1024), L"limited to 2.0 MB/s");
}
