// The dispatcher with a scripted transfer: each way an attempt ends, and the one order in
// which a request ends (journal, history, reply, list) so that a kill at any point neither
// loses nor repeats it.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/dispatcher.h"

using namespace velmora;

namespace {

class ScriptedHost : public DispatchHost {
 public:
  std::vector<std::string> events;
  std::function<AttemptResult(DownloadRequest&)> attempt;
  Dispatcher* dispatcher = nullptr;
  DownloadQueue* queue = nullptr;
  uint64_t now = 1000;
  bool closing = false;
  bool timer = false;

  void WriteLog(const std::wstring& text, int, int) override { lines.push_back(text); }
  uint64_t Now() override { return now; }
  bool MayStart() override { return !closing; }
  bool Closing() override { return closing; }
  void ArmTimer(bool on) override { timer = on; }
  bool RequesterGone(int32_t parent) override { return parent == kGone; }
  AttemptResult Attempt(DownloadRequest& work) override { return attempt(work); }
  void JournalDone(const DownloadRequest&) override { events.push_back("journal"); }
  void DropKeptBytes(const DownloadRequest&) override { events.push_back("drop"); }
  void ReplyDone(const DownloadRequest&, bool linked) override { events.push_back(linked ? "GOT+linked" : "GOT"); }
  void ReplyFailed(const DownloadRequest&, const std::wstring& reason) override {
    events.push_back("FAILED " + std::string(reason.begin(), reason.end()));
  }
  void ShowCurrent(const std::wstring&) override {}
  void RemoveFromList(const DownloadRequest& r) override {
    events.push_back("remove");
    queue->RemoveSequence(r.Sequence);
  }
  void RemoveParentFromList(int32_t parent) override {
    events.push_back("remove parent");
    queue->RemoveParent(parent);
  }
  bool Logged(const std::wstring& text) const {
    for (const auto& l : lines)
      if (l == text) return true;
    return false;
  }
  static constexpr int32_t kGone = 99;
  std::vector<std::wstring> lines;
};

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest() : dispatcher_(host_, queue_, history_) {
    host_.dispatcher = &dispatcher_;
    host_.queue = &queue_;
  }
  void Queue(const wchar_t* source, int32_t retries = 0, int32_t parent = 7) {
    DownloadRequest r;
    r.ParentHWnd = parent;
    r.Type = L"HTTP";
    r.SourceFileName = source;
    r.Retries = retries;
    ASSERT_EQ(queue_.Add(r), AddOutcome::Accepted);
  }
  RequestState StateInHistory(const wchar_t* source) {
    auto found = history_.FindWhere([&](const DownloadRequest& r) { return r.SourceFileName == source; }, host_.now);
    return found.empty() ? RequestState::Queued : found.back().state;
  }
  using Events = std::vector<std::string>;
  ScriptedHost host_;
  DownloadQueue queue_;
  RequestHistory history_;
  Dispatcher dispatcher_;
};

TEST_F(DispatcherTest, EachWayAnAttemptEndsSettlesInOneOrder) {
  // Placed by the transfer: "done" is written at once, then history, reply, list.
  Queue(L"http://h/done");
  host_.attempt = [&](DownloadRequest&) {
    dispatcher_.Placed();
    EXPECT_FALSE(dispatcher_.Cancellable(dispatcher_.Running()->request.Sequence));  // too late to take back
    return AttemptResult::Success(true);
  };
  dispatcher_.Tick();
  EXPECT_EQ(host_.events, (Events{"journal", "journal", "drop", "GOT+linked", "remove"}));
  EXPECT_EQ(StateInHistory(L"http://h/done"), RequestState::Done);
  EXPECT_FALSE(dispatcher_.Busy());
  EXPECT_EQ(dispatcher_.Running(), nullptr);

  // A permanent failure ends for good: its kept bytes go, whatever Retries says.
  host_.events.clear();
  Queue(L"http://h/missing", 3);
  host_.attempt = [](DownloadRequest&) { return AttemptResult::Failure(L"HTTP status 404", FailureKind::HttpStatus, 404); };
  dispatcher_.Tick();
  EXPECT_EQ(host_.events, (Events{"journal", "drop", "FAILED HTTP status 404", "remove"}));
  EXPECT_EQ(StateInHistory(L"http://h/missing"), RequestState::Failed);

  // A run-time error is that request's failure only; the queue moves on.
  host_.events.clear();
  Queue(L"http://h/throws");
  Queue(L"http://h/next");
  host_.attempt = [](DownloadRequest& w) -> AttemptResult {
    if (w.SourceFileName == L"http://h/throws") throw std::runtime_error("boom");
    return AttemptResult::Success();
  };
  dispatcher_.Tick();
  EXPECT_TRUE(host_.timer);  // re-armed for the next
  dispatcher_.Tick();
  EXPECT_EQ(host_.events, (Events{"journal", "drop", "FAILED boom", "remove", "journal", "drop", "GOT", "remove"}));
  EXPECT_TRUE(host_.Logged(L"Run-time error in frmVelmoraSkytrove:tmrDownloadFiles_Timer - boom"));
  EXPECT_TRUE(queue_.Empty());
}

