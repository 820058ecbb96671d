#include "inet/upload_rules.h"
#include "support/server_reply.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace velmora {
namespace {

TEST(UploadRules, ResultTexts) {
  const std::vector<std::pair<int32_t, std::wstring>> cases = {
      {0, L"Upload Successful"},
      {1, L"No Internet Connection"},
      {2, L"Unable to connect to server"},
      {3, L"Unable to write destination file"},
      {4, L"Unable to read source file"},
      {5, L"The user cancelled the operation"},
      {6, L""},
      {-1, L""},
      {INT32_MIN, L""},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(GetUploadResultDescription(code), text) << code;
}

TEST(UploadRules, PercentRoundsHalfToEvenAndHasNoThirtyTwoBitLimit) {
  struct Case {
    int64_t sent, total;
    int16_t percent;
  };
  const int64_t big = 5LL << 30;  // 5 GiB
  const std::vector<Case> cases = {
      {2048, 2048, 100}, {0, 100, 0},     {1, 200, 0},  // 0.5 -> 0
      {3, 200, 2},       {5, 200, 2},     {7, 200, 4},  // 1.5 -> 2, 2.5 -> 2, 3.5 -> 4
      {2048, 4096, 50},  {big / 2, big, 50}, {big, big, 100}, {big - 1, big, 100},
      {2048, 0, 0},      {10, 5, 100},
  };
  for (const auto& c : cases) EXPECT_EQ(UploadPercent(c.sent, c.total), c.percent) << c.sent << "/" << c.total;
}

TEST(UploadRules, DestinationAndTemporaryUploadName) {
  struct Case {
    std::wstring destination, server, remote;
  };
  const std::vector<Case> cases = {
      {L"127.0.0.3/a/b.txt", L"127.0.0.3", L"a/b.txt"},
      {L"host/b.txt", L"host", L"b.txt"},
      {L"host", L"host", L""},
      {L"host/", L"host", L""},
      {L"host//abs.txt", L"host", L"/abs.txt"},
  };
  for (const auto& c : cases) {
    const FtpDestination d = SplitDestination(c.destination);
    EXPECT_EQ(d.server, c.server);
    EXPECT_EQ(d.remoteName, c.remote);
  }
  EXPECT_EQ(TemporaryUploadName(L"a/b/c.txt", L"VEL1.txt"), L"a/b/VEL1.txt");
  EXPECT_EQ(TemporaryUploadName(L"/c.txt", L"VEL1.txt"), L"/VEL1.txt");
  // No folder: beside the destination in the login folder, not in the server's root.
  EXPECT_EQ(TemporaryUploadName(L"c.txt", L"VEL1.txt"), L"VEL1.txt");
}

// The final reply decides an upload: a refusal hidden behind a multi-line reply or after
// an earlier positive one must not read as success.
TEST(UploadRules, LastReplyCodeOfAResponse) {
  EXPECT_EQ(LastReplyCode("226 Transfer complete."), 226);
  EXPECT_EQ(LastReplyCode("150 Opening.\r\n451 Local error.\r\n"), 451);
  EXPECT_EQ(LastReplyCode("552-Quota\r\n 226 is not a reply\r\n552 exceeded"), 552);
  EXPECT_EQ(LastReplyCode("451-first line\n226-looks like a code\n451"), 451);
  EXPECT_EQ(LastReplyCode(""), 0);
  EXPECT_EQ(LastReplyCode("no code here\r\n22 short"), 0);
  EXPECT_EQ(BackupName(L"a/x.bin", 0), L"a/x.bin.old");
  EXPECT_EQ(BackupName(L"a/x.bin", 2), L"a/x.bin.old2");
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// A server in memory: file name -> content ("<folder>" for a folder), with the refusals
// real servers make.
struct FakeServer final : RemoteFiles {
  std::map<std::wstring, std::wstring> files;
  bool overwrites = true;       // a rename onto an existing file replaces it
  bool deletes = true;          // DELE is allowed
  bool places = true;           // the upload may be renamed onto the destination
  bool restores = true;         // a backup may be renamed back
  std::vector<std::wstring> notes;

  RemoteEntry Find(const std::wstring& name) override {
    const auto f = files.find(name);
    if (f == files.end()) return {};
    if (f->second == L"<folder>") return {RemoteEntry::kFolder, -1};
    return {RemoteEntry::kFile, static_cast<int64_t>(f->second.size())};
  }
  bool Rename(const std::wstring& from, const std::wstring& to) override {
    const auto f = files.find(from);
    if (f == files.end() || (!places && from == L"up" && to == L"d/x") ||
        (!restores && from.rfind(L"d/x.old", 0) == 0))
      return false;
    if (files.count(to) && (files[to] == L"<folder>" || !overwrites)) return false;
    files[to] = f->second;
    files.erase(from);
    return true;
  }
  bool Remove(const std::wstring& name) override { return deletes && files.erase(name) == 1; }
  void Note(const std::wstring& text) override { notes.push_back(text); }
};

TEST(UploadRules, PuttingAnUploadInPlace) {
  using Files = std::map<std::wstring, std::wstring>;
  Files othersBackups;
  for (int i = 0; i < 10; ++i) othersBackups[BackupName(L"d/x", i)] = L"others";
  struct Case {
    const char* what;
    Files before;
    bool overwrites, deletes, places, restores;
    int32_t result;
    Files after;
    std::vector<std::wstring> noted;  // names the log must carry
  };
  auto with = [](Files files, std::initializer_list<std::pair<const std::wstring, std::wstring>> more) {
    for (const auto& m : more) files[m.first] = m.second;
    return files;
  };
  const std::vector<Case> cases = {
      {"one rename, no backup", {{L"d/x", L"old"}, {L"d/x.old", L"others"}}, true, false, true, true, 0,
       {{L"d/x", L"new"}, {L"d/x.old", L"others"}}, {}},
      {"a new file", {}, false, false, true, true, 0, {{L"d/x", L"new"}}, {}},
      {"moved aside and deleted", {{L"d/x", L"old"}, {L"d/x.old", L"others"}}, false, true, true, true, 0,
       {{L"d/x", L"new"}, {L"d/x.old", L"others"}}, {}},
      {"backup kept when DELE is refused", {{L"d/x", L"old"}}, false, false, true, true, 0,
       {{L"d/x", L"new"}, {L"d/x.old", L"old"}}, {L"d/x.old"}},
      {"every backup name taken", with(othersBackups, {{L"d/x", L"old"}}), false, true, true, true, 3,
       with(othersBackups, {{L"d/x", L"old"}}), {}},
      {"every name taken, DELE refused", with(othersBackups, {{L"d/x", L"old"}}), false, false, true, true, 3,
       with(othersBackups, {{L"d/x", L"old"}, {L"up", L"new"}}), {L"up"}},
      {"restored before the upload goes", {{L"d/x", L"old"}}, false, true, false, true, 3, {{L"d/x", L"old"}}, {}},
      {"restore refused: both stay", {{L"d/x", L"old"}}, false, true, false, false, 3,
       {{L"d/x.old", L"old"}, {L"up", L"new"}}, {L"d/x.old", L"up"}},
      {"a folder is never moved aside", {{L"d/x", L"<folder>"}}, false, true, true, true, 3,
       {{L"d/x", L"<folder>"}}, {}},
  };
  for (const auto& c : cases) {
    FakeServer server;
    server.files = c.before;
    server.files[L"up"] = L"new";
    server.overwrites = c.overwrites;
    server.deletes = c.deletes;
    server.places = c.places;
    server.restores = c.restores;
    EXPECT_EQ(PutUploadInPlace(server, L"up", L"d/x", 3), c.result) << c.what;
    EXPECT_EQ(server.files, c.after) << c.what;
    ASSERT_EQ(server.notes.size(), c.noted.empty() ? 0u : 1u) << c.what;
    for (const auto& name : c.noted)
      EXPECT_NE(server.notes[0].find(L"\"" + name + L"\""), std::wstring::npos) << c.what;
  }
  // An upload that does not list whole is deleted and the destination left alone.
  FakeServer server;
  server.files = {{L"d/x", L"old"}, {L"up", L"ne"}};
  EXPECT_EQ(PutUploadInPlace(server, L"up", L"d/x", 3), kUnableToWriteDestination);
  EXPECT_EQ(server.files, (Files{{L"d/x", L"old"}}));
}

// Servers answer a listing of a folder with the folder or with what it holds.
TEST(UploadRules, WhatAListingShows) {
  EXPECT_EQ(ListedEntry(L"a/x.bin", L"x.bin", false, 5).kind, RemoteEntry::kFile);
  EXPECT_EQ(ListedEntry(L"a/x.bin", L"a/x.bin", false, 5).size, 5);
  EXPECT_EQ(ListedEntry(L"x.bin", L"X.BIN", false, 5).kind, RemoteEntry::kFile);
  EXPECT_EQ(ListedEntry(L"a/x", L"x", true, 0).kind, RemoteEntry::kFolder);
  EXPECT_EQ(ListedEntry(L"a/x", L"inside.txt", false, 7).kind, RemoteEntry::kFolder);
}

}  // namespace
}  // namespace velmora
