// The requester in control of what it sent: CANCEL of queued and running requests,
// STATUS, PROGRESS during a trickled body, and a High request overtaking Normal ones, as
// a requesting program sees them through the agent's window.
#include <algorithm>
#include <map>

#include "ftp_e2e_support.h"
#include "support/handles.h"

namespace ftp_e2e {
namespace {

class RequesterControl : public FtpAgent {
 protected:
  std::string Get(const std::string& ref, const std::string& url, const std::string& dest,
                  const std::string& extra = "") {
    return "GET Type=HTTP Reference=" + ref + " SourceFileName=" + url + " DestinationFileName=" + Dest(dest) +
           " ReplyOnFailure=1" + extra;
  }
  // The next reply (after those already taken) whose command word is `word`; the others
  // stay for their own turn.
  std::optional<Reply> Next(const std::string& word, DWORD ms = 15000) {
    size_t& from = taken_[word];
    std::optional<Reply> next;
    WaitUntil(
        [&] {
          auto& all = requester_.Replies();
          for (; from < all.size() && !next; ++from)
            if (all[from].bytes.compare(0, word.size() + 1, word + " ") == 0) next = all[from];
          return next.has_value();
        },
        ms, 10);
    return next;
  }
  std::map<std::string, size_t> taken_;
};

TEST_F(RequesterControl, CancelStatusProgressAndPriority) {
  ASSERT_TRUE(WriteFileBytes(dest_ + L"\\run.bin", "old content"));
  // 400,000 bytes at 20,000 a second: twenty seconds unless cancelled.
  const std::string slow = Url("slow/400000?chunk=2000&delay=100");
  const std::string queued = Url("gen/3000?queued");
  const std::string urgent = Url("gen/1000?urgent");
  ASSERT_TRUE(Send(Get("A", slow, "run.bin", " Progress=1")));
  ASSERT_TRUE(WaitLogged("Calling Download HTTP File " + slow).size() > 0);
  ASSERT_TRUE(Send(Get("B", queued, "b.bin")));
  ASSERT_TRUE(Send(Get("L", Url("gen/2000?low"), "l.bin", " Priority=Low")));
  ASSERT_TRUE(Send(Get("C", urgent, "c.bin", " Priority=High")));

  // Progress while the body trickles: the total announced, the bytes growing.
  auto first = Next("PROGRESS");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Field("Reference"), "A");
  EXPECT_EQ(first->Field("BytesTotal"), "400000");
  auto later = Next("PROGRESS");
  ASSERT_TRUE(later);
  EXPECT_GT(std::stoll(later->Field("BytesDone")), std::stoll(first->Field("BytesDone")));

  ASSERT_TRUE(Send("STATUS Reference=A"));
  auto status = Next("STATUS");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->Field("State"), "running");
  EXPECT_EQ(status->Field("Position"), "0");
  EXPECT_EQ(status->Field("SourceFileName"), slow);
  EXPECT_EQ(status->Field("BytesTotal"), "400000");
  // The High request overtook B, which came before it; the Low one stays last.
  ASSERT_TRUE(Send("STATUS Reference=B"));
  status = Next("STATUS");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->bytes, "STATUS Type=HTTP Reference=B SourceFileName=" + queued + " DestinationFileName=" +
                               Dest("b.bin") + " State=queued Position=2 BytesDone=0 BytesTotal=-1");
  ASSERT_TRUE(Send("STATUS Reference=L"));
  status = Next("STATUS");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->Field("Position"), "3");
  ASSERT_TRUE(Send("STATUS Reference=nothing"));
  status = Next("STATUS");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->bytes, "STATUS Reference=nothing State=unknown");

  // Another program cannot take back this one's requests.
  Requester other;
  ASSERT_TRUE(other.Send(agent_.Window(), "CANCEL Reference=B"));
  auto foreign = other.WaitReply(15000);
  ASSERT_TRUE(foreign);
  EXPECT_EQ(foreign->bytes, "CANCELLED Reference=B Count=0");

  // The queued one: its CANCELLED, then its FAILED.
  ASSERT_TRUE(Send("CANCEL Reference=B"));
  auto cancelled = Next("CANCELLED");
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(cancelled->bytes, "CANCELLED Reference=B Count=1");
  auto failed = Next("FAILED");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->Field("Reference"), "B");
  EXPECT_NE(failed->Field("Reason").find("cancelled"), std::string::npos);

  // The running one stops, its destination as it was, no partial file left beside it.
  ASSERT_TRUE(Send("CANCEL Reference=A"));
  cancelled = Next("CANCELLED");
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(cancelled->bytes, "CANCELLED Reference=A Count=1");
  failed = Next("FAILED", 3000);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->Field("Reference"), "A");
  EXPECT_NE(failed->Field("Reason").find("cancelled"), std::string::npos);
  EXPECT_TRUE(Logged("Exit frmVelmoraSkytrove:DownloadHTTPFile - cancelled"));
  EXPECT_EQ(ReadFileBytes(dest_ + L"\\run.bin"), "old content");
  EXPECT_EQ(Leftovers({L"run.bin"}), std::vector<std::wstring>());

  // The queue moves on: the High request, then the Low one; B is never fetched.
  auto got = Next("GOT");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->Field("Reference"), "C");
  got = Next("GOT");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->Field("Reference"), "L");
  EXPECT_EQ(CountLogged("Calling Download HTTP File " + queued), 0u);

  // Finished requests are remembered with how they ended.
  ASSERT_TRUE(Send("STATUS Reference=A"));
  status = Next("STATUS");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->Field("State"), "cancelled");
  ASSERT_TRUE(Send("STATUS Reference=C"));
  status = Next("STATUS");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->Field("State"), "done");
  EXPECT_EQ(status->Field("BytesDone"), "1000");
}

}  // namespace
}  // namespace ftp_e2e

