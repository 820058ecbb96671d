// The durable queue as a requesting program meets it: an agent killed mid-transfer comes
// back with its persisted requests and without the others, its files hold no password nor
// token, a reply after the restart goes to the requester's own process only, and a journal
// that cannot be written refuses what it cannot keep.
#include <shlobj.h>
#include <commctrl.h>

#include "app/journal_rules.h"
#include "support/handles.h"
#include "ftp_e2e_support.h"

namespace ftp_e2e {
namespace {

void ClearJournalFolder() {
  const std::wstring folder = JournalFolder();
  SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(folder.c_str());  // a file standing in the folder's place
  for (const auto& name : FolderNames(folder)) DeleteFileW((folder + L"\\" + name).c_str());
}

uint64_t ProcessCreated() {
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

class Persist : public FtpAgent {
 protected:
  void SetUp() override {
    ClearJournalFolder();
    FtpAgent::SetUp();
  }
  void TearDown() override {
    FtpAgent::TearDown();
    ClearJournalFolder();
  }
  std::string Get(const std::string& ref, const std::string& url, const std::string& dest, bool persist) {
    return "GET Type=HTTP Reference=" + ref + " SourceFileName=" + url + " DestinationFileName=" + Dest(dest) +
           " ReplyOnFailure=1" + (persist ? " Persist=1" : "");
  }
  // The next "GOT" or "FAILED" after those already taken.
  std::optional<Reply> NextAnswer(DWORD ms = 30000) {
    std::optional<Reply> answer;
    WaitUntil(
        [&] {
          auto& all = requester_.Replies();
          for (; answered_ < all.size() && !answer; ++answered_)
            if (all[answered_].bytes.rfind("GOT ", 0) == 0 || all[answered_].bytes.rfind("FAILED ", 0) == 0)
              answer = all[answered_];
          return answer.has_value();
        },
        ms, 10);
    return answer;
  }
  // Every file of the agent's folder, searched for `secret` as ANSI and as UTF-16 bytes.
  void ExpectNowhereOnDisk(const std::string& secret) {
    EXPECT_FALSE(FolderNames(JournalFolder()).empty());
    ExpectNotIn(JournalFolder(), secret);
  }
  // Nowhere the agent writes: the journal, the log, the files beside the destinations (the
  // .rec among them), and every reply but the source echoed to its own requester.
  void ExpectNowhere(const std::string& secret) {
    ExpectNotIn(JournalFolder(), secret);
    ExpectNotIn(logs_, secret);
    ExpectNotIn(dest_, secret);
    for (const auto& reply : requester_.Replies()) {
      std::string text = reply.bytes;
      const std::string own = reply.Field("SourceFileName");
      if (text.rfind("STATUS ", 0) != 0 && !own.empty()) text.erase(text.find(own), own.size());
      EXPECT_EQ(text.find(secret), std::string::npos) << reply.bytes;
    }
  }
  static void ExpectNotIn(const std::wstring& folder, const std::string& secret) {
    std::string wide;
    for (char c : secret) wide += std::string(1, c) + '\0';
    for (const auto& name : FolderNames(folder)) {
      const std::string bytes = ReadFileBytes(folder + L"\\" + name);
      EXPECT_EQ(bytes.find(secret), std::string::npos) << Narrow(name) << " holds " << secret;
      EXPECT_EQ(bytes.find(wide), std::string::npos) << Narrow(name) << " holds " << secret;
    }
  }
  size_t answered_ = 0;
};

TEST_F(Persist, KilledAgentRunsThePersistedRequestsAgainAndNoOther) {
  // Six seconds of body, with a password in the URL and in the Password field.
  const std::string slow = Url("slow/120000?chunk=2000&delay=100");
  const std::string slowWithLogin = "http://walter:UrlSecret9@" + slow.substr(7);
  const std::string waiting = Url("gen/5000?waiting");
  const std::string plain = Url("gen/3000?plain");
  ASSERT_TRUE(Send(Get("A", slowWithLogin, "a.bin", true) + " Password=FieldSecret7"));
  ASSERT_FALSE(WaitLogged("Calling Download HTTP File http://walter:***@").empty());
  ASSERT_TRUE(Send(Get("B", waiting, "b.bin", true)));
  ASSERT_TRUE(Send(Get("C", plain, "c.bin", false)));
  ASSERT_TRUE(Settle(agent_.Window()));
  ExpectNowhereOnDisk("UrlSecret9");
  ExpectNowhereOnDisk("FieldSecret7");

  // No shut-down: the process ends mid-transfer.
  ASSERT_TRUE(TerminateProcess(agent_.Process(), 1));
  ASSERT_TRUE(agent_.WaitExit(10000));
  Agent restarted;
  ASSERT_TRUE(restarted.Start(L"/DEBUG=MAX"));

  // Both persisted requests, in their order, answered to this same requester.
  auto got = NextAnswer();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->Field("Reference"), "A") << got->bytes;
  EXPECT_EQ(got->bytes.rfind("GOT ", 0), 0u) << got->bytes;
  got = NextAnswer();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->Field("Reference"), "B") << got->bytes;
  EXPECT_TRUE(ReadFileBytes(dest_ + L"\\a.bin") == Generated(120000));
  EXPECT_TRUE(ReadFileBytes(dest_ + L"\\b.bin") == Generated(5000));
  // The one that did not ask to persist is gone with the agent's memory.
  ASSERT_TRUE(WaitCount("Finish frmVelmoraSkytrove:tmrDownloadFiles_Timer", 2));
  EXPECT_EQ(CountLogged("Calling Download HTTP File " + plain), 0u);
  EXPECT_FALSE(FileExists(dest_ + L"\\c.bin"));
  ExpectNowhereOnDisk("UrlSecret9");
  ExpectNowhereOnDisk("FieldSecret7");
  // Nothing left to do: the journal is back to its header.
  EXPECT_EQ(ReadFileBytes(JournalFolder() + L"\\queue.journal"), velmora::JournalHeader());
  restarted.Stop();
}

namespace {
// Every text the window shows: its controls' and the status bar's, which another process
// reads only through memory of the window's own process.
std::vector<std::wstring> WindowTexts(HWND top) {
  std::vector<HWND> children;
  auto collect = [](HWND child, LPARAM all) -> BOOL {
    reinterpret_cast<std::vector<HWND>*>(all)->push_back(child);
    return TRUE;
  };
  EnumChildWindows(top, collect, reinterpret_cast<LPARAM>(&children));
  std::vector<std::wstring> out;
  std::vector<wchar_t> text(65536);
  for (HWND child : children) {
    wchar_t kind[64] = {};
    GetClassNameW(child, kind, 64);
    if (std::wstring(kind) != STATUSCLASSNAMEW) {
      const LRESULT n = SendMessageW(child, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
      out.emplace_back(text.data(), n > 0 ? static_cast<size_t>(n) : 0);
      continue;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(child, &pid);
    velmora::UniqueHandle process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ, FALSE, pid));
    void* remote = process ? VirtualAllocEx(process.get(), nullptr, text.size() * 2, MEM_COMMIT, PAGE_READWRITE) : nullptr;
    if (remote == nullptr) continue;
    SendMessageW(child, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(remote));
    SIZE_T read = 0;
    text[0] = 0;
    ReadProcessMemory(process.get(), remote, text.data(), (text.size() - 1) * 2, &read);
    text.back() = 0;
    out.emplace_back(text.data());
    VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
  }
  return out;
}
}  // namespace

// A presigned URL's signature and a token, as a query parameter and as a user name, are a
// requester's secrets like a password: no file the agent writes holds them (a cut leaves a
// .rec, persisting a journal), nor its window or a STATUS; after a kill the request still
// runs with the URL as it was given.
TEST_F(Persist, PresignedAndTokenUrlsKeepTheirSecrets) {
  const std::vector<std::string> secrets = {"SECRETSIG1", "SECRETTOK2", "SECRETUSER3"};
  const std::string signed_ = "http://SECRETUSER3@" + Url("ranged/60000?key=presigned" + std::to_string(GetTickCount64()) +
                                                    "&cut=20000&X-Amz-Signature=SECRETSIG1&token=SECRETTOK2")
                                                    .substr(7);
  ASSERT_TRUE(Send(Get("P", signed_, "p.bin", true) + " Retries=1"));
  ASSERT_FALSE(WaitLogged("Retrying in ").empty());
  ASSERT_TRUE(TerminateProcess(agent_.Process(), 1));
  ASSERT_TRUE(agent_.WaitExit(10000));
  EXPECT_TRUE(FileExists(dest_ + L"\\p.bin.vskpart.rec"));
  EXPECT_FALSE(WaitLogged("Calling Download HTTP File http://***@", 0).empty());
  for (const auto& secret : secrets) ExpectNowhere(secret);

  Agent restarted;
  ASSERT_TRUE(restarted.Start(L"/DEBUG=MAX"));
  auto got = NextAnswer();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->bytes.rfind("GOT ", 0), 0u) << got->bytes;
  EXPECT_EQ(got->Field("SourceFileName"), signed_);  // the requester's own, unmasked
  EXPECT_TRUE(ReadFileBytes(dest_ + L"\\p.bin") == Generated(60000));

