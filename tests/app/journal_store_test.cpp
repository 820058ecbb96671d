#include "app/journal_store.h"
#include "app/change_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "journal_fixture.h"

namespace velmora {
namespace {

using fixture::Sample;
using fixture::Scramble;

// Files by name: "journal", "fresh", "aside-<n>".
using Disk = std::map<std::string, std::string>;

// A disk in memory whose process is killed after `killAfter` operations: the next one is
// torn (half its bytes written; a rename is all or nothing) and none after it reaches
// the disk, which keeps what the kill left.
class MemoryFiles : public JournalFiles {
 public:
  explicit MemoryFiles(Disk disk, size_t killAfter = SIZE_MAX) : disk_(std::move(disk)), killAfter_(killAfter) {}
  const Disk& disk() const { return disk_; }
  bool Killed() const { return killed_; }
  size_t Renames() const { return renames_; }
  bool refuseCopy = false;

  Read ReadJournal(std::string& bytes, std::wstring& why) override {
    if (Next() != Fate::Done) {
      Fail(why);
      return Read::Failed;
    }
    const auto it = disk_.find("journal");
    if (it == disk_.end()) return Read::Missing;
    bytes = it->second;
    return Read::Whole;
  }
  bool CopyAside(std::wstring& aside, std::wstring& why) override {
    const Fate fate = Next();
    const auto it = disk_.find("journal");
    if (refuseCopy || it == disk_.end() || fate == Fate::Dead) return Fail(why);
    const std::string name = "aside-" + std::to_string(++asides_);
    disk_[name] = fate == Fate::Done ? it->second : Half(it->second);
    aside.assign(name.begin(), name.end());
    return fate == Fate::Done || Fail(why);
  }
  bool WriteFresh(const std::string& bytes, std::wstring& why) override {
    const Fate fate = Next();
    if (fate == Fate::Dead) return Fail(why);
    disk_["fresh"] = fate == Fate::Done ? bytes : Half(bytes);
    return fate == Fate::Done || Fail(why);
  }
  bool PutFreshInPlace(std::wstring& why) override {
    const auto it = disk_.find("fresh");
    if (Next() != Fate::Done || it == disk_.end()) return Fail(why);
    disk_["journal"] = it->second;
    disk_.erase(it);
    ++renames_;
    return true;
  }
  void DeleteFresh() override {
    if (Next() == Fate::Done) disk_.erase("fresh");
  }
  bool Append(const std::string& record, std::wstring& why) override {
    const Fate fate = Next();
    if (fate == Fate::Dead) return Fail(why);
    disk_["journal"] += fate == Fate::Done ? record : Half(record);
    return fate == Fate::Done || Fail(why);
  }

 private:
  enum class Fate { Done, Torn, Dead };
  Fate Next() {
    const size_t step = steps_++;
    if (step < killAfter_) return Fate::Done;
    killed_ = true;
    return step == killAfter_ ? Fate::Torn : Fate::Dead;
  }
  static std::string Half(const std::string& bytes) { return bytes.substr(0, bytes.size() / 2); }
  static bool Fail(std::wstring& why) {
    why = L"Access is denied.";
    return false;
  }

