// Reading requests and control messages, writing replies.
#include <gtest/gtest.h>

#include <vector>

#include "client/client_rules.h"
#include "protocol/control.h"
#include "protocol/replies.h"
#include "protocol/request.h"
#include "support/text.h"

using namespace velmora;

TEST(ParseRequest, FieldsOfAPlainHttpRequest) {
  auto r = ParseRequest(L"GET Type=HTTP Reference=R1 SourceFileName=http://h/a.txt DestinationFileName=C:\\a.txt", 77);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Type, L"HTTP");
  EXPECT_EQ(r->Reference, L"R1");
  EXPECT_EQ(r->SourceFileName, L"http://h/a.txt");
  EXPECT_EQ(r->DestinationFileName, L"C:\\a.txt");
  EXPECT_EQ(r->ParentHWnd, 77);
  EXPECT_EQ(r->StoryReference, 0);
  EXPECT_FALSE(r->PassiveMode);
}

TEST(ParseRequest, CaseQuotesNumbersAndRefusals) {
  auto r = ParseRequest(L"get type=ftp sourcefilename=ftp://h/x passivemode=2 storyreference=12abc "
                        L"DestinationFileName=\"C:\\My Files\\x\" Username=u Password=p "
                        L"LinkedSourceFileName=ftp://h/x.jpg LinkedDestinationFileName=C:\\x.jpg",
                        1);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Type, L"ftp");
  EXPECT_EQ(r->SourceFileName, L"ftp://h/x");
  EXPECT_TRUE(r->PassiveMode);
  EXPECT_EQ(r->StoryReference, 12);
  EXPECT_EQ(r->DestinationFileName, L"C:\\My Files\\x");
  EXPECT_EQ(r->Username, L"u");
  EXPECT_EQ(r->Password, L"p");
  EXPECT_EQ(r->LinkedSourceFileName, L"ftp://h/x.jpg");
  EXPECT_EQ(r->LinkedDestinationFileName, L"C:\\x.jpg");

  EXPECT_FALSE(ParseRequest(L"PUT Type=HTTP", 1));
  EXPECT_FALSE(ParseRequest(L" GET Type=HTTP", 1));  // begins with a space: empty command word
  EXPECT_FALSE(ParseRequest(L"", 1));
  EXPECT_FALSE(ParseRequest(L"GETX Type=HTTP", 1));
  EXPECT_TRUE(ParseRequest(L"GET", 1));
  EXPECT_FALSE(ParseRequest(L"GET PassiveMode=True", 1)->PassiveMode);
  // The request's own pace first, the machine's only when it names none.
  EXPECT_TRUE(ParseRequest(L"GET Pace=fast", 1)->Fast);
  EXPECT_FALSE(ParseRequest(L"GET Pace=Normal", 1, L"Fast")->Fast);
  EXPECT_TRUE(ParseRequest(L"GET Type=HTTP", 1, L"FAST")->Fast);
  EXPECT_FALSE(ParseRequest(L"GET Pace=Faster", 1)->Fast);
  EXPECT_EQ(ParseRequest(L"GET StoryReference=7", 1)->Reference, L"");
  EXPECT_EQ(ParseRequest(L"GET StoryReference=99999999999", 1)->StoryReference, INT32_MAX);

  // What a transfer's stall limit, retries and checksum are read from.
  r = ParseRequest(L"GET Type=HTTP StallSeconds=12 Retries=30 Sha256=AB", 1);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->StallSeconds, 12);
  EXPECT_EQ(r->Retries, 10);
  EXPECT_EQ(r->Sha256, L"AB");
  r = ParseRequest(L"GET Type=HTTP Retries=x", 1);
  EXPECT_EQ(r->Retries, 0);
  EXPECT_EQ(r->StallSeconds, 0);
}

