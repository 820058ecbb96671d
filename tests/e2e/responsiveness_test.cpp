// Other programs talk to the agent with synchronous SendMessage: its window must answer
// while it waits on a server, take new requests meanwhile and still serve them in order,
// end promptly when closed mid-wait, and keep its queue moving.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <thread>

#include "ftp_e2e_support.h"

using namespace ftp_e2e;

namespace {

constexpr DWORD kAnswerWithinMs = 250;

// A second program that keeps asking the agent's window for an answer, from a thread of
// its own, and remembers the longest wait.
class Prober {
 public:
  explicit Prober(HWND agent)
      : agent_(agent), stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), thread_([this] { Run(); }) {}
  ~Prober() { Stop(); }
  DWORD Stop() {
    SetEvent(stop_);
    if (thread_.joinable()) thread_.join();
    CloseHandle(stop_);
    stop_ = nullptr;
    return worst_;
  }

 private:
  void Run() {
    do {
      const DWORD start = GetTickCount();
      DWORD_PTR ignored = 0;
      const bool answered = SendMessageTimeoutW(agent_, WM_NULL, 0, 0, SMTO_NORMAL, 3000, &ignored) != 0;
      worst_ = std::max<DWORD>(worst_, answered ? GetTickCount() - start : 3000);
    } while (WaitForSingleObject(stop_, 50) == WAIT_TIMEOUT);  // one probe every 50 ms
  }
  HWND agent_;
  HANDLE stop_;
  std::atomic<DWORD> worst_{0};
  std::thread thread_;
};

// Answers the agent's message boxes from a thread of its own, holding each one up for a
// while when asked to, and calling `onBox` (on that thread) while each is up.
class BoxAnswerer {
 public:
  BoxAnswerer() : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), thread_([this] { Run(); }) {}
  ~BoxAnswerer() {
    SetEvent(stop_);
    thread_.join();
    CloseHandle(stop_);
  }
  std::atomic<int> boxes{0};
  std::atomic<int> answered{0};
  std::atomic<DWORD> holdMs{0};
  std::function<void(int)> onBox;  // set before the first box

 private:
  void Run() {
    while (WaitForSingleObject(stop_, 0) == WAIT_TIMEOUT) {
      HWND box = WaitForWindow(L"#32770", L"Velmora Skytrove v4", 200);
      if (box == nullptr) continue;
      const int n = ++boxes;
      if (onBox) onBox(n);
      if (holdMs > 0) WaitForSingleObject(stop_, holdMs);
      PressButton(box, IDOK);
      ++answered;
    }
  }
  HANDLE stop_;
  std::thread thread_;
};

// A request sent from any thread on behalf of `requester` (its replies go there).
bool SendFor(HWND agent, HWND requester, const std::string& text) {
  COPYDATASTRUCT cds{4, static_cast<DWORD>(text.size()), const_cast<char*>(text.data())};
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutA(agent, WM_COPYDATA, reinterpret_cast<WPARAM>(requester), reinterpret_cast<LPARAM>(&cds),
                             SMTO_NORMAL, 5000, &ignored) != 0;
}

class Responsive : public FtpAgent {
 protected:
  std::string HttpRequest(const std::string& url, const std::string& dest) {
    return "GET Type=HTTP Reference=R1 SourceFileName=" + url + " DestinationFileName=" + dest;
  }
  size_t IndexOf(const std::vector<std::string>& texts, const std::string& prefix) {
    for (size_t i = 0; i < texts.size(); ++i)
      if (texts[i].compare(0, prefix.size(), prefix) == 0) return i;
    return texts.size();
  }

  // `slow` keeps the agent waiting (its wait begins with the log line `waiting`); a quick
  // request sent meanwhile is accepted at once and served after it; the window answers a
  // second program within kAnswerWithinMs throughout.
  void ExpectAnsweringWhile(const std::string& slow, const std::string& waiting) {
    Prober prober(agent_.Window());
    ASSERT_TRUE(Send(slow));
    ASSERT_FALSE(WaitLogged(waiting).empty());
    Requester second;
    const std::string quick = Url("gen/3000");
    const DWORD before = GetTickCount();
    ASSERT_TRUE(second.Send(agent_.Window(), HttpRequest(quick, Dest("quick.bin"))));
    EXPECT_LT(GetTickCount() - before, kAnswerWithinMs) << "the request sent meanwhile waited to be accepted";
    ASSERT_TRUE(second.WaitReply(90000));
    EXPECT_LT(prober.Stop(), kAnswerWithinMs) << "the window did not answer while the agent waited";
    const auto texts = Texts();
    const size_t firstDone = IndexOf(texts, "Finish frmVelmoraSkytrove:tmrDownloadFiles_Timer");
    const size_t quickStarted = IndexOf(texts, "Calling Download HTTP File " + quick);
    EXPECT_LT(firstDone, quickStarted) << "served out of order";
    EXPECT_LT(quickStarted, texts.size());
  }
};