  Disk disk_;
  size_t killAfter_;
  size_t steps_ = 0;
  size_t asides_ = 0;
  size_t renames_ = 0;
  bool killed_ = false;
};

// Another user's sealed passwords: this user cannot unseal them.
bool SealForAnother(const std::string& in, std::string& out) {
  out = "other:" + in;
  return true;
}
bool Unseal(const std::string& in, std::string& out) { return in.rfind("other:", 0) != 0 && Scramble(in, out); }

DownloadRequest Request(const std::wstring& reference, size_t padding = 0) {
  DownloadRequest r = Sample(reference);
  r.DestinationFileName += std::wstring(padding, L'p');
  return r;
}
std::string Body(uint64_t id, const DownloadRequest& r) { return *AddBody(id, r, &Scramble); }

// Enough to be worth compacting once it has ended (see kJournalCompactFloor).
constexpr size_t kBig = 40000;

// What the last run left: A ended, B and C (a large one) live, S live but sealed for
// another user, and X cut short by the kill.
std::string DamagedJournal() {
  return JournalHeader() + JournalRecord(Body(1, Request(L"A"))) + JournalRecord(Body(2, Request(L"B"))) +
         JournalRecord(DoneBody(1)) + JournalRecord(Body(3, Request(L"C", kBig))) +
         JournalRecord(*AddBody(4, Request(L"S"), &SealForAnother)) +
         JournalRecord(Body(5, Request(L"X"))).substr(0, 30);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::set<std::wstring> Reopen(const Disk& disk) {
  MemoryFiles files(disk);
  JournalStore store(files, [](const std::wstring&) {});
  std::set<std::wstring> out;
  for (const DownloadRequest& r : store.Open(&Unseal)) out.insert(r.Reference);
  return out;
}

std::vector<std::wstring> Logged(const std::vector<std::wstring>& log, const std::wstring& start) {
  std::vector<std::wstring> out;
  for (const auto& line : log)
    if (line.rfind(start, 0) == 0) out.push_back(line);
  return out;
}

// A start that sets the damaged journal aside and rewrites it, then ends and adds that
// compact it (with requests still live, and once none is), each run killed at another
// step until one runs through. After each kill the next start must find every request
// that was live, none that had ended, and the damaged journal whole somewhere.
TEST(JournalStore, KilledAtEachStepLosesNoLiveRequestAndBringsBackNoEndedOne) {
  const std::string damaged = DamagedJournal();
  for (size_t kill = 0;; ++kill) {
    MemoryFiles files(Disk{{"journal", damaged}}, kill);
    std::vector<std::wstring> log;
    JournalStore store(files, [&](const std::wstring& line) { log.push_back(line); });
    std::set<std::wstring> live{L"B", L"C"}, ended{L"A"};
    std::wstring inFlight;
    std::map<std::wstring, uint64_t> ids;

    const auto run = [&](const std::wstring& reference, const auto& step) {
      if (files.Killed()) return;
      inFlight = reference;
      step();
      if (!files.Killed()) inFlight.clear();
    };
    const auto add = [&](const std::wstring& reference, size_t padding) {
      run(reference, [&] {
        const uint64_t id = store.NextId();
        std::wstring why;
        const bool kept = store.Add(id, Body(id, Request(reference, padding)), why);
        if (files.Killed()) return;
        EXPECT_TRUE(kept) << why;
        ids[reference] = id;
        live.insert(reference);
      });
    };
    const auto done = [&](const std::wstring& reference) {
      run(reference, [&] {
        std::wstring why;
        const bool noted = store.Done(ids[reference], why);
        if (files.Killed()) return;
        EXPECT_TRUE(noted) << why;
        live.erase(reference);
        ended.insert(reference);
      });
    };

    run(L"", [&] {
      std::set<std::wstring> restored;
      for (const DownloadRequest& r : store.Open(&Unseal)) {
        restored.insert(r.Reference);
        ids[r.Reference] = r.JournalId;
      }
      if (!files.Killed()) {
        EXPECT_EQ(restored, live);
      }
    });
    done(L"B");
    add(L"D", kBig);
    done(L"C");  // compacts, D still live
    add(L"E", 0);
    done(L"D");  // compacts, E still live
    done(L"E");  // compacts to nothing

    const Disk& disk = files.disk();
    EXPECT_TRUE(std::any_of(disk.begin(), disk.end(), [&](const auto& file) { return file.second == damaged; }))
        << "kill " << kill;
    const std::set<std::wstring> found = Reopen(disk);
    for (const auto& reference : live)
      EXPECT_TRUE(reference == inFlight || found.count(reference) == 1) << Narrow(reference) << " lost, kill " << kill;
    for (const auto& reference : found) {
      EXPECT_TRUE(live.count(reference) || reference == inFlight) << Narrow(reference) << " came back, kill " << kill;
      EXPECT_EQ(ended.count(reference), 0u) << Narrow(reference) << " ended, kill " << kill;
    }
    if (files.Killed()) continue;
    EXPECT_EQ(disk.at("journal"), JournalHeader());
    EXPECT_EQ(Logged(log, L"Journal moved aside to ").size(), 1u);
    break;
  }
}

// A damaged journal that cannot be copied aside is neither replaced nor appended to: the
// requests read from it still run, new ones are refused, and once a copy can be made the
// journal starts afresh without the ended ones.
TEST(JournalStore, ADamagedJournalThatCannotBeSetAsideIsKeptAsItIs) {
  const std::string damaged = DamagedJournal();
  MemoryFiles files(Disk{{"journal", damaged}});
  files.refuseCopy = true;
  std::vector<std::wstring> log;
  JournalStore store(files, [&](const std::wstring& line) { log.push_back(line); });
  std::vector<DownloadRequest> restored = store.Open(&Unseal);
  ASSERT_EQ(restored.size(), 2u);
  EXPECT_EQ(Logged(log, L"Journal could not be moved aside - Access is denied.").size(), 1u);
  EXPECT_TRUE(Logged(log, L"Journal cannot be written - ").empty());
  std::wstring why;
  EXPECT_FALSE(store.Add(store.NextId(), Body(store.NextId(), Request(L"N")), why));
  EXPECT_EQ(why, L"the damaged journal cannot be moved aside - Access is denied.");
  EXPECT_FALSE(store.Done(restored[0].JournalId, why));
  EXPECT_EQ(files.disk(), (Disk{{"journal", damaged}}));

  files.refuseCopy = false;
  EXPECT_TRUE(store.Add(store.NextId(), Body(store.NextId(), Request(L"N")), why)) << why;
  EXPECT_EQ(files.disk().at("aside-1"), damaged);
  EXPECT_EQ(Reopen(files.disk()), (std::set<std::wstring>{L"C", L"N"}));
}

// The reader takes a record past its limit for damage and drops every one after it: such
// a request is refused before anything is written.
TEST(JournalStore, ARecordTheReaderWouldRejectIsRefused) {
  MemoryFiles files(Disk{});
  JournalStore store(files, [](const std::wstring&) {});
  store.Open(&Unseal);
  std::wstring why;
  DownloadRequest huge = Request(L"H");
  huge.Reference = std::wstring(kMaxJournalRecord / 2, L'r');
  EXPECT_FALSE(store.Add(store.NextId(), Body(store.NextId(), huge), why));
  EXPECT_EQ(why.rfind(L"its record would be ", 0), 0u) << why;
  EXPECT_TRUE(store.Add(store.NextId(), Body(store.NextId(), Request(L"K")), why)) << why;
  EXPECT_EQ(ReadJournal(files.disk().at("journal")).problem, JournalProblem::None);
  EXPECT_EQ(Reopen(files.disk()), std::set<std::wstring>{L"K"});
}

// A steady backlog never empties the journal: it must still stay near the size of what is
// live, without being written afresh on every end.
TEST(JournalStore, ASteadyBacklogKeepsTheJournalSmall) {
  MemoryFiles files(Disk{});
  JournalStore store(files, [](const std::wstring&) {});
  store.Open(&Unseal);
  std::vector<uint64_t> ids;
  size_t largest = 0;
  std::wstring why;
  for (int i = 0; i < 2000; ++i) {
    ids.push_back(store.NextId());
    ASSERT_TRUE(store.Add(ids.back(), Body(ids.back(), Request(L"R" + std::to_wstring(i))), why)) << why;
    if (ids.size() > 10) {
      ASSERT_TRUE(store.Done(ids.front(), why)) << why;
      ids.erase(ids.begin());
    }
    largest = std::max(largest, files.disk().at("journal").size());
  }
  EXPECT_LT(largest, 2 * kJournalCompactFloor);
  EXPECT_LT(files.Renames(), 30u);
  EXPECT_EQ(Reopen(files.disk()).size(), 10u);
}

// The change records over the same kind of file. What was kept is on the disk when Keep
// returns; a destination used again becomes the newest; beyond the limit the least
// recently used goes, and a later run reads back exactly the set this one kept.
ChangeRecord Placed(const std::wstring& name, const std::wstring& etag) {
  ChangeRecord r;
  r.destination = L"C:\\Data\\" + name;
  r.source = L"http://h/" + name;
  r.etag = etag;
  r.size = 10;
  r.writeTime = 7;
  return r;
}
std::set<std::wstring> Kept(const Disk& disk, size_t limit) {
  MemoryFiles files(disk);
  ChangeStore store(files, [](const std::wstring&) {}, limit);
  std::set<std::wstring> names;
  for (const wchar_t* n : {L"a", L"b", L"c", L"d", L"e"})
    if (store.Find(std::wstring(L"c:/data/") + n)) names.insert(n);
  return names;
}

TEST(ChangeStore, TheLimitDropsTheLeastRecentlyUsedAndAnotherRunReadsTheSameSet) {
  MemoryFiles files(Disk{});
  ChangeStore store(files, [](const std::wstring&) {}, 3);
  std::wstring why;
  for (const wchar_t* n : {L"a", L"b", L"c", L"a", L"d"}) ASSERT_TRUE(store.Keep(Placed(n, L"\"1\""), why)) << why;
  EXPECT_EQ(Kept(files.disk(), 3), (std::set<std::wstring>{L"a", L"c", L"d"}));
  ASSERT_TRUE(store.Keep(Placed(L"c", L"\"2\""), why));
  EXPECT_EQ(store.Find(L"C:\\DATA\\C")->etag, L"\"2\"");
  // Compaction keeps the file near its live records, and their order.
  for (int i = 0; i < 3000; ++i) ASSERT_TRUE(store.Keep(Placed(L"e", L"\"" + std::to_wstring(i) + L"\""), why));
  EXPECT_LT(files.disk().at("journal").size(), 2 * kJournalCompactFloor);
  EXPECT_EQ(Kept(files.disk(), 3), (std::set<std::wstring>{L"c", L"d", L"e"}));
}

// A kill at any step of a Keep leaves the old record or the new one, never one that is
// neither; after damage the next Keep writes the file afresh, so nothing is appended
// behind what the reader stops at.
TEST(ChangeStore, AKillOrDamageNeverLeavesARecordOfAnotherFile) {
  Disk start;
  {
    MemoryFiles files(Disk{});
    ChangeStore store(files, [](const std::wstring&) {});
    std::wstring why;
    ASSERT_TRUE(store.Keep(Placed(L"a", L"\"old\""), why));
    start = files.disk();
  }
  for (size_t kill = 0; kill < 6; ++kill) {
    MemoryFiles files(start, kill);
    ChangeStore store(files, [](const std::wstring&) {});
    std::wstring why;
    store.Keep(Placed(L"a", L"\"new\""), why);
    MemoryFiles after(files.disk());
    ChangeStore reread(after, [](const std::wstring&) {});
    const auto found = reread.Find(L"C:\\Data\\a");
    ASSERT_TRUE(found) << kill;
    EXPECT_TRUE(found->etag == L"\"old\"" || found->etag == L"\"new\"") << kill;
  }
  Disk damaged = start;
  damaged["journal"] += "\x05\0\0\0garbage!";
  MemoryFiles files(damaged);
  std::vector<std::wstring> said;
  ChangeStore store(files, [&](const std::wstring& line) { said.push_back(line); });
  std::wstring why;
  ASSERT_TRUE(store.Keep(Placed(L"b", L"\"b\""), why)) << why;
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].rfind(L"Change records damaged at byte ", 0), 0u);
  EXPECT_EQ(Kept(files.disk(), kMaxChangeRecords), (std::set<std::wstring>{L"a", L"b"}));
}

}  // namespace
}  // namespace velmora