TEST_F(DispatcherTest, TransientFailuresWaitTheirTurnAndTheLastOneEndsTheRequest) {
  Queue(L"http://h/flaky", 1);
  host_.attempt = [](DownloadRequest&) {
    AttemptResult r = AttemptResult::Failure(L"no data", FailureKind::Stalled);
    r.end = AttemptEnd::Stalled;
    return r;
  };
  dispatcher_.Tick();
  EXPECT_TRUE(host_.events.empty());  // nothing ended: no "done", no reply, kept bytes stay
  ASSERT_EQ(queue_.Count(), 1u);
  EXPECT_EQ(queue_.At(0).Attempts, 1);
  EXPECT_EQ(queue_.At(0).DueAt, 1000u + 2000u);
  EXPECT_TRUE(host_.Logged(L"Retrying in 2 s - no data (attempt 1 of 2)"));
  dispatcher_.Tick();  // not due yet
  EXPECT_TRUE(host_.Logged(L"Exit frmVelmoraSkytrove:tmrDownloadFiles_Timer - Waiting for a retry"));
  host_.now += 2000;
  dispatcher_.Tick();
  EXPECT_EQ(host_.events, (Events{"journal", "drop", "FAILED no data (after 2 attempts)", "remove"}));
}

TEST_F(DispatcherTest, CancelIsFinalAndClosingSaysNothing) {
  // Cancelled mid-transfer: never retried, whatever the failure it left by.
  Queue(L"http://h/cancel", 5);
  host_.attempt = [&](DownloadRequest& w) {
    EXPECT_TRUE(dispatcher_.Cancellable(w.Sequence));
    dispatcher_.Cancel(L"cancelled by the requester");
    EXPECT_EQ(dispatcher_.Running()->state, RequestState::Cancelled);
    return AttemptResult::Failure(L"failed to read from URL", FailureKind::CutShort);
  };
  dispatcher_.Tick();
  EXPECT_EQ(host_.events, (Events{"journal", "drop", "FAILED cancelled by the requester", "remove"}));
  EXPECT_EQ(StateInHistory(L"http://h/cancel"), RequestState::Cancelled);

  // Closing during the attempt: no reply, no "done", still listed for a persisted replay;
  // unless the file was placed first, whose "done" is already written.
  host_.events.clear();
  Queue(L"http://h/closing");
  host_.attempt = [&](DownloadRequest&) {
    host_.closing = true;
    return AttemptResult::Ended(AttemptEnd::Closing);
  };
  dispatcher_.Tick();
  EXPECT_TRUE(host_.events.empty());
  EXPECT_EQ(queue_.Count(), 1u);
  EXPECT_FALSE(host_.timer);
  host_.closing = false;
  host_.attempt = [&](DownloadRequest&) {
    dispatcher_.Placed();
    host_.closing = true;
    return AttemptResult::Success();
  };
  dispatcher_.Tick();
  EXPECT_EQ(host_.events, (Events{"journal"}));
}

TEST_F(DispatcherTest, RequesterGoneTakesAllItsRequests) {
  Queue(L"http://h/a", 0, ScriptedHost::kGone);
  Queue(L"http://h/b", 0, ScriptedHost::kGone);
  host_.attempt = [](DownloadRequest&) -> AttemptResult { ADD_FAILURE() << "ran"; return {}; };
  dispatcher_.Tick();
  EXPECT_EQ(host_.events, (Events{"remove parent"}));
  EXPECT_TRUE(queue_.Empty());
  EXPECT_FALSE(host_.timer);
}

}  // namespace
