// The list rules: acceptance, duplicates, order, removals and the size limit.
#include <gtest/gtest.h>

#include "app/download_queue.h"

using namespace velmora;

namespace {
DownloadRequest Req(int32_t parent, const wchar_t* type, const wchar_t* source, const wchar_t* dest = L"",
                    const wchar_t* linked = L"") {
  DownloadRequest r;
  r.ParentHWnd = parent;
  r.Type = type;
  r.SourceFileName = source;
  r.DestinationFileName = dest;
  r.LinkedSourceFileName = linked;
  return r;
}
}  // namespace

TEST(DownloadQueue, AcceptanceAndDuplicates) {
  DownloadQueue q;
  EXPECT_EQ(q.Add(Req(1, L"", L"s")), AddOutcome::NoTypeOrSource);
  EXPECT_EQ(q.Add(Req(1, L"HTTP", L"")), AddOutcome::NoTypeOrSource);
  EXPECT_EQ(q.Add(Req(1, L"HTTP", L"http://h/A.txt")), AddOutcome::Accepted);  // no destination is fine
  EXPECT_EQ(q.Add(Req(1, L"http", L"HTTP://H/a.TXT")), AddOutcome::AlreadyInList);
  EXPECT_EQ(q.Add(Req(2, L"HTTP", L"http://h/A.txt")), AddOutcome::Accepted);
  EXPECT_EQ(q.Add(Req(1, L"FTP", L"http://h/A.txt")), AddOutcome::Accepted);
  EXPECT_EQ(q.Add(Req(1, L"FTP", L"ftp://h/s.txt", L"", L"ftp://h/s.jpg")), AddOutcome::Accepted);
  EXPECT_EQ(q.Add(Req(1, L"ftp", L"FTP://h/s.JPG")), AddOutcome::AlreadyInLinkedList);
  EXPECT_EQ(q.Add(Req(2, L"FTP", L"ftp://h/s.jpg")), AddOutcome::Accepted);
  // The newcomer's own linked file takes no part.
  EXPECT_EQ(q.Add(Req(1, L"FTP", L"ftp://h/new.txt", L"", L"ftp://h/s.txt")), AddOutcome::Accepted);
  EXPECT_EQ(q.Count(), 6u);
}

// A destination written locally must be a full path: a relative one would land in the
// agent's working folder. A request without a window is never queued.
TEST(DownloadQueue, RefusesRelativeDestinationsAndWindowZero) {
  DownloadQueue q;
  EXPECT_EQ(q.Add(Req(0, L"HTTP", L"http://h/0", L"C:\\a")), AddOutcome::NoRequester);
  EXPECT_EQ(q.Add(Req(1, L"HTTP", L"http://h/1", L"a.txt")), AddOutcome::DestinationNotFullPath);
  EXPECT_EQ(q.Add(Req(1, L"ftp", L"ftp://h/2", L"\\a.txt")), AddOutcome::DestinationNotFullPath);
  DownloadRequest linked = Req(1, L"FTP", L"ftp://h/3", L"C:\\3", L"ftp://h/3.jpg");
  linked.LinkedDestinationFileName = L"3.jpg";
  EXPECT_EQ(q.Add(linked), AddOutcome::DestinationNotFullPath);
  linked.LinkedDestinationFileName = L"C:\\x\\3.jpg:s";
  EXPECT_EQ(q.Add(linked), AddOutcome::DestinationNotFileName);
  linked.LinkedDestinationFileName = L"\\\\srv\\share\\3.jpg";
  EXPECT_EQ(q.Add(linked), AddOutcome::Accepted);
  // A delete writes nothing here, and an empty destination is the transfer's to refuse.
  EXPECT_EQ(q.Add(Req(1, L"FTPDELETE", L"ftp://h/4", L"x")), AddOutcome::Accepted);
  EXPECT_EQ(q.Add(Req(1, L"HTTP", L"http://h/5", L"")), AddOutcome::Accepted);
  EXPECT_EQ(q.Count(), 3u);
}

TEST(DownloadQueue, FirstRivalInOrderDecidesTheReason) {
  DownloadQueue q;
  ASSERT_EQ(q.Add(Req(1, L"FTP", L"ftp://h/x")), AddOutcome::Accepted);
  ASSERT_EQ(q.Add(Req(1, L"FTP", L"ftp://h/a", L"", L"ftp://h/x")), AddOutcome::Accepted);
  EXPECT_EQ(q.Add(Req(1, L"FTP", L"ftp://h/x")), AddOutcome::AlreadyInList);
  q.RemoveFirstMatch(Req(1, L"FTP", L"ftp://h/x"));
  EXPECT_EQ(q.Add(Req(1, L"FTP", L"ftp://h/x")), AddOutcome::AlreadyInLinkedList);
  DownloadQueue self;
  ASSERT_EQ(self.Add(Req(1, L"FTP", L"ftp://h/y", L"", L"ftp://h/y")), AddOutcome::Accepted);
  EXPECT_EQ(self.Add(Req(1, L"FTP", L"ftp://h/y")), AddOutcome::AlreadyInList);
}