TEST_F(Responsive, AnswersWhileAnFtpTransferCrawls) {
  ASSERT_TRUE(PutRemote("crawl.bin", Generated(3000000)));  // 3 s at the peer's 1 MB/s
  ExpectAnsweringWhile(Request(Source("crawl.bin", Narrow(Env("VELMORA_FTP_SLOW_HOST"))), Dest("crawl.bin")),
                       "'GET'ting file from server");
  ASSERT_TRUE(requester_.WaitReply(1000));  // before the quick one's, which came first
  EXPECT_EQ(ReadFileBytes(dest_ + L"\\crawl.bin"), Generated(3000000));
}

TEST_F(Responsive, AnswersWhileAnHttpServerSaysNothing) {
  ExpectAnsweringWhile(HttpRequest(Url("hang?ms=4000"), Dest("hang.bin")), "InternetOpenURL ");
}

TEST_F(Responsive, AnswersWhileAnFtpServerNeverGreets) {
  ExpectAnsweringWhile(
      Request(Source("mute.bin", Narrow(Env("VELMORA_FTP_MUTE_HOST"))), Dest("mute.bin"), " ReplyOnFailure=1"),
      "Start cFTP:Connect");
  const auto reply = requester_.WaitReply(1000);  // served before the quick one
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.compare(0, 7, "FAILED "), 0) << reply->bytes;
}

TEST_F(Responsive, AnswersWhileAnHttpBodyTrickles) {
  ExpectAnsweringWhile(HttpRequest(Url("slow/40000?chunk=10000&delay=700"), Dest("trickle.bin")),
                       "Read ");
  ASSERT_TRUE(requester_.WaitReply(1000));
  EXPECT_EQ(ReadFileBytes(dest_ + L"\\trickle.bin").size(), 40000u);
}