namespace ftp_e2e {
namespace {

// A person selects a line of the pending list and presses Delete: that request, and no
// neighbour, is cancelled as if its requester had asked; the running one on the first
// line too. A line break in a source does not split its line: the line showing a request
// is the one that stands for it.
TEST_F(RequesterControl, DeleteInThePendingListCancelsTheSelectedRequest) {
  const std::string slow = Url("slow/400000?chunk=2000&delay=100");
  const std::string second = Url("gen/1000?second");
  ASSERT_TRUE(Send(Get("A", slow, "a.bin")));
  ASSERT_TRUE(WaitLogged("Calling Download HTTP File " + slow).size() > 0);
  const std::string redrawn = "Finish frmVelmoraSkytrove:UpdateQueuedList";
  const size_t before = CountLogged(redrawn);
  // B's line is longer than the box is wide: the box wraps it over several rows.
  ASSERT_TRUE(Send(Get("B", second + "\r\nsplit&" + std::string(400, 'w'), "b.bin")));
  ASSERT_TRUE(Send(Get("C", Url("gen/1000?third"), "c.bin")));
  // The list is redrawn once after a burst; only then do its lines stand for requests.
  ASSERT_TRUE(WaitCount(redrawn, before + 1));
  HWND list = FindWindowExW(agent_.Window(), nullptr, L"Edit", nullptr);
  ASSERT_NE(list, nullptr);
  // Lines as the text's line breaks make them, not the box's rows.
  auto shown = [&] {
    std::vector<wchar_t> text(65536);
    SendMessageW(list, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return std::wstring(text.data());
  };
  auto pressDelete = [&](int line) {
    const std::wstring text = shown();
    size_t at = 0;
    for (int i = 0; i < line && at != std::wstring::npos; ++i) at = text.find(L'\n', at) + 1;
    SendMessageW(list, EM_SETSEL, at, at);
    PostMessageW(list, WM_KEYDOWN, VK_DELETE, 0);
  };
  auto lineShowing = [&](const wchar_t* part) {
    const std::wstring text = shown();
    const size_t at = text.find(part);
    return at == std::wstring::npos ? -1 : static_cast<int>(std::count(text.begin(), text.begin() + at, L'\n'));
  };
  EXPECT_EQ(lineShowing(L"second<CR><LF>split"), 1);
  pressDelete(lineShowing(L"third"));  // C, below B's line
  auto failed = Next("FAILED");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->Field("Reference"), "C");
  EXPECT_EQ(failed->Field("Reason"), "cancelled in the agent's window");
  ASSERT_TRUE(WaitCount(redrawn, before + 2));
  pressDelete(1);  // B: A runs on line 0
  failed = Next("FAILED");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->Field("Reference"), "B");
  ASSERT_TRUE(WaitCount(redrawn, before + 3));
  pressDelete(0);  // the running A
  failed = Next("FAILED");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->Field("Reference"), "A");
  EXPECT_EQ(CountLogged("Calling Download HTTP File " + second), 0u);
}

}  // namespace
}  // namespace ftp_e2e

