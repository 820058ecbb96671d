// Splitting FTP sources, the remote folder of a download and the "high$low" time text.
#include <gtest/gtest.h>

#include "transfer/ftp_rules.h"

using namespace velmora;

TEST(FtpSourceSplit, PrefixInAnyCaseOrMissingGivesTheSameServerAndPath) {
  for (const wchar_t* source : {L"ftp://host/dir/file.bin", L"FTP://host/dir/file.bin", L"Ftp://host/dir/file.bin",
                                L"host/dir/file.bin", L"ftp://ftp://host/dir/file.bin"}) {
    const FtpSource s = SplitFtpSource(source);
    EXPECT_TRUE(s.hasPath) << source;
    EXPECT_EQ(s.hostAndPath, L"host/dir/file.bin") << source;
    EXPECT_EQ(s.server, L"host") << source;
    EXPECT_EQ(s.remotePath, L"dir/file.bin") << source;
  }
}

TEST(FtpSourceSplit, EveryOccurrenceGoesInOnePass) {
  // Also in the middle of the path, and the removal does not create new prefixes.
  EXPECT_EQ(StripFtpPrefix(L"ftp://host/ftp://a/FTP://b"), L"host/a/b");
  EXPECT_EQ(StripFtpPrefix(L"ftftp://p://host/x"), L"ftp://host/x");
  EXPECT_EQ(StripFtpPrefix(L"ftp:/host/x"), L"ftp:/host/x");
  EXPECT_EQ(StripFtpPrefix(L""), L"");
  EXPECT_EQ(StripFtpPrefix(L"ftp://"), L"");
}

TEST(FtpSourceSplit, NoSlashAfterTheHostHasNoServer) {
  for (const wchar_t* source : {L"ftp://host", L"host", L"ftp://", L""}) {
    const FtpSource s = SplitFtpSource(source);
    EXPECT_FALSE(s.hasPath) << source;
    EXPECT_EQ(s.server, L"") << source;
    EXPECT_EQ(s.remotePath, s.hostAndPath) << source;
  }
}

TEST(FtpSourceSplit, ServerEndsAtTheFirstSlash) {
  FtpSource s = SplitFtpSource(L"ftp://host:2121/a/b/c.txt");
  EXPECT_EQ(s.server, L"host:2121");
  EXPECT_EQ(s.remotePath, L"a/b/c.txt");
  s = SplitFtpSource(L"ftp://host/");
  EXPECT_TRUE(s.hasPath);
  EXPECT_EQ(s.server, L"host");
  EXPECT_EQ(s.remotePath, L"");
  s = SplitFtpSource(L"ftp:///file");
  EXPECT_TRUE(s.hasPath);
  EXPECT_EQ(s.server, L"");
  EXPECT_EQ(s.remotePath, L"file");
}

TEST(FtpRemoteParts, FolderKeepsItsLastSlashAndTheNameIsTheRest) {
  EXPECT_EQ(RemoteDirectoryPart(L"pub/data/file.zip"), L"pub/data/");
  EXPECT_EQ(RemoteNamePart(L"pub/data/file.zip"), L"file.zip");
  EXPECT_EQ(RemoteDirectoryPart(L"a/b/c.txt"), L"a/b/");
  EXPECT_EQ(RemoteDirectoryPart(L"file.zip"), L"");
  EXPECT_EQ(RemoteNamePart(L"file.zip"), L"file.zip");
  EXPECT_EQ(RemoteDirectoryPart(L"dir/"), L"dir/");
  EXPECT_EQ(RemoteNamePart(L"dir/"), L"");
  EXPECT_EQ(RemoteDirectoryPart(L"/abs/name"), L"/abs/");
  EXPECT_EQ(RemoteNamePart(L""), L"");
}

TEST(FtpLastWriteTime, HalvesAreSignedDecimals) {
  EXPECT_EQ(LastWriteTimeText(30284117u, static_cast<uint32_t>(-1652308992)), L"30284117$-1652308992");
  EXPECT_EQ(LastWriteTimeText(0u, 0u), L"0$0");
  EXPECT_EQ(LastWriteTimeText(0x80000000u, 0xFFFFFFFFu), L"-2147483648$-1");
  EXPECT_EQ(LastWriteTimeText(0x7FFFFFFFu, 0x7FFFFFFFu), L"2147483647$2147483647");
}
