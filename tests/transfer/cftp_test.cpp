// cFTP against a real FTP server (pyftpdlib): every operation, its guard, its LastError
// and the log lines it writes, including the failures a server really gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>

#include "support/components.h"
#include "transfer/cftp.h"
#include "win_test_support.h"

using namespace testing_support;
using velmora::cFTP;

namespace {

const uint32_t kBinary = FTP_TRANSFER_TYPE_BINARY;

class CftpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = Env("VELMORA_FTP_HOST");
    root_ = PeerData(L"ftp");
    remote_ = FreshFolder(L"..\\ftp\\cftp");  // the server's cftp/ folder, emptied
    local_ = FreshFolder(L"cftp-local");
    logs_ = FreshFolder(L"cftp-logs");
    velmora::AppInfo app;
    app.exeBaseName = L"cftp_test";
    velmora::StringUtility::Instance().HandOver(app);
    auto& settings = velmora::StringUtility::Instance().Settings();
    settings.debugLevel = -1;
    settings.debugFolder = logs_ + L"\\";
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const auto& l : ReadLogLines(logs_)) out.push_back(LogText(l));
    return out;
  }
  bool Connect(cFTP& ftp, bool passive = true) { return ftp.Connect(host_, 21, L"velmora", L"secret", passive); }
  std::wstring host_, root_, remote_, local_, logs_;
};

TEST_F(CftpTest, ConnectFailuresSayWhichStepAndCloseEverything) {
  cFTP ftp;
  EXPECT_FALSE(ftp.Connect(L"", 21, L"velmora", L"secret", true));
  EXPECT_EQ(ftp.LastError(), 0);
  // Nothing was opened, so every guarded operation refuses at once.
  EXPECT_FALSE(ftp.DownloadFile(L"x", local_ + L"\\x", false, 0, kBinary, 0));
  EXPECT_FALSE(ftp.SetRemoteDirectory(L"/"));
  EXPECT_FALSE(ftp.List(L"*"));
  int64_t size = -1;
  EXPECT_FALSE(ftp.GetRemoteFileSize(L"x", size, kBinary, 0));
  EXPECT_FALSE(ftp.UploadFile(local_ + L"\\x", L"x", kBinary, 0));
  // Unguarded ones fail inside WinINet on the empty handle and say so.
  EXPECT_FALSE(ftp.CreateDirectory(L"d"));
  EXPECT_NE(ftp.LastError(), 0);

  const std::wstring closed = Env("VELMORA_FTP_CLOSED_HOST");
  EXPECT_FALSE(ftp.Connect(closed, 21, L"velmora", L"secret", true));
  EXPECT_NE(ftp.LastError(), 0);
  EXPECT_TRUE(Connect(ftp));  // a good connect after a failed one works
  EXPECT_EQ(ftp.LastError(), 0);
  ftp.Disconnect();
  ftp.Disconnect();

  EXPECT_FALSE(ftp.Connect(host_, 21, L"velmora", L"wrong-pass-7Q", true));
  EXPECT_NE(ftp.LastError(), 0);

  const auto t = Texts();
  EXPECT_TRUE(LogContains(ReadLogLines(logs_), "Exit cFTP:Connect - No Server Address"));
  EXPECT_TRUE(LogContains(ReadLogLines(logs_), "Exit cFTP:Connect - No Session Handle"));
  EXPECT_TRUE(LogContains(ReadLogLines(logs_), "Exit cFTP:DownloadFile - No Session Handle"));
  EXPECT_TRUE(LogContains(ReadLogLines(logs_), "Finish cFTP:Connect"));
  for (const auto& line : t) {
    EXPECT_EQ(line.find("secret"), std::string::npos) << line;
    EXPECT_EQ(line.find("wrong-pass-7Q"), std::string::npos) << line;
  }
}