TEST(ComposeReply, FieldOrderAndOptionalFields) {
  DownloadRequest r;
  r.Type = L"HTTP";
  r.Reference = L"R1";
  r.SourceFileName = L"http://h/a.txt";
  r.DestinationFileName = L"C:\\a.txt";
  r.Username = L"u";
  r.Password = L"secret";
  r.PassiveMode = true;
  EXPECT_EQ(ComposeReply(r, false),
            L"GOT Type=HTTP Reference=R1 SourceFileSize=0 SourceFileName=http://h/a.txt "
            L"DestinationFileName=C:\\a.txt SourceFileLastWriteTime=");

  r.Type = L"ftp";
  r.Reference = L"";
  r.StoryReference = -5;
  r.SourceFileSize = 3000000000LL;
  r.SourceFileLastWriteTime = L"30284117$-1652308992";
  r.DestinationFileName = L"C:\\My Files\\s.txt";
  r.LinkedSourceFileName = L"ftp://h/s.jpg";
  r.LinkedDestinationFileName = L"C:\\s.jpg";
  r.LinkedSourceFileSize = 12;
  r.LinkedSourceFileLastWriteTime = L"1$2";
  const std::wstring reply = ComposeReply(r, true);
  EXPECT_EQ(reply,
            L"GOT Type=ftp Reference= StoryReference=-5 SourceFileSize=3000000000 SourceFileName=http://h/a.txt "
            L"DestinationFileName=\"C:\\My Files\\s.txt\" SourceFileLastWriteTime=30284117$-1652308992 "
            L"LinkedSourceFileSize=12 LinkedSourceFileName=ftp://h/s.jpg LinkedDestinationFileName=C:\\s.jpg "
            L"LinkedSourceFileLastWriteTime=1$2");
  r.Unchanged = r.LinkedUnchanged = true;
  EXPECT_EQ(ComposeReply(r, true), reply + L" Unchanged=1 LinkedUnchanged=1");
  EXPECT_EQ(ComposeReply(r, false).find(L"LinkedUnchanged"), std::wstring::npos);
  r.Unchanged = r.LinkedUnchanged = false;
  for (const wchar_t* key : {L"Type", L"Reference", L"StoryReference", L"DestinationFileName", L"LinkedSourceFileName"})
    EXPECT_FALSE(GetField(reply, key, L"=", L" ").empty() && std::wstring(key) != L"Reference") << key;
  EXPECT_EQ(GetField(reply, L"DestinationFileName", L"=", L" "), L"C:\\My Files\\s.txt");
  EXPECT_EQ(reply.find(L"secret"), std::wstring::npos);
  EXPECT_EQ(reply.find(L"PassiveMode"), std::wstring::npos);
}

// A reason is masked where a password can stand, never by its text: the reason would
// otherwise tell the password by what was starred.
TEST(ComposeFailure, PasswordsMaskedByWhereTheyStandNotByTheirText) {
  DownloadRequest r;
  r.Type = L"FTP";
  r.SourceFileName = L"ftp://u:in@h/f";
  r.Password = L"in";
  const std::vector<std::pair<std::wstring, std::wstring>> cases = {
      {L"530 Login incorrect.", L"530 Login incorrect."},
      {L"cannot reach ftp://u:in@h/f", L"cannot reach ftp://u:***@h/f"},
      {L"refused Password=in Username=u", L"refused Password:*** Username:u"},  // and no field of its own
      {L"550 \"x\" missing", L"550 'x' missing"},
  };
  for (const auto& [reason, expected] : cases)
    EXPECT_EQ(GetField(ComposeFailure(r, reason), L"Reason", L"=", L" "), expected) << reason;
}

// Server text in a reason can neither add a field nor change one, as the agent's reader and
// the client library read a reply; the agent's own reasons are carried byte for byte.
TEST(ComposeFailure, AReasonAddsNoField) {
  DownloadRequest r;
  r.Type = L"FTP";
  r.Reference = L"R1";
  r.SourceFileName = L"ftp://h/f?token=T0k";
  for (const std::wstring own : {L"HTTP status 404", L"received 10 of 20 bytes", L"Create file C:\\x\\a.bin FAILED",
                                 L"a=b", L"=x y"}) {
    EXPECT_EQ(GetField(ComposeFailure(r, own), L"Reason", L"=", L" "), own);
    EXPECT_EQ(GetField(ComposeStatus(r, RequestState::Failed, -1, own), L"Reason", L"=", L" "), own);
  }
  const std::wstring hostile = L"550 x StoryReference=66 reference=evil\tType=X Reason=no";
  for (const std::wstring& reply : {ComposeFailure(r, hostile), ComposeStatus(r, RequestState::Failed, -1, hostile)}) {
    EXPECT_EQ(GetField(reply, L"Reason", L"=", L" "), L"550 x StoryReference:66 reference:evil\tType:X Reason:no");
    EXPECT_EQ(GetField(reply, L"StoryReference", L"=", L" "), L"") << reply;
    EXPECT_EQ(GetField(reply, L"Reference", L"=", L" "), L"R1") << reply;
    const auto parsed = skytrove::ParseReply(reply);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->storyReference, 0);
    EXPECT_EQ(parsed->reason, L"550 x StoryReference:66 reference:evil\tType:X Reason:no");
  }
  // A token of the source is masked in a reason and in STATUS as a password is.
  const std::wstring status = ComposeStatus(r, RequestState::Failed, -1, L"550 ftp://h/f?token=T0k");
  EXPECT_EQ(status.find(L"T0k"), std::wstring::npos) << status;
}