namespace ftp_e2e {
namespace {

void SKYTROVE_CALL CountProgress(void* context, const SkytroveReply* reply) {
  if (reply->status == SKYTROVE_PROGRESS && reply->bytesTotal == 400000) ++*static_cast<int*>(context);
}

// The library's calls read the new replies into their fields, and PROGRESS goes to its
// own callback, never into the queue where it could be taken for an answer.
TEST_F(RequesterControl, ClientLibraryCalls) {
  SkytroveClient* client = SkytroveOpen();
  ASSERT_NE(client, nullptr);
  int progress = 0;
  SkytroveSetProgressCallback(client, &CountProgress, &progress);
  const std::string url = Url("slow/400000?chunk=2000&delay=100");
  const std::string dest = Dest("p.bin");
  const SkytroveField fields[] = {{"Type", "HTTP"},         {"Reference", "P"},   {"SourceFileName", url.c_str()},
                                  {"DestinationFileName", dest.c_str()}, {"Priority", "High"}, {"Progress", "1"}};
  ASSERT_EQ(SkytroveSend(client, agent_.Window(), fields, 6, 1), SKYTROVE_SENT);
  SkytroveReply* reply = nullptr;
  for (int i = 0; i < 100 && progress == 0; ++i) EXPECT_EQ(SkytroveWait(client, 100, &reply), SKYTROVE_TIMEOUT);
  ASSERT_GT(progress, 0);
  SkytroveReply* states[4] = {};
  size_t count = 0;
  ASSERT_EQ(SkytroveQueryStatus(client, agent_.Window(), "P", 15000, states, 4, &count), SKYTROVE_STATE);
  ASSERT_EQ(count, 1u);
  EXPECT_STREQ(states[0]->state, "running");
  EXPECT_EQ(states[0]->position, 0);
  EXPECT_EQ(states[0]->bytesTotal, 400000);
  EXPECT_STREQ(states[0]->sourceFileName, url.c_str());
  SkytroveFreeReply(states[0]);
  long long cancelled = 0;
  ASSERT_EQ(SkytroveCancel(client, agent_.Window(), "P", 15000, &cancelled), SKYTROVE_CANCELLED);
  EXPECT_EQ(cancelled, 1);
  ASSERT_EQ(SkytroveWait(client, 5000, &reply), SKYTROVE_FAILED);
  EXPECT_NE(std::string(reply->reason).find("cancelled"), std::string::npos);
  SkytroveFreeReply(reply);
  ASSERT_EQ(SkytroveQueryStatus(client, agent_.Window(), "none", 15000, states, 4, &count), SKYTROVE_STATE);
  ASSERT_EQ(count, 1u);
  EXPECT_STREQ(states[0]->state, "unknown");
  SkytroveFreeReply(states[0]);
  SkytroveClose(client);
}

}  // namespace
}  // namespace ftp_e2e

namespace ftp_e2e {
namespace {

// After a redraw the caret stays with the request it was on: Delete cancels that request,
// never whatever the redraw put on the caret's old line (there, the running one).
TEST_F(RequesterControl, DeleteAfterTheListMovedCancelsTheSameRequest) {
  const std::string slow = Url("slow/400000?chunk=2000&delay=100&moved");
  ASSERT_TRUE(Send(Get("A", slow, "a.bin")));
  ASSERT_TRUE(WaitLogged("Calling Download HTTP File " + slow).size() > 0);
  const std::string redrawn = "Finish frmVelmoraSkytrove:UpdateQueuedList";
  size_t drawn = CountLogged(redrawn);
  ASSERT_TRUE(Send(Get("B", Url("gen/1000?moved-b"), "b.bin")));
  ASSERT_TRUE(Send(Get("C", Url("gen/1000?moved-c"), "c.bin")));
  ASSERT_TRUE(WaitCount(redrawn, ++drawn));
  HWND list = FindWindowExW(agent_.Window(), nullptr, L"Edit", nullptr);
  ASSERT_NE(list, nullptr);
  const LRESULT at = SendMessageW(list, EM_LINEINDEX, 2, 0);  // C
  SendMessageW(list, EM_SETSEL, at, at);
  // An urgent one moves C down a line; the list is drawn anew under the caret.
  ASSERT_TRUE(Send(Get("H", Url("gen/1000?moved-h"), "h.bin", " Priority=High")));
  ASSERT_TRUE(WaitCount(redrawn, ++drawn));
  PostMessageW(list, WM_KEYDOWN, VK_DELETE, 0);
  auto failed = Next("FAILED");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->Field("Reference"), "C");
  ASSERT_TRUE(Send("CANCEL Reference=A"));
  failed = Next("FAILED");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->Field("Reference"), "A");  // it was still running until asked
}