TEST_F(CftpTest, DownloadChangesToTheRootThenToTheFolderInOneStep) {
  ASSERT_TRUE(WriteFileBytes(root_ + L"\\top-cftp.txt", "at the root"));
  CreateDirectoryW((remote_ + L"\\a").c_str(), nullptr);
  CreateDirectoryW((remote_ + L"\\a\\b").c_str(), nullptr);
  ASSERT_TRUE(WriteFileBytes(remote_ + L"\\a\\b\\c.txt", Generated(100000)));
  for (bool passive : {true, false}) {
    cFTP ftp;
    ASSERT_TRUE(Connect(ftp, passive));
    ASSERT_TRUE(ftp.SetRemoteDirectory(L"cftp"));  // the download must not depend on where we stand
    EXPECT_TRUE(ftp.DownloadFile(L"top-cftp.txt", local_ + L"\\top.txt", false, 0, kBinary, INTERNET_FLAG_NEED_FILE));
    EXPECT_EQ(ReadFileBytes(local_ + L"\\top.txt"), "at the root");
    EXPECT_TRUE(ftp.DownloadFile(L"cftp/a/b/c.txt", local_ + L"\\c.txt", false, 0, kBinary, INTERNET_FLAG_NEED_FILE));
    EXPECT_EQ(ftp.LastError(), 0);
    EXPECT_EQ(ReadFileBytes(local_ + L"\\c.txt"), Generated(100000)) << passive;
  }
  DeleteFileW((root_ + L"\\top-cftp.txt").c_str());
  const auto t = Texts();
  std::vector<std::string> expected = {"Start cFTP:DownloadFile", "SetRemoteDirectory to '/'",
                                       "SetRemoteDirectory to 'cftp/a/b/'", "FTPGetFile Result: True",
                                       "Finish cFTP:DownloadFile"};
  auto at = std::search(t.begin(), t.end(), expected.begin(), expected.end());
  EXPECT_NE(at, t.end());
}

TEST_F(CftpTest, DownloadFailuresKeepTheServersAnswer) {
  ASSERT_TRUE(WriteFileBytes(remote_ + L"\\here.txt", "x"));
  cFTP ftp;
  ASSERT_TRUE(Connect(ftp));
  EXPECT_FALSE(ftp.DownloadFile(L"cftp/nowhere/here.txt", local_ + L"\\n.txt", false, 0, kBinary, 0));
  EXPECT_EQ(ftp.LastError(), ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_EQ(ftp.LastResponse().substr(0, 3), L"550");
  EXPECT_FALSE(ftp.DownloadFile(L"cftp/missing.txt", local_ + L"\\m.txt", false, 0, kBinary, 0));
  EXPECT_NE(ftp.LastError(), 0);
  EXPECT_EQ(ftp.LastResponse().substr(0, 3), L"550");
  EXPECT_FALSE(FileExists(local_ + L"\\m.txt"));
  // A success clears both.
  EXPECT_TRUE(ftp.DownloadFile(L"cftp/here.txt", local_ + L"\\h.txt", false, 0, kBinary, 0));
  EXPECT_EQ(ftp.LastError(), 0);
  EXPECT_TRUE(ftp.LastResponse().empty());
  EXPECT_TRUE(LogContains(ReadLogLines(logs_), "Exit cFTP:DownloadFile - Failed to Set Remote Directory"));
  EXPECT_TRUE(LogContains(ReadLogLines(logs_), "FTPGetFile Result: False"));
}

TEST_F(CftpTest, ListingLivesUntilTheNextSuccessfulList) {
  cFTP ftp;
  EXPECT_EQ(ftp.ListCount(), 0);
  try {
    ftp.ListItem(0);
    ADD_FAILURE() << "no exception";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "Subscript out of range");
  }
  ASSERT_TRUE(WriteFileBytes(remote_ + L"\\one.txt", "1"));
  ASSERT_TRUE(WriteFileBytes(remote_ + L"\\two.txt", "22"));
  ASSERT_TRUE(WriteFileBytes(remote_ + L"\\three.dat", "333"));
  ASSERT_TRUE(Connect(ftp));
  EXPECT_FALSE(ftp.List(L"cftp/nothing-like-this.txt"));
  EXPECT_THROW(ftp.ListItem(0), std::out_of_range);  // a failed first List makes no listing

  ASSERT_TRUE(ftp.List(L"cftp/*.txt"));
  EXPECT_EQ(ftp.ListCount(), 2);
  EXPECT_EQ(ftp.LastError(), ERROR_NO_MORE_FILES);
  std::set<std::string> names = {ftp.ListItem(0).cFileName, ftp.ListItem(1).cFileName};
  EXPECT_EQ(names, (std::set<std::string>{"one.txt", "two.txt"}));
  EXPECT_NE(ftp.ListItem(0).ftLastWriteTime.dwHighDateTime, 0u);
  EXPECT_EQ(ftp.ListItem(2).cFileName[0], 0);
  EXPECT_EQ(ftp.ListItem(-1).nFileSizeLow, 0u);

  EXPECT_FALSE(ftp.List(L"cftp/nothing-like-this.txt"));
  EXPECT_EQ(ftp.ListCount(), 2);
  ASSERT_TRUE(ftp.List(L"cftp/three.dat"));
  EXPECT_EQ(ftp.ListCount(), 1);
  EXPECT_EQ(ftp.ListItem(0).nFileSizeLow, 3u);
}

