// Interrupted downloads continue where they stopped, but only when the server proves the
// same content: against a web peer that cuts bodies and honours, ignores or outdates
// ranges, and against vsftpd after the agent was killed mid-file.
#include <fstream>
#include <sstream>

#include "ftp_e2e_support.h"
#include "transfer/resume_rules.h"
#include "transfer/sha256.h"

namespace ftp_e2e {
namespace {

const char kWrongSha[] = "0000000000000000000000000000000000000000000000000000000000000000";
constexpr size_t kSize = 200000;
constexpr size_t kCut = 60000;

class Resume : public FtpAgent {
 protected:
  std::string Http(const std::string& url, const std::string& dest, const std::string& extra = "") {
    return "GET Type=HTTP Reference=R1 SourceFileName=" + url + " DestinationFileName=" + dest +
           " ReplyOnFailure=1" + extra;
  }
  std::string Ranged(const std::string& key, const std::string& extra = "") {
    return Url("ranged/" + std::to_string(kSize) + "?key=" + key + "&cut=" + std::to_string(kCut) + extra);
  }
  bool Got(const std::string& request, DWORD ms = 30000) {
    if (!Send(request)) return false;
    auto reply = requester_.WaitReply(ms);
    return reply && reply->bytes.rfind("GOT ", 0) == 0;
  }
};

TEST_F(Resume, HttpContinuesOnlyWhatTheServerProvesTheSame) {
  // ETag and ranges honoured: the retry asks for the rest and the file is whole.
  const std::string a = Key("etag");
  ASSERT_TRUE(Got(Http(Ranged(a), Dest("a.bin"), " Retries=1")));
  EXPECT_EQ(ReadFileBytes(D("a.bin")), Generated(kSize));
  auto served = Served(a, 2);
  ASSERT_EQ(served.size(), 2u);
  EXPECT_EQ(served[1], "range=bytes=60000- if-range=\"" + a + "-1\" status=206 sent=140000");

  // Only a Last-Modified date: that is the proof sent.
  const std::string b = Key("date");
  ASSERT_TRUE(Got(Http(Ranged(b, "&lm=1"), Dest("b.bin"), " Retries=1")));
  EXPECT_EQ(ReadFileBytes(D("b.bin")), Generated(kSize));
  served = Served(b, 2);
  ASSERT_EQ(served.size(), 2u);
  EXPECT_EQ(served[1], "range=bytes=60000- if-range=Tue, 01 Dec 2020 10:00:01 GMT status=206 sent=140000");

  // A server that ignores ranges sends it all again: started over, never appended.
  const std::string c = Key("ignore");
  ASSERT_TRUE(Got(Http(Ranged(c, "&ignore=1"), Dest("c.bin"), " Retries=1")));
  EXPECT_EQ(ReadFileBytes(D("c.bin")), Generated(kSize));
  served = Served(c, 2);
  ASSERT_EQ(served.size(), 2u);
  EXPECT_EQ(served[1].substr(served[1].find(" status=")), " status=200 sent=200000");

  // The content changed between the attempts: If-Range gives the new body whole.
  const std::string d = Key("change");
  ASSERT_TRUE(Got(Http(Ranged(d, "&change=1"), Dest("d.bin"), " Retries=1")));
  EXPECT_EQ(ReadFileBytes(D("d.bin")), Generated(kSize, 7));
  served = Served(d, 2);
  ASSERT_EQ(served.size(), 2u);
  EXPECT_EQ(served[1], "range=bytes=60000- if-range=\"" + d + "-1\" status=200 sent=200000");

  // A date served less than a minute after it, or beside a weak ETag, proves no content:
  // the retry asks for the whole file without a range.
  for (const std::string mode : {"lm=now", "weak=1"}) {
    const std::string k = Key(mode.substr(0, 4));
    ASSERT_TRUE(Got(Http(Ranged(k, "&" + mode), Dest("e.bin"), " Retries=1"))) << mode;
    EXPECT_TRUE(ReadFileBytes(D("e.bin")) == Generated(kSize)) << mode;
    served = Served(k, 2);
    ASSERT_EQ(served.size(), 2u) << mode;
    EXPECT_EQ(served[1], "range=- if-range=- status=200 sent=200000") << mode;
  }

  // A record whose validator would add a header line of its own is not used, nor sent.
  const std::string f = Key("forged");
  const std::string url = Url("ranged/" + std::to_string(kSize) + "?key=" + f);
  ASSERT_TRUE(WriteFileBytes(D("f.bin.vskpart"), Generated(kCut)));
  ASSERT_TRUE(WriteFileBytes(D("f.bin.vskpart.rec"),
                             "vskpart 1\nsource " + url + "\nvalidator \"x\"\xC0\x8D\xC0\x8AX-Evil: 1\nend\n"));
  ASSERT_TRUE(Got(Http(url, Dest("f.bin"))));
  EXPECT_TRUE(ReadFileBytes(D("f.bin")) == Generated(kSize));
  EXPECT_EQ(Served(f, 1).at(0), "range=- if-range=- status=200 sent=200000");
  EXPECT_EQ(Leftovers({L"a.bin", L"b.bin", L"c.bin", L"d.bin", L"e.bin", L"f.bin"}), std::vector<std::wstring>());
}

// A GOT only when the kept and the received bytes are the whole file the server stated.
TEST_F(Resume, HttpGotOnlyForEveryByteOfTheStatedFile) {
  // A 206 to a request without a range is not the file: the destination stays as it was.
  ASSERT_TRUE(WriteFileBytes(D("b.bin"), "old"));
  const std::string b = Key("unasked");
  ASSERT_TRUE(Send(Http(Url("ranged/" + std::to_string(kSize) + "?key=" + b + "&unasked=500"), Dest("b.bin"))));
  auto reply = requester_.WaitReply(30000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.rfind("FAILED ", 0), 0u) << reply->bytes;
  EXPECT_EQ(reply->Field("Reason"), "HTTP status 206 without a range");
  EXPECT_EQ(Served(b, 1).at(0), "range=- if-range=- status=206 sent=500");
  const std::string kept = ReadFileBytes(D("b.bin"));
  EXPECT_TRUE(kept == "old") << kept.size() << " bytes";

  // A 206 with 100 of the 140,000 bytes left: they are kept and the next attempt asks for the rest.
  const std::string a = Key("brief");
  ASSERT_TRUE(Got(Http(Ranged(a, "&brief=100"), Dest("a.bin"), " Retries=2"), 60000));
  const std::string got = ReadFileBytes(D("a.bin"));
  EXPECT_TRUE(got == Generated(kSize)) << got.size() << " bytes";
  auto served = Served(a, 3);
  ASSERT_EQ(served.size(), 3u);
  EXPECT_EQ(served[1], "range=bytes=60000- if-range=\"" + a + "-1\" status=206 sent=100");
  EXPECT_EQ(served[2], "range=bytes=60100- if-range=\"" + a + "-1\" status=206 sent=139900");
  EXPECT_TRUE(Logged("Retrying in 4 s - received 60100 of 200000 bytes (attempt 2 of 3)"));
  EXPECT_EQ(Leftovers({L"a.bin", L"b.bin"}), std::vector<std::wstring>());
}

// Kept bytes serve only the request that kept them: its retries, or its replay after a kill.
TEST_F(Resume, KeptBytesGoWhenTheRequestEndsAndAWrongChecksumKeepsNothing) {
  ASSERT_TRUE(WriteFileBytes(D("e.bin"), "old"));
  const std::string e = Key("later");
  ASSERT_TRUE(Send(Http(Ranged(e), Dest("e.bin"))));
  auto reply = requester_.WaitReply(30000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Field("Reason"), "received 60000 of 200000 bytes");
  EXPECT_EQ(ReadFileBytes(D("e.bin")), "old");
  EXPECT_EQ(Leftovers({L"e.bin"}), std::vector<std::wstring>());

  // The next request starts over; the whole file is checked, and a mismatch keeps nothing.
  ASSERT_TRUE(Send(Http(Ranged(e), Dest("e.bin"), std::string(" Sha256=") + kWrongSha)));
  reply = requester_.WaitReply(30000);
  ASSERT_TRUE(reply);
  EXPECT_NE(reply->Field("Reason").find("checksum"), std::string::npos) << reply->bytes;
  EXPECT_EQ(Served(e, 2).at(1), "range=- if-range=- status=200 sent=200000");
  EXPECT_EQ(ReadFileBytes(D("e.bin")), "old");
  EXPECT_EQ(Leftovers({L"e.bin"}), std::vector<std::wstring>());
}

// A shared folder can hold another user's part and record, planted to be exactly what the
// agent would keep for this request: they give the download none of their bytes. And a
// destination so long that its record's aside name passes MAX_PATH is kept and resumed.
TEST_F(Resume, OnlyTheUsersOwnPartIsContinuedAtAnyPathLength) {
  const std::string p = Key("planted");
  const std::string source = Ranged(p);
  ASSERT_TRUE(WriteFileBytes(D("p.bin.vskpart"), std::string(kCut, 'X')));
  ASSERT_TRUE(WriteFileBytes(D("p.bin.vskpart.rec"),
                             velmora::ComposeRecord({velmora::SourceForRecord(Wide(source)), Wide("\"" + p + "-1\"")})));
  ASSERT_TRUE(GiveToAnotherUser(D("p.bin.vskpart")));
  ASSERT_TRUE(GiveToAnotherUser(D("p.bin.vskpart.rec")));
  ASSERT_TRUE(Got(Http(source, Dest("p.bin"), " Retries=1")));
  EXPECT_TRUE(ReadFileBytes(D("p.bin")) == Generated(kSize));  // no planted byte in it
  auto served = Served(p, 2);
  ASSERT_EQ(served.size(), 2u);
  EXPECT_EQ(served[0], "range=- if-range=- status=200 sent=60000");  // not the planted bytes' continuation
  EXPECT_EQ(served[1], "range=bytes=60000- if-range=\"" + p + "-1\" status=206 sent=140000");
  EXPECT_TRUE(Logged("Dropping " + Dest("p.bin.vskpart") + " - not the user's own file"));

  const std::wstring deep = D(std::string(250 - D("").size() - 9, 'L'));
  ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
  const std::string target = Narrow(deep) + "\\long.bin";
  ASSERT_EQ(target.size(), 250u);
  const std::string l = Key("long");
  ASSERT_TRUE(Got(Http(Ranged(l), target, " Retries=1")));
  EXPECT_TRUE(ReadFileBytes(Wide(target)) == Generated(kSize));
  served = Served(l, 2);
  ASSERT_EQ(served.size(), 2u);
  EXPECT_EQ(served[1], "range=bytes=60000- if-range=\"" + l + "-1\" status=206 sent=140000");
  EXPECT_EQ(FolderNames(deep), std::vector<std::wstring>{L"long.bin"});
  EXPECT_EQ(Leftovers({L"p.bin", deep.substr(deep.rfind(L'\\') + 1)}), std::vector<std::wstring>());
}

// vsftpd at 4 MB/s (see tests/peers/real_peer.py), so the kill comes mid-file.
TEST_F(Resume, FtpContinuesWithRestAfterTheAgentWasKilled) {
  const size_t size = 12000000;
  const std::string body = Generated(size, 3);
  const std::wstring remote = PeerData(L"vsftpd") + L"\\resume.bin";
  ASSERT_TRUE(WriteFileBytes(remote, body));
  ASSERT_TRUE(SetWriteTime(remote, KnownRemoteTime()));
  const std::string request = "GET Type=FTP Reference=R3 SourceFileName=ftp://" +
                              Narrow(Env("VELMORA_VSFTPD_HOST")) + "/resume.bin DestinationFileName=" +
                              Dest("f.bin") + " PassiveMode=1 ReplyOnFailure=1";
  ASSERT_TRUE(Send(request));
  const std::wstring part = D("f.bin.vskpart");
  int64_t seen = 0;
  WaitUntil(
      [&] {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (GetFileAttributesExW(part.c_str(), GetFileExInfoStandard, &data)) seen = data.nFileSizeLow;
        return seen >= 1000000;
      },
      30000);
  ASSERT_GE(seen, 1000000);
  ASSERT_TRUE(TerminateProcess(agent_.Process(), 9));
  ASSERT_TRUE(agent_.WaitExit(10000));
  const size_t kept = ReadFileBytes(part).size();
  ASSERT_LT(kept, size);
  ASSERT_TRUE(FileExists(D("f.bin.vskpart.rec")));

  ASSERT_TRUE(agent_.Start(L"/DEBUG=MAX"));
  // The checksum covers the kept bytes as well as the continued ones.
  velmora::Sha256Hasher whole;
  whole.Add(body.data(), static_cast<DWORD>(body.size()));
  std::array<unsigned char, 32> digest{};
  ASSERT_TRUE(whole.Finish(digest));
  ASSERT_TRUE(Got(request + " Sha256=" + Narrow(velmora::DigestText(digest)), 60000));
  EXPECT_TRUE(ReadFileBytes(D("f.bin")) == body);
  EXPECT_TRUE(Logged("Resuming " + Dest("f.bin") + " from byte " + std::to_string(kept)));
  EXPECT_EQ(Leftovers({L"f.bin"}), std::vector<std::wstring>());
  // The server's own count: only the rest went over the wire the second time.
  std::istringstream log(ReadFileBytes(WinPath(Narrow(Env("VELMORA_VSFTPD_LOG")))));
  std::string last;
  for (std::string line; std::getline(log, line);)
    if (line.find("OK DOWNLOAD") != std::string::npos && line.find("/resume.bin") != std::string::npos) last = line;
  EXPECT_NE(last.find(", " + std::to_string(size - kept) + " bytes"), std::string::npos) << last;
  DeleteFileW(remote.c_str());
}

}  // namespace
}  // namespace ftp_e2e
