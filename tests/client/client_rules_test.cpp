// The requesting side and the agent must agree on one grammar: what the library writes
// the agent reads back, and what the agent answers the library reads back.
#include <gtest/gtest.h>

#include "client/client_rules.h"
#include "protocol/replies.h"
#include "protocol/request.h"

using skytrove::ComposeRequest;
using skytrove::Field;
using skytrove::ParseReply;
using skytrove::ReplyKind;

TEST(ClientRequest, WhatTheLibraryWritesTheAgentReadsBack) {
  const std::vector<Field> fields = {{L"Type", L"FTP"},
                                     {L"Reference", L"R\"1\""},  // quotes without a space are carried
                                     {L"StoryReference", L"42"},
                                     {L"SourceFileName", L"ftp://h/story one.txt"},
                                     {L"DestinationFileName", L"C:\\My Files\\story one.txt"},
                                     {L"LinkedSourceFileName", L"ftp://h/a.jpg"},
                                     {L"Username", L"me"},
                                     {L"Password", L"p=w"},
                                     {L"PassiveMode", L"1"}};
  std::wstring problem;
  const std::wstring text = ComposeRequest(fields, true, problem);
  ASSERT_EQ(problem, L"");
  auto r = velmora::ParseRequest(text, 9);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Type, L"FTP");
  EXPECT_EQ(r->Reference, L"R\"1\"");
  EXPECT_EQ(r->StoryReference, 42);
  EXPECT_EQ(r->SourceFileName, L"ftp://h/story one.txt");
  EXPECT_EQ(r->DestinationFileName, L"C:\\My Files\\story one.txt");
  EXPECT_EQ(r->LinkedSourceFileName, L"ftp://h/a.jpg");
  EXPECT_EQ(r->Password, L"p=w");
  EXPECT_TRUE(r->PassiveMode);
  EXPECT_TRUE(r->ReplyOnFailure);

  // Without the flag the request is today's request; only "1" asks for failure replies.
  EXPECT_FALSE(velmora::ParseRequest(ComposeRequest(fields, false, problem), 9)->ReplyOnFailure);
  EXPECT_EQ(ComposeRequest(fields, false, problem).find(L"ReplyOnFailure"), std::wstring::npos);
  EXPECT_FALSE(velmora::ParseRequest(L"GET Type=HTTP ReplyOnFailure=yes", 9)->ReplyOnFailure);
  EXPECT_FALSE(velmora::ParseRequest(L"GET Type=HTTP ReplyOnFailure=10", 9)->ReplyOnFailure);
  EXPECT_TRUE(velmora::ParseRequest(L"GET Type=HTTP replyonfailure=1", 9)->ReplyOnFailure);
}

TEST(ClientRequest, ValuesTheGrammarCannotCarryAreRefusedNotMangled) {
  struct Case {
    std::vector<Field> fields;
    std::wstring problem;
  };
  const Case cases[] = {
      {{{L"Type", L"HTTP"}, {L"DestinationFileName", L"C:\\a \"b\".txt"}},
       L"the value of DestinationFileName cannot be carried"},
      {{{L"Type", L"HTTP"}, {L"Reference", L"\"quoted"}}, L"the value of Reference cannot be carried"},
      // A value holding " Key=" of a field the agent knows, given or not, would be read
      // as that field: the field that carries it is named.
      {{{L"Reference", L"x SourceFileName=http://evil/"}, {L"SourceFileName", L"http://h/a"}},
       L"the value of Reference would be read as SourceFileName"},
      {{{L"Type", L"FTP"}, {L"DestinationFileName", L"C:\\My LinkedSourceFileName=ftp:\\h\\b PassiveMode=1\\a.txt"}},
       L"the value of DestinationFileName would be read as LinkedSourceFileName"},
      {{{L"Type", L"HTTP"}, {L"Reference", L"R1 password=x"}}, L"the value of Reference would be read as Password"},
      {{{L"SourceFileName", L"http://h/a Username=eve"}}, L"the value of SourceFileName would be read as Username"},
      {{{L"Reference", L"R1 ReplyOnFailure=1"}}, L"the value of Reference would be read as ReplyOnFailure"},
      {{{L"Reference", L"R1 Retries=9"}}, L"the value of Reference would be read as Retries"},
      {{{L"Reference", L"R1 IfChanged=1"}}, L"the value of Reference would be read as IfChanged"},
      {{{L"Type", L"HTTP"}, {L"type", L"FTP"}}, L"the key type is given twice"},
      {{{L"My Key", L"x"}}, L"the key \"My Key\" cannot be written"},
      {{{L"", L"x"}}, L"the key \"\" cannot be written"},
      {{}, L"no fields"},
  };
  for (const auto& c : cases) {
    std::wstring problem;
    EXPECT_EQ(ComposeRequest(c.fields, false, problem), L"");
    EXPECT_EQ(problem, c.problem);
  }
}