  // While one waits for its server: the window (the status bar names the URL then) and
  // STATUS.
  const std::string hang = Url("hang?ms=6000&X-Amz-Signature=SECRETSIG1&token=SECRETTOK2");
  ASSERT_TRUE(requester_.Send(restarted.Window(), Get("S", hang, "s.bin", false)));
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (const auto& text : WindowTexts(restarted.Window()))
          if (text.rfind(L" Downloading File - ", 0) == 0) return true;
        return false;
      },
      20000, 20));
  for (const auto& text : WindowTexts(restarted.Window()))
    for (const auto& secret : secrets) EXPECT_EQ(Narrow(text).find(secret), std::string::npos) << Narrow(text);
  ASSERT_TRUE(requester_.Send(restarted.Window(), "STATUS Reference=S"));
  ASSERT_TRUE(WaitUntil(
      [&] { return !requester_.Replies().empty() && requester_.Replies().back().bytes.rfind("STATUS ", 0) == 0; },
      15000, 10));
  EXPECT_NE(requester_.Replies().back().bytes.find("X-Amz-Signature=***&token=***"), std::string::npos)
      << requester_.Replies().back().bytes;
  auto failed = NextAnswer();
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->Field("Reference"), "S");
  restarted.Stop();
  for (const auto& secret : secrets) ExpectNowhere(secret);
}