TEST_F(CftpTest, FolderUploadSizeAndDeleteOperations) {
  cFTP ftp;
  ASSERT_TRUE(Connect(ftp));
  ASSERT_TRUE(ftp.SetRemoteDirectory(L"/cftp"));
  EXPECT_TRUE(ftp.CreateDirectory(L"made"));
  const DWORD made = GetFileAttributesW((remote_ + L"\\made").c_str());
  EXPECT_NE(made, INVALID_FILE_ATTRIBUTES);  // which has the directory bit too
  EXPECT_TRUE(made & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(ftp.CreateDirectory(L"made"));  // exists already
  EXPECT_NE(ftp.LastError(), 0);

  std::wstring where;
  int32_t length = 260;
  EXPECT_TRUE(ftp.GetRemoteDirectory(where, length));
  EXPECT_EQ(where, L"/cftp");
  EXPECT_GE(length, 5);  // Wine counts the terminator too

  ASSERT_TRUE(WriteFileBytes(local_ + L"\\up.bin", Generated(70000)));
  EXPECT_TRUE(ftp.UploadFile(local_ + L"\\up.bin", L"made/up.bin", kBinary, 0));
  EXPECT_EQ(ReadFileBytes(remote_ + L"\\made\\up.bin"), Generated(70000));
  EXPECT_FALSE(ftp.UploadFile(local_ + L"\\no-such.bin", L"made/x.bin", kBinary, 0));
  EXPECT_NE(ftp.LastError(), 0);

  int64_t size = -1;
  EXPECT_TRUE(ftp.GetRemoteFileSize(L"made/up.bin", size, kBinary, 0));
  EXPECT_GE(size, 0);  // Wine's FtpGetFileSize is a stub that answers 0
  EXPECT_FALSE(ftp.GetRemoteFileSize(L"made/none.bin", size, kBinary, 0));
  EXPECT_NE(ftp.LastError(), 0);

  // With a Path the delete goes from the root; without one, from where we stand.
  EXPECT_TRUE(ftp.DeleteFile(L"up.bin", L"/cftp/made"));
  EXPECT_FALSE(FileExists(remote_ + L"\\made\\up.bin"));
  EXPECT_FALSE(ftp.DeleteFile(L"up.bin", L"/cftp/made"));
  EXPECT_EQ(ftp.LastResponse().substr(0, 3), L"550");
  EXPECT_FALSE(ftp.DeleteFile(L"x", L"/cftp/no-such-folder"));
  ASSERT_TRUE(WriteFileBytes(remote_ + L"\\made\\rel.txt", "r"));
  ASSERT_TRUE(ftp.SetRemoteDirectory(L"/cftp/made"));
  EXPECT_TRUE(ftp.DeleteFile(L"rel.txt"));
  EXPECT_FALSE(FileExists(remote_ + L"\\made\\rel.txt"));

  EXPECT_TRUE(ftp.DeleteDirectory(L"cftp/made"));
  EXPECT_FALSE(FileExists(remote_ + L"\\made"));
  EXPECT_FALSE(ftp.DeleteDirectory(L"cftp/made"));
  EXPECT_NE(ftp.LastError(), 0);
}

TEST_F(CftpTest, AnonymousLoginAndReconnectLeavesNoLoginBehind) {
  ASSERT_TRUE(WriteFileBytes(remote_ + L"\\anon.txt", "anonymous"));
  cFTP ftp;
  ASSERT_TRUE(ftp.Connect(host_, 21, L"", L"", true));
  EXPECT_TRUE(ftp.DownloadFile(L"cftp/anon.txt", local_ + L"\\anon.txt", false, 0, kBinary, 0));
  EXPECT_EQ(ReadFileBytes(local_ + L"\\anon.txt"), "anonymous");

  // The one-login server accepts a second Connect of the same object only if the first
  // login was closed.
  const std::wstring single = Env("VELMORA_FTP_SINGLE_HOST");
  cFTP one;
  ASSERT_TRUE(one.Connect(single, 21, L"velmora", L"secret", true));
  ASSERT_TRUE(one.Connect(single, 21, L"velmora", L"secret", true));
  EXPECT_TRUE(one.DownloadFile(L"cftp/anon.txt", local_ + L"\\again.txt", false, 0, kBinary, 0));
  cFTP other;
  EXPECT_FALSE(other.Connect(single, 21, L"velmora", L"secret", true));
  one.Disconnect();
  EXPECT_TRUE(other.Connect(single, 21, L"velmora", L"secret", true));
}

}  // namespace