TEST(DownloadQueue, RemovalsKeepOrderAndForgetDuplicates) {
  DownloadQueue q;
  for (int i = 0; i < 5; ++i)
    q.Add(Req(i == 0 || i == 1 || i == 3 ? 9 : 4, L"HTTP", (L"http://h/" + std::to_wstring(i)).c_str(), L"C:\\d"));
  EXPECT_EQ(q.RemoveParent(9), 3u);
  ASSERT_EQ(q.Count(), 2u);
  EXPECT_EQ(q.At(0).SourceFileName, L"http://h/2");
  EXPECT_EQ(q.At(1).SourceFileName, L"http://h/4");
  EXPECT_EQ(q.Add(Req(9, L"HTTP", L"http://h/0", L"C:\\d")), AddOutcome::Accepted);  // forgotten with its entry
  // A persisted request outlives its window.
  DownloadQueue p;
  DownloadRequest kept = Req(9, L"HTTP", L"http://h/kept", L"C:\\d");
  kept.Persist = true;
  ASSERT_EQ(p.Add(Req(9, L"HTTP", L"http://h/lost", L"C:\\d")), AddOutcome::Accepted);
  ASSERT_EQ(p.Add(kept), AddOutcome::Accepted);
  EXPECT_EQ(p.RemoveParent(9), 1u);
  ASSERT_EQ(p.Count(), 1u);
  EXPECT_EQ(p.At(0).SourceFileName, L"http://h/kept");

  // Exact source and destination; any window when the request's is 0.
  EXPECT_FALSE(q.RemoveFirstMatch(Req(4, L"HTTP", L"HTTP://h/2", L"C:\\d")));
  EXPECT_FALSE(q.RemoveFirstMatch(Req(4, L"HTTP", L"http://h/2", L"C:\\D")));
  EXPECT_FALSE(q.RemoveFirstMatch(Req(5, L"HTTP", L"http://h/2", L"C:\\d")));
  std::wstring removed;
  EXPECT_TRUE(q.RemoveFirstMatch(Req(0, L"X", L"http://h/4", L"C:\\d"), &removed));
  EXPECT_EQ(removed, L"http://h/4");
  EXPECT_EQ(q.At(0).SourceFileName, L"http://h/2");
  EXPECT_EQ(q.At(1).SourceFileName, L"http://h/0");
}

TEST(DownloadQueue, ResultFieldsStartEmptyAndTheListIsBounded) {
  DownloadQueue q;
  DownloadRequest r = Req(1, L"FTP", L"ftp://h/a");
  r.SourceFileLastWriteTime = L"1$2";
  r.LinkedSourceFileLastWriteTime = L"3$4";
  q.Add(r);
  EXPECT_EQ(q.At(0).SourceFileLastWriteTime, L"");
  EXPECT_EQ(q.At(0).LinkedSourceFileLastWriteTime, L"");

  DownloadQueue big;
  for (size_t i = 0; i < DownloadQueue::kMaxPending; ++i)
    ASSERT_EQ(big.Add(Req(1, L"HTTP", (L"s" + std::to_wstring(i)).c_str())), AddOutcome::Accepted);
  EXPECT_EQ(big.Add(Req(1, L"HTTP", L"one more")), AddOutcome::Full);
  EXPECT_EQ(big.Add(Req(1, L"HTTP", L"s5")), AddOutcome::AlreadyInList);  // duplicates still named as such
}

// A request waiting for its retry lets the others run, and runs once due.
TEST(DownloadQueue, WaitingRetryDoesNotHoldTheQueue) {
  DownloadQueue q;
  ASSERT_EQ(q.Add(Req(1, L"HTTP", L"http://h/a", L"C:\\a")), AddOutcome::Accepted);
  ASSERT_EQ(q.Add(Req(1, L"HTTP", L"http://h/b", L"C:\\b")), AddOutcome::Accepted);
  EXPECT_EQ(q.NextRunnable(100), 0u);
  ASSERT_TRUE(q.Reschedule(Req(1, L"HTTP", L"http://h/a", L"C:\\a"), 500, 1));
  EXPECT_EQ(q.NextRunnable(100), 1u);
  EXPECT_EQ(q.At(0).Attempts, 1);
  EXPECT_EQ(q.NextRunnable(500), 0u);
  ASSERT_TRUE(q.Reschedule(Req(1, L"HTTP", L"http://h/b", L"C:\\b"), 800, 2));
  EXPECT_EQ(q.NextRunnable(499), q.Count());
  EXPECT_FALSE(q.Reschedule(Req(1, L"HTTP", L"http://h/c", L"C:\\c"), 1, 1));
}