TEST_F(Persist, AfterARestartOnlyTheSameRequesterProcessHearsOfItsRequest) {
  // A persisted request runs though its requester has gone (here before its turn came).
  const std::string first = Url("slow/40000?chunk=2000&delay=100");
  ASSERT_TRUE(Send(Get("A", first, "a.bin", false)));
  ASSERT_FALSE(WaitLogged("Calling Download HTTP File " + first).empty());
  const std::string orphan = Url("gen/4000?orphan");
  const std::wstring args = L"--persist --timeout 0.2 Type=HTTP Reference=O SourceFileName=" +
                            std::wstring(orphan.begin(), orphan.end()) + L" DestinationFileName=" + dest_ +
                            L"\\orphan.bin";
  // Starts skytrove-request, its output into `out`; its process (null when it did not start).
  auto launch = [&](const std::wstring& arguments, const std::wstring& out) -> HANDLE {
    std::wstring command = L"\"" + WinPath(Narrow(Env("VELMORA_BIN"))) + L"\\skytrove-request.exe\" " + arguments;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    velmora::UniqueFile output(CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = output.get();
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
  };
  // Runs it to its end; its exit code.
  auto tool = [&](const std::wstring& arguments, const std::wstring& out) -> DWORD {
    velmora::UniqueHandle process(launch(arguments, out));
    if (!process) return 99;
    DWORD code = 98;
    EXPECT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    GetExitCodeProcess(process.get(), &code);
    return code;
  };
  EXPECT_EQ(tool(args, dest_ + L"\\tool-get.txt"), 1u);  // gone without a reply
  ASSERT_FALSE(WaitLogged("Calling Download HTTP File " + orphan).empty());
  ASSERT_TRUE(WaitCount("Finish frmVelmoraSkytrove:tmrDownloadFiles_Timer", 2));
  EXPECT_TRUE(ReadFileBytes(dest_ + L"\\orphan.bin") == Generated(4000));
  EXPECT_EQ(CountLogged("Parent lost"), 0u);
  // A later run of the same program learns how it ended; this test program, another one,
  // does not.
  EXPECT_EQ(tool(L"--timeout 10 --status O", dest_ + L"\\tool-status.txt"), 0u);
  std::string told = ReadFileBytes(dest_ + L"\\tool-status.txt");
  EXPECT_EQ(told.rfind("STATUS Type=HTTP Reference=O SourceFileName=" + orphan, 0), 0u) << told;
  EXPECT_NE(told.find(" State=done "), std::string::npos) << told;
  ASSERT_TRUE(requester_.Send(agent_.Window(), "STATUS Reference=O"));
  auto unknown = requester_.WaitReply(15000);
  for (; unknown && unknown->bytes.rfind("STATUS ", 0) != 0; unknown = requester_.WaitReply(15000)) {
  }
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->bytes, "STATUS Reference=O State=unknown");
  // While the run that persisted a request lives, another run of the program is not told of
  // it; once it has gone, it is, and never with the source's password.
  const std::string held = "http://walter:HeldSecret9@" + Url("slow/400000?chunk=2000&delay=100&held").substr(7);
  velmora::UniqueHandle owner(launch(L"--persist --timeout 60 Type=HTTP Reference=H SourceFileName=" +
                                         std::wstring(held.begin(), held.end()) + L" DestinationFileName=" + dest_ +
                                         L"\\held.bin",
                                     dest_ + L"\\tool-held.txt"));
  ASSERT_TRUE(owner);
  ASSERT_FALSE(WaitLogged("Calling Download HTTP File http://walter:***@").empty());
  EXPECT_EQ(tool(L"--timeout 10 --status H", dest_ + L"\\tool-other.txt"), 0u);
  told = ReadFileBytes(dest_ + L"\\tool-other.txt");
  EXPECT_NE(told.find("STATUS Reference=H State=unknown"), std::string::npos) << told;
  TerminateProcess(owner.get(), 1);
  ASSERT_EQ(WaitForSingleObject(owner.get(), 10000), WAIT_OBJECT_0);
  EXPECT_EQ(tool(L"--timeout 10 --status H", dest_ + L"\\tool-later.txt"), 0u);
  told = ReadFileBytes(dest_ + L"\\tool-later.txt");
  EXPECT_NE(told.find(" State=running "), std::string::npos) << told;
  EXPECT_NE(told.find("walter:***@"), std::string::npos) << told;
  EXPECT_EQ(told.find("HeldSecret9"), std::string::npos) << told;
  ASSERT_TRUE(agent_.Stop());

  // A journal left by a run in which this window was another process's (same id, another
  // start), then one of this process's own, then a record cut short.
  auto record = [&](uint64_t id, const std::string& ref, const std::string& url, uint64_t created) {
    velmora::DownloadRequest r;
    r.Type = L"HTTP";
    r.Reference = std::wstring(ref.begin(), ref.end());
    r.SourceFileName = std::wstring(url.begin(), url.end());
    r.DestinationFileName = dest_ + L"\\" + r.Reference + L".bin";
    r.ParentHWnd = static_cast<int32_t>(reinterpret_cast<intptr_t>(requester_.Window()));
    r.ReplyOnFailure = true;
    r.RequesterProcessId = GetCurrentProcessId();
    r.RequesterProcessCreated = created;
    return velmora::JournalRecord(*velmora::AddBody(id, r, nullptr));
  };
  const std::string foreign = Url("gen/2000?foreign");
  const std::string own = Url("gen/2500?own");
  ASSERT_TRUE(WriteFileBytes(JournalFolder() + L"\\queue.journal",
                             velmora::JournalHeader() + record(1, "F", foreign, ProcessCreated() - 10000000) +
                                 record(2, "S", own, ProcessCreated()) +
                                 record(3, "X", Url("gen/10?cut"), ProcessCreated()).substr(0, 30)));
  answered_ = requester_.Replies().size();
  Agent restarted;
  ASSERT_TRUE(restarted.Start(L"/DEBUG=MAX"));
  auto got = NextAnswer();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->Field("Reference"), "S") << got->bytes;
  ASSERT_TRUE(WaitCount("Finish frmVelmoraSkytrove:tmrDownloadFiles_Timer", 4));
  EXPECT_TRUE(ReadFileBytes(dest_ + L"\\F.bin") == Generated(2000));  // it ran, unanswered
  EXPECT_TRUE(Logged("Reply to requesting application (" +
                     std::to_string(reinterpret_cast<intptr_t>(requester_.Window())) +
                     ") not sent - the window is not the requester's since the restart"));
  // The damaged journal was read as far as it was whole and moved aside beside the new one.
  EXPECT_FALSE(WaitLogged("Journal damaged - a record cut short at byte ").empty());
  EXPECT_EQ(CountLogged("Calling Download HTTP File " + Url("gen/10?cut")), 0u);
  size_t aside = 0;
  for (const auto& name : FolderNames(JournalFolder())) aside += name.find(L".damaged") != std::wstring::npos;
  EXPECT_EQ(aside, 1u);
  // Nor does STATUS tell this window about it.
  ASSERT_TRUE(requester_.Send(restarted.Window(), "STATUS Reference=F"));
  auto status = requester_.WaitReply(15000);
  for (; status && status->bytes.rfind("STATUS ", 0) != 0; status = requester_.WaitReply(15000)) {
  }
  ASSERT_TRUE(status);
  EXPECT_EQ(status->bytes, "STATUS Reference=F State=unknown");
  restarted.Stop();
}

