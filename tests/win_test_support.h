// What the Windows tests share: paths between Wine and Linux, files, the registry, the
// agent as a process, a requesting window, and answering message boxes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "skytrove/client.h"

namespace testing_support {

std::wstring Env(const char* name);
// A Linux path as Windows programs under Wine see it (Z:\...).
std::wstring WinPath(const std::string& unixPath);
// A folder under the peers' data folder (created), as a Windows path.
std::wstring PeerData(const std::wstring& sub);
// A fresh, empty folder for one test, as a Windows path.
std::wstring FreshFolder(const std::wstring& name);
std::wstring AgentPath();

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
// The names in a folder (files and folders, without "." and "..").
std::vector<std::wstring> FolderNames(const std::wstring& folder);
std::string Generated(size_t n, size_t offset = 0);  // the web peer's /gen pattern
// Makes a file under Z:\ another user's: under Wine a file's owner is its Linux owner, so
// Linux's chown (which Wine starts as the Linux program it is) gives it to "nobody". True
// when the file's owner is no longer this process's user.
bool GiveToAnotherUser(const std::wstring& path);

void SetMachineString(const std::wstring& key, const std::wstring& name, const std::wstring& value);
// HKEY_LOCAL_MACHINE unless another root is given.
void SetMachineNumber(const std::wstring& key, const std::wstring& name, int32_t value,
                      HKEY root = HKEY_LOCAL_MACHINE);
void DeleteMachineValue(const std::wstring& key, const std::wstring& name, HKEY root = HKEY_LOCAL_MACHINE);
std::optional<int32_t> ReadMachineNumber(const std::wstring& key, const std::wstring& name,
                                         HKEY root = HKEY_LOCAL_MACHINE);

// Top-level window of `className` (may be null) and `title`, waiting up to `ms`.
HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD ms);
// The text of a message box (its Static child).
std::wstring MessageBoxText(HWND box);
// Presses a button of a dialog (IDOK 1, IDYES 6, IDNO 7) and waits for the dialog to close.
void PressButton(HWND dialog, int id);
// Runs this thread's messages until `done` holds, for at most `ms` (false then). `done` is
// asked again after each message and every `everyMs`, or at once when `wake` is signalled.
bool WaitUntil(const std::function<bool()>& done, DWORD ms, DWORD everyMs = 20, HANDLE wake = nullptr);
// Runs this thread's messages for `ms`.
void Pump(DWORD ms);
// Returns once `window`'s thread reads its messages again (a WM_NULL round trip): the
// handler it was running has returned. False after `ms`.
bool Settle(HWND window, DWORD ms = 10000);

// All lines of the debug logs in `folder`, in file-name order.
std::vector<std::string> ReadLogLines(const std::wstring& folder);
// The text of a log line after its time stamp, memory figures and indentation.
std::string LogText(const std::string& line);
bool LogContains(const std::vector<std::string>& lines, const std::string& text);
// Waits up to `ms`, running this thread's messages, until the logs in `folder` hold a line
// whose text is `text` (at least `count` of them). Woken by changes in the folder.
bool WaitLogged(const std::wstring& folder, const std::string& text, DWORD ms, size_t count = 1);

// The agent as a child process. Logs go to `logFolder` ("DebugPath"), level from args.
class Agent {
 public:
  Agent() = default;
  ~Agent();
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;
  bool Start(const std::wstring& arguments, DWORD waitForWindowMs = 10000);
  HWND Window() const { return window_; }
  HANDLE Process() const { return process_; }
  // Asks the agent to end the way a task manager does (no question) and waits.
  bool Stop(DWORD ms = 10000);
  bool WaitExit(DWORD ms);
  bool Running() const;

 private:
  bool StartOnce(const std::wstring& arguments, DWORD waitForWindowMs);
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND window_ = nullptr;
};

// The agent's main window (class frmVelmoraSkytrove, title "Velmora Skytrove v4").
HWND FindAgentWindow(DWORD ms);

struct Reply {
  ULONG_PTR code = 0;
  std::string bytes;  // exactly cbData bytes
  HWND sender = nullptr;
  std::string Field(const std::string& key) const;
};

// A requesting application's window (the client library's): sends requests, collects
// replies.
class Requester {
 public:
  Requester();
  ~Requester();
  Requester(const Requester&) = delete;
  Requester& operator=(const Requester&) = delete;
  HWND Window() const { return SkytroveWindow(client_); }
  bool Send(HWND agent, const std::string& text, ULONG_PTR code = 4);
  bool SendBytes(HWND agent, const void* data, DWORD size, ULONG_PTR code);
  // Waits (pumping messages) for the next reply.
  std::optional<Reply> WaitReply(DWORD ms);
  std::vector<Reply>& Replies() { return replies_; }
  // Called inside the handling of every reply, before the handler returns.
  void (*onReply)(Requester& self, const Reply& reply) = nullptr;
  void* context = nullptr;
  void Destroy();

 private:
  static void Received(void* self, const SkytroveReply* reply);
  SkytroveClient* client_ = nullptr;
  std::vector<Reply> replies_;
  size_t taken_ = 0;
};

}  // namespace testing_support