// A requester on a thread of its own: it queues `count` requests, takes them back (each a
// FAILED due to it after the CANCELLED), and stops reading its messages until thawed.
struct FrozenRequester {
  HWND agent = nullptr;
  std::vector<std::string> requests;
  velmora::UniqueHandle frozen{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  velmora::UniqueHandle thaw{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HWND window = nullptr;
  static DWORD WINAPI Run(void* self) {
    auto& f = *static_cast<FrozenRequester*>(self);
    Requester r;
    f.window = r.Window();
    for (const auto& request : f.requests) r.Send(f.agent, request);
    r.Send(f.agent, "CANCEL Reference=frozen");
    SetEvent(f.frozen.get());
    WaitForSingleObject(f.thaw.get(), 120000);  // no message is read meanwhile
    return 0;
  }
};

// One requester that stops reading its messages holds its own replies only: the agent
// answers another one at once, and drops the rest of the frozen one's round.
TEST_F(RequesterControl, AFrozenRequesterHoldsOnlyItsOwnReplies) {
  FrozenRequester frozen;
  frozen.agent = agent_.Window();
  for (int i = 0; i < 20; ++i)
    frozen.requests.push_back(Get("frozen", Url("slow/400000?chunk=2000&delay=100&frozen=" + std::to_string(i)),
                                  "frozen-" + std::to_string(i) + ".bin"));
  velmora::UniqueHandle thread(CreateThread(nullptr, 0, &FrozenRequester::Run, &frozen, 0, nullptr));
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(frozen.frozen.get(), 30000), WAIT_OBJECT_0);

  DWORD sent = GetTickCount();
  ASSERT_TRUE(Send("STATUS Reference=nobody"));
  auto status = Next("STATUS");
  ASSERT_TRUE(status);
  EXPECT_LT(GetTickCount() - sent, 2000u);
  sent = GetTickCount();
  ASSERT_TRUE(Send(Get("other", Url("gen/3000?other"), "other.bin")));
  auto got = Next("GOT");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->Field("Reference"), "other");
  EXPECT_LT(GetTickCount() - sent, 8000u);  // a tick and the open's pause, not 10 s a reply
  // The first reply to it timed out: the others of its round went without a wait each.
  const std::string window = std::to_string(static_cast<int32_t>(reinterpret_cast<intptr_t>(frozen.window)));
  EXPECT_FALSE(WaitLogged("Replies to requesting application (" + window + ") dropped - ", 30000).empty());
  SetEvent(frozen.thaw.get());
  WaitForSingleObject(thread.get(), 10000);
}

// A reply to a window of the agent's own process would come back as a new message, for
// ever; such messages are refused and the queue keeps moving.
TEST_F(RequesterControl, MessagesFromTheAgentsOwnWindowAreRefused) {
  HWND agent = agent_.Window();
  for (std::string text : {std::string("STATUS Reference=self"),
                           "GET Type=HTTP Reference=self SourceFileName=" + Url("gen/10?self")}) {
    COPYDATASTRUCT cds{4, static_cast<DWORD>(text.size()), &text[0]};
    DWORD_PTR result = 0;
    ASSERT_TRUE(SendMessageTimeoutA(agent, WM_COPYDATA, reinterpret_cast<WPARAM>(agent),
                                    reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 5000, &result));
  }
  ASSERT_TRUE(Send(Get("after", Url("gen/1000?after-self"), "after.bin")));
  auto got = Next("GOT");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->Field("Reference"), "after");
  const std::string self = std::to_string(static_cast<int32_t>(reinterpret_cast<intptr_t>(agent)));
  EXPECT_TRUE(Logged("Refused STATUS command from " + self + " - the window is the agent's own"));
  EXPECT_TRUE(Logged("Refused GET command from " + self + " - the window is the agent's own"));
  EXPECT_EQ(CountLogged("Calling Download HTTP File " + Url("gen/10?self")), 0u);
}

}  // namespace
}  // namespace ftp_e2e
