// The rules that decide how a transfer meets a failing network.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>

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