TEST(ClientReply, WhatTheAgentWritesTheLibraryReadsBack) {
  velmora::DownloadRequest r;
  r.Type = L"ftp";
  r.Reference = L"R 7";
  r.StoryReference = -3;
  r.SourceFileSize = 5000000000LL;
  r.SourceFileName = L"ftp://h/a.txt";
  r.DestinationFileName = L"C:\\My Files\\a.txt";
  r.SourceFileLastWriteTime = L"30000000$-5";
  r.LinkedSourceFileSize = 12;
  r.LinkedSourceFileName = L"ftp://h/a.jpg";
  r.LinkedDestinationFileName = L"C:\\a.jpg";
  r.LinkedSourceFileLastWriteTime = L"1$2";
  auto got = ParseReply(velmora::ComposeReply(r, true));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->kind, ReplyKind::Got);
  EXPECT_EQ(got->type, L"ftp");
  EXPECT_EQ(got->reference, L"R 7");
  EXPECT_EQ(got->storyReference, -3);
  EXPECT_EQ(got->sourceFileSize, 5000000000LL);
  EXPECT_EQ(got->destinationFileName, L"C:\\My Files\\a.txt");
  EXPECT_EQ(got->sourceFileLastWriteTime, L"30000000$-5");
  EXPECT_TRUE(got->linked);
  EXPECT_EQ(got->linkedSourceFileSize, 12);
  EXPECT_EQ(got->linkedSourceFileName, L"ftp://h/a.jpg");
  EXPECT_EQ(got->linkedDestinationFileName, L"C:\\a.jpg");
  EXPECT_EQ(got->linkedSourceFileLastWriteTime, L"1$2");
  EXPECT_FALSE(ParseReply(velmora::ComposeReply(r, false))->linked);

  // A reason may hold quotes and a URL's password; neither reaches the reply.
  r.Password = L"s3cret";
  auto failed = ParseReply(velmora::ComposeFailure(r, L"530 \"user\" refused for ftp://u:s3cret@h/a.txt"));
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->kind, ReplyKind::Failed);
  EXPECT_EQ(failed->reason, L"530 'user' refused for ftp://u:***@h/a.txt");
  EXPECT_EQ(failed->sourceFileName, L"ftp://h/a.txt");
  EXPECT_EQ(failed->storyReference, -3);
  EXPECT_TRUE(skytrove::Answers(*failed, L"R 7", L"ftp://h/a.txt", L"C:\\My Files\\a.txt"));
  EXPECT_FALSE(skytrove::Answers(*failed, L"R 8", L"ftp://h/a.txt", L"C:\\My Files\\a.txt"));

  EXPECT_FALSE(ParseReply(L"GET Type=HTTP"));
  EXPECT_FALSE(ParseReply(L" GOT Type=HTTP"));
  EXPECT_TRUE(ParseReply(L"got"));
}