// Run order: High before Normal before Low, first come first served within a class, and
// the running request never passed, even by a High arriving while it runs.
TEST(DownloadQueue, PriorityClassesAndTheRunningRequest) {
  DownloadQueue q;
  auto add = [&](const wchar_t* source, RequestPriority p) {
    DownloadRequest r = Req(1, L"HTTP", source);
    r.Priority = p;
    r.Reference = L"R";
    return q.Add(r);
  };
  auto order = [&] {
    std::wstring seen;
    for (size_t i = 0; i < q.Count(); ++i) seen += q.At(i).SourceFileName;
    return seen;
  };
  add(L"a", RequestPriority::Low);
  add(L"b", RequestPriority::Normal);
  add(L"c", RequestPriority::High);
  add(L"d", RequestPriority::Normal);
  add(L"e", RequestPriority::High);
  add(L"f", RequestPriority::Low);
  EXPECT_EQ(order(), L"cebdaf");
  EXPECT_EQ(q.Position(0), 1u);
  // Another program's cancel takes nothing and leaves every request as it was.
  EXPECT_TRUE(q.RemoveMatching([](const DownloadRequest& r) { return r.ParentHWnd == 2; }).empty());
  EXPECT_EQ(order(), L"cebdaf");
  EXPECT_EQ(q.At(5).Reference, L"R");
  ASSERT_EQ(q.NextRunnable(0), 0u);
  // A Low request runs when the others are gone; a High arriving then waits behind it.
  q.RemoveMatching([](const DownloadRequest& r) { return r.SourceFileName != L"a" && r.SourceFileName != L"f"; });
  EXPECT_EQ(q.BeginRun(q.NextRunnable(0)).SourceFileName, L"a");
  const uint64_t running = q.Pinned();
  EXPECT_NE(running, 0u);
  add(L"g", RequestPriority::High);
  add(L"h", RequestPriority::Normal);
  EXPECT_EQ(order(), L"aghf");
  EXPECT_EQ(q.Position(0), 0u);
  EXPECT_EQ(q.Position(1), 1u);
  // The running request cancelled: it leaves at once and the next arrival may lead.
  const auto gone = q.RemoveMatching([](const DownloadRequest& r) { return r.SourceFileName == L"a"; });
  ASSERT_EQ(gone.size(), 1u);
  EXPECT_EQ(gone[0].Sequence, running);
  EXPECT_EQ(q.Pinned(), 0u);
  EXPECT_FALSE(q.RemoveSequence(running));
  add(L"i", RequestPriority::High);
  EXPECT_EQ(order(), L"gihf");
  // A cancelled request no longer counts as a duplicate.
  EXPECT_EQ(add(L"a", RequestPriority::Normal), AddOutcome::Accepted);
}

// The history keeps every finished request ten minutes, and never more than the last 1,000.
TEST(RequestHistory, KeepsTenMinutesAndAtMostTheLastThousand) {
  RequestHistory h;
  DownloadRequest r = Req(1, L"HTTP", L"s");
  r.Reference = L"old";
  h.Add(r, RequestState::Done, L"", 1000);
  r.Reference = L"mine";
  r.ParentHWnd = 2;
  h.Add(r, RequestState::Failed, L"why", 2000);
  EXPECT_EQ(h.Find(1, L"old", 1000 + RequestHistory::kKeepMs - 1).size(), 1u);
  EXPECT_TRUE(h.Find(2, L"old", 1000 + RequestHistory::kKeepMs - 1).empty());  // another window's
  EXPECT_TRUE(h.Find(1, L"old", 1000 + RequestHistory::kKeepMs).empty());
  ASSERT_EQ(h.Find(2, L"mine", 1000 + RequestHistory::kKeepMs).size(), 1u);
  r.Reference = L"burst";
  for (int i = 0; i < 1000; ++i) h.Add(r, RequestState::Done, L"", 3000);
  EXPECT_TRUE(h.Find(2, L"mine", 3000).empty());
  EXPECT_EQ(h.Count(), RequestHistory::kMaxKept);
}