TEST_F(Persist, AJournalThatCannotBeWrittenRefusesWhatItCannotKeep) {
  ASSERT_TRUE(agent_.Stop());
  ClearJournalFolder();
  RemoveDirectoryW(JournalFolder().c_str());
  ASSERT_TRUE(WriteFileBytes(JournalFolder(), "not a folder"));
  Agent blocked;
  ASSERT_TRUE(blocked.Start(L"/DEBUG=MAX"));
  EXPECT_FALSE(WaitLogged("Journal folder cannot be made - ").empty());
  ASSERT_TRUE(requester_.Send(blocked.Window(), Get("K", Url("gen/1000?kept"), "k.bin", true)));
  auto refused = NextAnswer();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->bytes.rfind("FAILED ", 0), 0u) << refused->bytes;
  EXPECT_EQ(refused->Field("Reason").rfind("the request cannot be kept on disk - ", 0), 0u) << refused->bytes;
  // What did not ask to persist is not held back.
  ASSERT_TRUE(requester_.Send(blocked.Window(), Get("N", Url("gen/1000?plain"), "n.bin", false)));
  auto got = NextAnswer();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->bytes.rfind("GOT ", 0), 0u) << got->bytes;
  // Once the folder can be made the journal starts afresh.
  SetFileAttributesW(JournalFolder().c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(DeleteFileW(JournalFolder().c_str()));
  ASSERT_TRUE(requester_.Send(blocked.Window(), Get("K", Url("gen/1000?kept"), "k.bin", true)));
  got = NextAnswer();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->bytes.rfind("GOT ", 0), 0u) << got->bytes;
  blocked.Stop();
}

}  // namespace
}  // namespace ftp_e2e