// The agent appends Unchanged=1 and LinkedUnchanged=1 last; the same text earlier, in a
// value the requester chose, must not make a transferred file read as kept.
TEST(ClientReply, UnchangedIsReadFromTheReplysLastFieldsOnly) {
  const std::wstring got = L"GOT Type=FTP Reference=R1 SourceFileSize=3 SourceFileName=ftp://h/a "
                           L"DestinationFileName=C:\\a SourceFileLastWriteTime=1$2 LinkedSourceFileSize=4 "
                           L"LinkedSourceFileName=ftp://h/b LinkedDestinationFileName=C:\\b "
                           L"LinkedSourceFileLastWriteTime=3$4";
  const auto both = ParseReply(got + L" Unchanged=1 LinkedUnchanged=1");
  ASSERT_TRUE(both);
  EXPECT_TRUE(both->unchanged && both->linkedUnchanged);
  const auto linkedOnly = ParseReply(got + L" LinkedUnchanged=1");
  EXPECT_TRUE(!linkedOnly->unchanged && linkedOnly->linkedUnchanged);
  const auto fetched = ParseReply(got);
  EXPECT_TRUE(!fetched->unchanged && !fetched->linkedUnchanged);
  const auto smuggled = ParseReply(L"GOT Type=HTTP Reference=R1 SourceFileSize=3 "
                                   L"SourceFileName=\"http://h/a Unchanged=1 b\" "
                                   L"DestinationFileName=\"C:\\x LinkedUnchanged=1 y\" SourceFileLastWriteTime=");
  EXPECT_EQ(smuggled->sourceFileName, L"http://h/a Unchanged=1 b");
  EXPECT_TRUE(!smuggled->unchanged && !smuggled->linkedUnchanged);
  const auto status = ParseReply(L"STATUS Type=HTTP Reference=R1 SourceFileName=http://h/a DestinationFileName=C:\\a "
                                 L"State=done Position=-1 BytesDone=0 BytesTotal=-1 Unchanged=1");
  EXPECT_TRUE(status->unchanged);
}

TEST(ClientReply, FailedLayoutMatchesTheGotFieldRules) {
  velmora::DownloadRequest r;
  r.Type = L"HTTP";
  r.Reference = L"R1";
  r.SourceFileName = L"http://host/a.bin";
  r.DestinationFileName = L"C:\\My Files\\a.bin";
  r.Username = L"u";
  EXPECT_EQ(velmora::ComposeFailure(r, L"HTTP status 404"),
            L"FAILED Type=HTTP Reference=R1 SourceFileName=http://host/a.bin "
            L"DestinationFileName=\"C:\\My Files\\a.bin\" Reason=\"HTTP status 404\"");
  r.StoryReference = 5;
  EXPECT_EQ(velmora::ComposeFailure(r, L"no type"),
            L"FAILED Type=HTTP Reference=R1 StoryReference=5 SourceFileName=http://host/a.bin "
            L"DestinationFileName=\"C:\\My Files\\a.bin\" Reason=\"no type\"");
}

// The requester-control messages read back as the agent writes them, and none of them is
// taken for the answer to a request: a PROGRESS of the same three fields must not end a
// SkytroveRequest.
TEST(ClientReply, ControlMessagesReadBackAndNeverAnswerARequest) {
  const auto status = ParseReply(L"STATUS Type=HTTP Reference=R1 SourceFileName=\"http://h/a b\" "
                                 L"DestinationFileName=C:\\a State=failed Position=-1 BytesDone=3000000000 "
                                 L"BytesTotal=-1 Reason=\"HTTP status 404\"");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->kind, ReplyKind::Status);
  EXPECT_EQ(status->sourceFileName, L"http://h/a b");
  EXPECT_EQ(status->state, L"failed");
  EXPECT_EQ(status->position, -1);
  EXPECT_EQ(status->bytesDone, 3000000000LL);
  EXPECT_EQ(status->bytesTotal, -1);
  EXPECT_EQ(status->reason, L"HTTP status 404");
  using skytrove::Answers;
  using skytrove::ComposeControl;
  EXPECT_FALSE(Answers(*status, L"R1", L"http://h/a b", L"C:\\a"));
  const auto progress = ParseReply(L"PROGRESS Type=HTTP Reference=R1 SourceFileName=\"http://h/a b\" "
                                   L"DestinationFileName=C:\\a BytesDone=10 BytesTotal=20");
  ASSERT_TRUE(progress);
  EXPECT_EQ(progress->kind, ReplyKind::Progress);
  EXPECT_EQ(progress->bytesTotal, 20);
  EXPECT_FALSE(Answers(*progress, L"R1", L"http://h/a b", L"C:\\a"));
  const auto cancelled = ParseReply(L"CANCELLED Reference=R1 Count=2");
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(cancelled->count, 2);
  std::wstring problem;
  EXPECT_EQ(ComposeControl(L"CANCEL", L"my ref", problem), L"CANCEL Reference=\"my ref\"");
  EXPECT_EQ(ComposeControl(L"STATUS", L"a\" b", problem), L"");
  EXPECT_FALSE(problem.empty());
}