// The requester-control texts exactly as callers read them, quoted the way GOT is, and
// CANCEL taking only the asker's own requests.
TEST(RequesterControl, ParsingAndTheExactTexts) {
  auto get = ParseRequest(L"GET Type=HTTP Reference=R1 SourceFileName=s Priority=high Progress=1", 7);
  ASSERT_TRUE(get);
  EXPECT_EQ(get->Priority, RequestPriority::High);
  EXPECT_TRUE(get->Progress);
  get = ParseRequest(L"GET Type=HTTP Priority=Urgent Progress=yes", 7);
  EXPECT_EQ(get->Priority, RequestPriority::Normal);
  EXPECT_FALSE(get->Progress);
  EXPECT_EQ(ParseRequest(L"GET Priority=LOW", 7)->Priority, RequestPriority::Low);

  EXPECT_FALSE(ParseControl(L"GET Reference=R1"));
  const auto status = ParseControl(L"status Reference=\"my ref\" SourceFileName=ignored");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->command, L"STATUS");
  EXPECT_EQ(status->reference, L"my ref");
  EXPECT_TRUE(status->source.empty());
  const auto cancel = ParseControl(L"CANCEL Reference=R1 DestinationFileName=C:\\d\\b.bin");
  ASSERT_TRUE(cancel);
  DownloadRequest r;
  r.ParentHWnd = 7;
  r.Reference = L"R1";
  r.Type = L"HTTP";
  r.SourceFileName = L"http://h/a b.bin";
  r.DestinationFileName = L"C:\\d\\b.bin";
  EXPECT_TRUE(ControlMatches(*cancel, 7, r));
  EXPECT_FALSE(ControlMatches(*cancel, 8, r));  // another program's request
  r.DestinationFileName = L"C:\\d\\c.bin";
  EXPECT_FALSE(ControlMatches(*cancel, 7, r));
  r.DestinationFileName = L"C:\\d\\b.bin";

  EXPECT_EQ(ComposeCancelled(L"R1", 2), L"CANCELLED Reference=R1 Count=2");
  EXPECT_EQ(ComposeUnknownStatus(L"my ref"), L"STATUS Reference=\"my ref\" State=unknown");
  r.BytesDone = 2048;
  EXPECT_EQ(ComposeStatus(r, RequestState::Running, 0, L""),
            L"STATUS Type=HTTP Reference=R1 SourceFileName=\"http://h/a b.bin\" DestinationFileName=C:\\d\\b.bin "
            L"State=running Position=0 BytesDone=2048 BytesTotal=-1");
  r.BytesTotal = 4096;
  EXPECT_EQ(ComposeStatus(r, RequestState::Failed, -1, L"said \"no\""),
            L"STATUS Type=HTTP Reference=R1 SourceFileName=\"http://h/a b.bin\" DestinationFileName=C:\\d\\b.bin "
            L"State=failed Position=-1 BytesDone=2048 BytesTotal=4096 Reason=\"said 'no'\"");
  EXPECT_EQ(ComposeProgress(r), L"PROGRESS Type=HTTP Reference=R1 SourceFileName=\"http://h/a b.bin\" "
                                L"DestinationFileName=C:\\d\\b.bin BytesDone=2048 BytesTotal=4096");
  // A file kept as it was says so last, in STATUS once done as in its GOT.
  r.Unchanged = true;
  EXPECT_EQ(ComposeStatus(r, RequestState::Done, -1, L""),
            L"STATUS Type=HTTP Reference=R1 SourceFileName=\"http://h/a b.bin\" DestinationFileName=C:\\d\\b.bin "
            L"State=done Position=-1 BytesDone=2048 BytesTotal=4096 Unchanged=1");
  EXPECT_EQ(ComposeStatus(r, RequestState::Running, 0, L"").find(L"Unchanged"), std::wstring::npos);
}

// STATUS of a persisted request may reach a later run of its program: no password of the
// request shows, in whatever state.
TEST(ComposeStatus, NoPasswordOfTheRequest) {
  DownloadRequest r;
  r.Type = L"FTP";
  r.Reference = L"R1";
  r.SourceFileName = L"ftp://user:secret@h/d/story.txt";
  r.LinkedSourceFileName = L"ftp://user:secret@h/d/story.jpg";
  r.DestinationFileName = L"C:\\d\\story.txt";
  r.Username = L"user";
  r.Password = L"secret";
  for (const RequestState state : {RequestState::Queued, RequestState::Running, RequestState::Failed}) {
    const std::wstring reply = ComposeStatus(r, state, 0, L"cannot reach ftp://user:secret@h/d/story.txt");
    EXPECT_EQ(reply.find(L"secret"), std::wstring::npos) << reply;
    EXPECT_EQ(GetField(reply, L"SourceFileName", L"=", L" "), L"ftp://user:***@h/d/story.txt");
  }
}