namespace ftp_e2e {
namespace {

// What the requester's reply handler does while the agent waits for it: its own change to
// the file, then the agent killed before the handler returns.
struct KillInReply {
  const char* on = "GOT ";
  HANDLE agent = nullptr;
  std::wstring file;
  static void Handle(Requester& self, const Reply& reply) {
    auto& k = *static_cast<KillInReply*>(self.context);
    if (k.agent == nullptr || reply.bytes.rfind(k.on, 0) != 0) return;
    if (!k.file.empty()) WriteFileBytes(k.file, "changed by the requester");
    TerminateProcess(k.agent, 1);
    WaitForSingleObject(k.agent, 10000);
    k.agent = nullptr;
  }
};

// A request ends before its reply goes: a kill while the requester handles its GOT, or the
// FAILED of a cancel, leaves nothing to run again.
TEST_F(Persist, AnAnsweredOrCancelledRequestIsNotRunAgainAfterAKill) {
  const std::string done = Url("gen/4000?answered");
  const std::string slow = Url("slow/400000?chunk=2000&delay=100&cancelled");
  for (int round = 0; round < 2; ++round) {
    Agent restarted;
    Agent& agent = round == 0 ? agent_ : restarted;
    if (round == 1) {
      ASSERT_TRUE(restarted.Start(L"/DEBUG=MAX"));
    }
    KillInReply kill;
    kill.agent = agent.Process();
    requester_.context = &kill;
    requester_.onReply = &KillInReply::Handle;
    if (round == 0) {
      kill.file = dest_ + L"\\done.bin";
      ASSERT_TRUE(requester_.Send(agent.Window(), Get("D", done, "done.bin", true)));
    } else {
      kill.on = "FAILED ";
      ASSERT_TRUE(requester_.Send(agent.Window(), Get("X", slow, "x.bin", true)));
      ASSERT_FALSE(WaitLogged("Calling Download HTTP File " + slow).empty());
      ASSERT_TRUE(requester_.Send(agent.Window(), "CANCEL Reference=X"));
    }
    ASSERT_TRUE(agent.WaitExit(30000));
    requester_.onReply = nullptr;
  }
  Agent last;
  ASSERT_TRUE(last.Start(L"/DEBUG=MAX"));
  ASSERT_TRUE(requester_.Send(last.Window(), Get("N", Url("gen/1000?after-kills"), "n.bin", false)));
  std::optional<Reply> answer;
  while ((answer = NextAnswer()) && answer->Field("Reference") != "N") {
  }
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->bytes.rfind("GOT ", 0), 0u) << answer->bytes;
  EXPECT_EQ(CountLogged("Calling Download HTTP File " + done), 1u);
  EXPECT_EQ(CountLogged("Calling Download HTTP File " + slow), 1u);
  EXPECT_EQ(ReadFileBytes(dest_ + L"\\done.bin"), "changed by the requester");
  EXPECT_FALSE(FileExists(dest_ + L"\\x.bin"));
  EXPECT_FALSE(FileExists(dest_ + L"\\x.bin.vskpart"));
  last.Stop();
}

}  // namespace
}  // namespace ftp_e2e
