// The FTP road as a requesting program sees it: the main and the linked file fetched,
// measured and timed, one "GOT" reply with the fields of each; FTP deletes; the types
// that run nothing.
#include "ftp_e2e_support.h"

namespace ftp_e2e {
namespace {

using FtpRoad = FtpAgent;

TEST_F(FtpRoad, MainAndLinkedFileInPassiveAndActiveMode) {
  const std::string story = Generated(123457);
  const std::string picture = Generated(70001, 7);
  ASSERT_TRUE(PutRemote("story.txt", story));
  ASSERT_TRUE(PutRemote("story.jpg", picture));
  const std::string time = TimeText(KnownRemoteTime());
  for (const char* mode : {"1", "0"}) {
    const std::string main = Dest(std::string("story-") + mode + ".txt");
    const std::string linked = Dest(std::string("story-") + mode + ".jpg");
    ASSERT_TRUE(WriteFileBytes(std::wstring(main.begin(), main.end()), "an older story"));
    ASSERT_TRUE(Send("GET Type=FTP Reference=R2 SourceFileName=" + Source("story.txt") + " DestinationFileName=" +
                     main + " LinkedSourceFileName=" + Source("story.jpg") + " LinkedDestinationFileName=" + linked +
                     " Username=velmora Password=secret PassiveMode=" + mode));
    auto reply = requester_.WaitReply(20000);
    ASSERT_TRUE(reply) << mode;
    EXPECT_EQ(reply->bytes, "GOT Type=FTP Reference=R2 SourceFileSize=123457 SourceFileName=" + Source("story.txt") +
                                " DestinationFileName=" + main + " SourceFileLastWriteTime=" + time +
                                " LinkedSourceFileSize=70001 LinkedSourceFileName=" + Source("story.jpg") +
                                " LinkedDestinationFileName=" + linked + " LinkedSourceFileLastWriteTime=" + time);
    EXPECT_EQ(ReadFileBytes(std::wstring(main.begin(), main.end())), story);
    EXPECT_EQ(ReadFileBytes(std::wstring(linked.begin(), linked.end())), picture);
  }
  EXPECT_TRUE(Leftovers({L"story-1.txt", L"story-1.jpg", L"story-0.txt", L"story-0.jpg"}).empty());
  EXPECT_FALSE(requester_.WaitReply(1500));  // one reply per request, the linked file's included

  // The steps of one download, in order, at their levels' places.
  const auto t = Texts();
  const std::string hostAndPath = Source("story.txt").substr(6);
  const std::string remotePath = hostAndPath.substr(hostAndPath.find('/') + 1);
  const std::vector<std::string> steps = {
      "Started DownloadFTPFile " + Source("story.txt"),
      "Setting up FTP download from - " + hostAndPath,
      "'GET'ting file from server - " + hostAndPath,
      "Start cFTP:Connect " + host_,
      "Finish cFTP:Connect",
      "Start cFTP:DownloadFile",
      "SetRemoteDirectory to '/'",
      "SetRemoteDirectory to '" + remotePath.substr(0, remotePath.rfind('/') + 1) + "'",
      "FTPGetFile Result: True",
      "Finish cFTP:DownloadFile",
      "Start cFTP:Connect " + host_,  // the second login, for the time
      "Finish cFTP:Connect",
      "Start cFTP:Disconnect",
      "Finish cFTP:Disconnect",
      "Start cFTP:Disconnect",
      "Finish cFTP:Disconnect",
      "Retrieved file from Server",
      "Retrieved file from Server, Recieved File length - 123457",
      "Finished DownloadFTPFile",
      "Downloading Linked FTP File " + Source("story.jpg"),
      "Started DownloadFTPFile " + Source("story.jpg")};
  auto at = std::search(t.begin(), t.end(), steps.begin(), steps.end());
  EXPECT_NE(at, t.end());
  ExpectNoPasswordLogged();
}

TEST_F(FtpRoad, LowerCaseAnonymousRequestWithoutLinkedFile) {
  ASSERT_TRUE(PutRemote("plain.txt", "plain text"));
  std::string source = Source("plain.txt");
  source.replace(0, 6, "FTP://");
  ASSERT_TRUE(Send("get type=ftp reference=low sourcefilename=" + source + " destinationfilename=" + Dest("p.txt") +
                   " storyreference=9"));
  auto reply = requester_.WaitReply(20000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, "GOT Type=ftp Reference=low StoryReference=9 SourceFileSize=10 SourceFileName=" + source +
                              " DestinationFileName=" + Dest("p.txt") +
                              " SourceFileLastWriteTime=" + TimeText(KnownRemoteTime()));
  EXPECT_EQ(ReadFileBytes(dest_ + L"\\p.txt"), "plain text");
}

TEST_F(FtpRoad, FailedLinkedFileLeavesTheMainReplyWithoutLinkedFields) {
  ASSERT_TRUE(PutRemote("main.txt", "main"));
  ASSERT_TRUE(WriteFileBytes(dest_ + L"\\linked.jpg", "the linked file as it was"));
  ASSERT_TRUE(Send(Request(Source("main.txt"), Dest("main.txt"), " LinkedSourceFileName=" + Source("gone.jpg") +
                                                                   " LinkedDestinationFileName=" + Dest("linked.jpg"))));
  auto reply = requester_.WaitReply(20000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, "GOT Type=FTP Reference=R2 SourceFileSize=4 SourceFileName=" + Source("main.txt") +
                              " DestinationFileName=" + Dest("main.txt") +
                              " SourceFileLastWriteTime=" + TimeText(KnownRemoteTime()));
  EXPECT_EQ(ReadFileBytes(dest_ + L"\\linked.jpg"), "the linked file as it was");
  EXPECT_TRUE(Leftovers({L"main.txt", L"linked.jpg"}).empty());
  const std::string exit = WaitLogged("Exiting DownloadFTPFile as couldn't retrieve file - ");
  EXPECT_NE(exit.find("550"), std::string::npos) << exit;  // the server's own answer
}

TEST_F(FtpRoad, MainFileFailingSkipsTheLinkedFile) {
  ASSERT_TRUE(PutRemote("pic.jpg", "picture"));
  ASSERT_TRUE(Send(Request(Source("absent.txt"), Dest("a.txt"), " LinkedSourceFileName=" + Source("pic.jpg") +
                                                                   " LinkedDestinationFileName=" + Dest("pic.jpg"))));
  ASSERT_TRUE(WaitTickDone());
  EXPECT_FALSE(requester_.WaitReply(1000));  // a failed main file is not answered
  EXPECT_FALSE(Logged("Downloading Linked FTP File " + Source("pic.jpg")));
  EXPECT_TRUE(Leftovers({}).empty());
}

TEST_F(FtpRoad, DirectoryRequestRunsNothingAndTheQueueGoesOn) {
  ASSERT_TRUE(PutRemote("after.txt", "after"));
  ASSERT_TRUE(Send("GET Type=FTPDIR Reference=D SourceFileName=" + Source("") + " DestinationFileName=" + Dest("d")));
  ASSERT_TRUE(Send(Request(Source("after.txt"), Dest("after.txt"))));
  auto reply = requester_.WaitReply(20000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Field("Reference"), "R2");
  EXPECT_FALSE(requester_.WaitReply(1500));  // nor is the directory request, before or after
  EXPECT_FALSE(Logged("Started DownloadFTPFile " + Source("")));
  EXPECT_TRUE(Logged("Removing file " + Source("") + " from download request list"));
  EXPECT_TRUE(Leftovers({L"after.txt"}).empty());
}

TEST_F(FtpRoad, DeleteAnswersOnlyForAFileReallyDeleted) {
  ASSERT_TRUE(PutRemote("old.txt", "old"));
  // The registry's passive setting is read and left unused: the request decides.
  SetMachineNumber(L"SOFTWARE\\Velmora\\Utils\\Skytrove4", L"FTPPassiveMode", 0);
  const std::string source = Source("old.txt");
  ASSERT_TRUE(Send("GET Type=FTPDELETE SourceFileName=" + source + " Username=velmora Password=secret PassiveMode=1"));
  auto reply = requester_.WaitReply(20000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, "GOT Type=FTPDELETE Reference= SourceFileSize=0 SourceFileName=" + source +
                              " DestinationFileName= SourceFileLastWriteTime=");
  EXPECT_FALSE(FileExists(Remote("old.txt")));
  DeleteMachineValue(L"SOFTWARE\\Velmora\\Utils\\Skytrove4", L"FTPPassiveMode");

  // Gone already: no answer, and the server's reason in the exit line.
  ASSERT_TRUE(Send("GET Type=ftpdelete Reference=again SourceFileName=" + source +
                   " Username=velmora Password=secret"));
  const std::string exit = WaitLogged("Exiting DeleteFTPFile as couldn't delete file - ");
  EXPECT_NE(exit.find("550"), std::string::npos) << exit;
  EXPECT_FALSE(requester_.WaitReply(1500));  // the failed delete is not answered

  // A wrong password deletes nothing and answers nothing.
  ASSERT_TRUE(PutRemote("kept.txt", "kept"));
  ASSERT_TRUE(Send("GET Type=FTPDELETE SourceFileName=" + Source("kept.txt") + " Username=velmora Password=wrong"));
  EXPECT_TRUE(WaitCount("Exiting DeleteFTPFile as couldn't delete file - ", 2));
  EXPECT_FALSE(requester_.WaitReply(1000));  // the refused login is not answered
  EXPECT_EQ(ReadFileBytes(Remote("kept.txt")), "kept");
  EXPECT_TRUE(Logged("Deleted file from Server"));
  EXPECT_TRUE(Logged("Finished DeleteFTPFile"));
  ExpectNoPasswordLogged();
}

}  // namespace
}  // namespace ftp_e2e