// The close comes while the agent waits on a server or in its pause: the process is gone
// within 3 s, nothing is replied, the old file stands and no temporary file is left.
TEST_F(Responsive, ClosingMidWaitEndsAtOnceAndKeepsTheOldFile) {
  ASSERT_TRUE(PutRemote("long.bin", Generated(30000000)));  // 30 s at 1 MB/s
  struct Case {
    std::string request, waiting;
    bool temporaryRemoved;
  };
  const Case cases[] = {
      // Each asks for a failure reply: a closing agent sends none, not even that.
      {HttpRequest(Url("hang"), Dest("old.bin")) + " ReplyOnFailure=1", "InternetOpenURL ", true},
      // The pause: right after the open of a body that comes slowly.
      {HttpRequest(Url("slow/40000?chunk=10000&delay=700"), Dest("old.bin")) + " ReplyOnFailure=1", "Open URL ",
       true},
      // The FTP transfer keeps what arrived (with its record) for a later attempt.
      {Request(Source("long.bin", Narrow(Env("VELMORA_FTP_SLOW_HOST"))), Dest("old.bin"), " ReplyOnFailure=1"),
       "Start cFTP:DownloadFile", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    ASSERT_TRUE(WriteFileBytes(dest_ + L"\\old.bin", "the old file"));
    if (!agent_.Running()) {
      ASSERT_TRUE(agent_.Start(L"/DEBUG=MAX"));
    }
    ASSERT_TRUE(Send(c.request));
    ASSERT_FALSE(WaitLogged(c.waiting).empty());
    const DWORD asked = GetTickCount();
    PostMessageW(agent_.Window(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(agent_.WaitExit(10000));
    EXPECT_LT(GetTickCount() - asked, 3000u);
    DWORD code = 1;
    GetExitCodeProcess(agent_.Process(), &code);
    EXPECT_EQ(code, 0u) << "the shut-down did not end cleanly";
    EXPECT_FALSE(requester_.WaitReply(0));
    EXPECT_EQ(ReadFileBytes(dest_ + L"\\old.bin"), "the old file");
    if (c.temporaryRemoved) {
      EXPECT_TRUE(Leftovers({L"old.bin"}).empty());
    }
    for (const auto& name : Leftovers({L"old.bin"})) DeleteFileW((dest_ + L"\\" + name).c_str());
    for (const auto& name : FolderNames(logs_)) DeleteFileW((logs_ + L"\\" + name).c_str());
  }
}

// A requester that sends a request every 0.9 s must not hold every download back.
TEST_F(Responsive, RequestsArrivingApartAreServedWithoutWaitingForTheLast) {
  const DWORD first = GetTickCount();
  ASSERT_TRUE(requester_.Send(agent_.Window(), HttpRequest(Url("gen/1000"), Dest("a0.bin"))));
  DWORD firstReply = 0;
  for (int i = 1; i <= 4; ++i) {
    Pump(900);  // the requester's own pace
    if (firstReply == 0 && !requester_.Replies().empty()) firstReply = GetTickCount();
    ASSERT_TRUE(requester_.Send(agent_.Window(), HttpRequest(Url("gen/1000"), Dest("a" + std::to_string(i) + ".bin"))));
  }
  if (firstReply == 0) {
    ASSERT_TRUE(requester_.WaitReply(10000));
    firstReply = GetTickCount();
  }
  EXPECT_LT(firstReply - first, 2000u);
}

// The quit question runs messages: a request whose tick comes due under it must not
// start (its transfer would hold the answer), and "Yes" ends the agent at once.
TEST_F(Responsive, QuitQuestionStartsNoTransferAndYesEndsAtOnce) {
  ASSERT_TRUE(WriteFileBytes(dest_ + L"\\old.bin", "the old file"));
  PostMessageW(agent_.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
  HWND question = WaitForWindow(L"#32770", L"Velmora Skytrove v4", 10000);
  ASSERT_NE(question, nullptr);
  ASSERT_TRUE(Send(HttpRequest(Url("hang"), Dest("old.bin")) + " ReplyOnFailure=1"));
  ASSERT_FALSE(WaitLogged("Finished AddToDownloadList").empty());
  EXPECT_TRUE(WaitLogged("Start frmVelmoraSkytrove:tmrDownloadFiles_Timer", 3000).empty())
      << "a request started under the question";
  const DWORD asked = GetTickCount();
  PressButton(question, IDYES);
  ASSERT_TRUE(agent_.WaitExit(10000));
  EXPECT_LT(GetTickCount() - asked, 3000u);
  DWORD code = 1;
  GetExitCodeProcess(agent_.Process(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(requester_.WaitReply(0));
  EXPECT_EQ(ReadFileBytes(dest_ + L"\\old.bin"), "the old file");
}

// A message box from the log (its folder cannot be made) runs messages. Requests that
// arrive while boxes are up are each served once, and closing the agent while the boxes
// come and go during an FTP request ends it cleanly.
TEST_F(Responsive, LogMessageBoxesNeitherRepeatARequestNorCrashTheClose) {
  agent_.Stop();
  SetMachineString(L"SOFTWARE\\Velmora", L"DebugPath", L"Q:\\no drive\\logs");
  BoxAnswerer answerer;
  answerer.holdMs = 1100;  // past a dispatcher tick
  const HWND me = requester_.Window();
  std::atomic<HWND> agent{nullptr};
  std::atomic<int> sent{0};
  answerer.onBox = [&](int) {
    HWND window = agent.load();
    if (window != nullptr && sent < 2) {
      const int n = ++sent;
      SendFor(window, me, HttpRequest(Url("gen/" + std::to_string(1000 + n)), Dest("boxed" + std::to_string(n) + ".bin")) + " ReplyOnFailure=1");
    }
  };
  ASSERT_TRUE(agent_.Start(L"/DEBUG=MAX"));
  // The start-up's lines bring one box; requests go out under the boxes after it.
  ASSERT_TRUE(WaitUntil([&] { return answerer.answered >= 1; }, 10000)) << "no box at start-up";
  agent = agent_.Window();
  // Sent with no box up, its lines bring one, under which the next arrives, and so on: a
  // box comes with the lines of an intake or a tick outside a box. Each has a source of its own (the same
  // source twice from one window is refused).
  ASSERT_TRUE(Send(HttpRequest(Url("gen/1000"), Dest("boxed0.bin"))));
  std::set<std::string> served;
  size_t replies = 0;
  // Once every request sent has its reply, 8 s more show that none ran twice.
  while (const auto reply = requester_.WaitReply(replies < 1 + static_cast<size_t>(sent) ? 60000 : 8000)) {
    ++replies;
    EXPECT_EQ(reply->bytes.compare(0, 4, "GOT "), 0) << reply->bytes;
    served.insert(reply->Field("DestinationFileName"));
  }
  EXPECT_GE(sent.load(), 1) << "no request arrived under a box";
  EXPECT_EQ(replies, 1u + sent) << "a request was lost or ran twice";
  EXPECT_EQ(served.size(), replies) << "one request was answered twice";

  ASSERT_TRUE(PutRemote("boxed.bin", Generated(5000000)));  // 5 s at the slow peer's 1 MB/s
  ASSERT_TRUE(Send(Request(Source("boxed.bin", Narrow(Env("VELMORA_FTP_SLOW_HOST"))), Dest("boxed.bin"),
                           " ReplyOnFailure=1")));
  // The transfer writes beside its destination: once that file is there, it runs.
  ASSERT_TRUE(WaitUntil([&] { return Leftovers({}).size() > served.size(); }, 60000, 50))
      << "the FTP request never started";
  PostMessageW(agent_.Window(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(agent_.WaitExit(10000));
  DWORD code = 1;
  GetExitCodeProcess(agent_.Process(), &code);
  EXPECT_EQ(code, 0u) << "the agent did not end cleanly";
  EXPECT_FALSE(requester_.WaitReply(0));
  EXPECT_FALSE(FileExists(dest_ + L"\\boxed.bin"));
}

}  // namespace

// Pace=Fast (the request's, or the machine's when it names none): a small file's reply
// comes well before the design's tick and pause would allow; fast requests that queue up
// still run by priority, then in order of arrival; and the window answers a second
// program while a large file arrives at full speed.
TEST_F(Responsive, FastRequestsStartAtOnceInOrderAndTheWindowAnswers) {
  const std::wstring placement = L"SOFTWARE\\Velmora\\Utils\\Skytrove4";
  auto get = [&](const std::string& ref, const std::string& url, const std::string& extra) {
    return "GET Type=HTTP Reference=" + ref + " SourceFileName=" + Url(url) + " DestinationFileName=" +
           Dest(ref + ".bin") + " ReplyOnFailure=1" + extra;
  };
  // From the send returning to the reply, in ms.
  auto replyAfter = [&](const std::string& text) -> DWORD {
    if (!Send(text)) return 0;
    const DWORD sent = GetTickCount();
    const auto reply = requester_.WaitReply(15000);
    if (!reply || reply->bytes.compare(0, 4, "GOT ") != 0) return 0;
    return GetTickCount() - sent;
  };
  DWORD ms = replyAfter(get("F1", "gen/3000?f1", " Pace=Fast"));
  EXPECT_GT(ms, 0u);
  EXPECT_LT(ms, 1000u) << "a fast request waited";
  SetMachineString(placement, L"Pace", L"Fast");
  ms = replyAfter(get("F2", "gen/3000?f2", ""));
  EXPECT_GT(ms, 0u);
  EXPECT_LT(ms, 1000u) << "the machine's pace was not the default";
  // The request's own word goes first: the design's tick and pause.
  EXPECT_GE(replyAfter(get("N1", "gen/3000?n1", " Pace=Normal")), 1000u);
  DeleteMachineValue(placement, L"Pace");
  EXPECT_EQ(ReadFileBytes(D("F2.bin")), Generated(3000));

  Prober prober(agent_.Window());
  const size_t before = requester_.Replies().size();
  // A runs for about a second; the others arrive meanwhile.
  ASSERT_TRUE(Send(get("A", "slow/200000?chunk=20000&delay=100", " Pace=Fast")));
  ASSERT_FALSE(WaitLogged("Calling Download HTTP File " + Url("slow/200000?chunk=20000&delay=100")).empty());
  ASSERT_TRUE(Send(get("B", "gen/20000000?b", " Pace=Fast")));
  ASSERT_TRUE(Send(get("L", "gen/5000?l", " Pace=Fast Priority=Low")));
  ASSERT_TRUE(Send(get("C", "gen/5000?c", " Pace=Fast Priority=High")));
  ASSERT_TRUE(Send(get("D", "gen/5000?d", " Pace=Fast")));
  ASSERT_TRUE(WaitUntil([&] { return requester_.Replies().size() >= before + 5; }, 60000, 10));
  EXPECT_LT(prober.Stop(), 100u) << "the window did not answer during a fast transfer";
  std::vector<std::string> order;
  for (size_t i = before; i < requester_.Replies().size(); ++i) {
    const Reply& r = requester_.Replies()[i];
    EXPECT_EQ(r.bytes.compare(0, 4, "GOT "), 0) << r.bytes;
    order.push_back(r.Field("Reference"));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"A", "C", "B", "D", "L"}));
  EXPECT_EQ(ReadFileBytes(D("B.bin")), Generated(20000000));
  EXPECT_TRUE(Logged("Read 65536 bytes from website 65536 total")) << "not read in the larger pieces";
}
