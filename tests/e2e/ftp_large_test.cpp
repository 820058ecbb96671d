// A file past the signed 32-bit limit is measured and reported with its real size.
#include "ftp_e2e_support.h"

namespace ftp_e2e {
namespace {

using FtpLarge = FtpAgent;

TEST_F(FtpLarge, TwoGibibytesAndMoreAreReportedWhole) {
  const int64_t size = (int64_t{1} << 31) + 4097;
  {
    // Sparse on the server's disk: only the size matters here.
    HANDLE h = CreateFileW(Remote("big.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER at;
    at.QuadPart = size;
    ASSERT_TRUE(SetFilePointerEx(h, at, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
  }
  ASSERT_TRUE(Send(Request(Source("big.bin"), Dest("big.bin"))));
  auto reply = requester_.WaitReply(600000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Field("SourceFileSize"), std::to_string(size));
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW((dest_ + L"\\big.bin").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ((static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, size);
  EXPECT_TRUE(Logged("Retrieved file from Server, Recieved File length - " + std::to_string(size)));
  DeleteFileW((dest_ + L"\\big.bin").c_str());
  DeleteFileW(Remote("big.bin").c_str());
}

}  // namespace
}  // namespace ftp_e2e
