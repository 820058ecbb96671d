#include "win_test_support.h"

#include <aclapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/text.h"

namespace testing_support {

std::wstring Env(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr) return std::wstring();
  std::string s(v);
  return std::wstring(s.begin(), s.end());
}

std::wstring WinPath(const std::string& unixPath) {
  std::wstring out = L"Z:";
  for (char c : unixPath) out += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

static std::wstring UnixToWin(const std::wstring& unixPath) {
  std::wstring out = L"Z:";
  for (wchar_t c : unixPath) out += c == L'/' ? L'\\' : c;
  return out;
}

static void MakeFolders(const std::wstring& path) {
  for (size_t i = 3; i <= path.size(); ++i)
    if (i == path.size() || path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}

std::wstring PeerData(const std::wstring& sub) {
  std::wstring base = Env("VELMORA_PEER_DATA");
  std::wstring path = UnixToWin(base) + L"\\" + sub;
  MakeFolders(path);
  return path;
}

static void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(path.c_str());
}

std::wstring FreshFolder(const std::wstring& name) {
  std::wstring path = PeerData(L"scratch\\" + name);
  RemoveTree(path);
  MakeFolders(path);
  return path;
}

std::wstring AgentPath() { return UnixToWin(Env("VELMORA_BIN")) + L"\\VelmoraSkytrove4.exe"; }

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  std::string out;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  CloseHandle(h);
  return out;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(h);
  return ok;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> FolderNames(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring n = fd.cFileName;
    if (n != L"." && n != L"..") names.push_back(n);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return names;
}

std::string Generated(size_t n, size_t offset) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>((i + offset) % 251);
  return out;
}

static bool OwnedByThisUser(const std::wstring& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS)
    return true;
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  char user[256] = {};
  DWORD size = 0;
  const bool mine = token != nullptr && GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                    EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
  if (token != nullptr) CloseHandle(token);
  LocalFree(descriptor);
  return mine;
}

// A Linux program's process handle is signalled at once under Wine: the owner says when
// chown is done.
bool GiveToAnotherUser(const std::wstring& path) {
  if (path.size() < 3 || (path[0] != L'Z' && path[0] != L'z') || path[1] != L':') return false;
  std::wstring command = L"/bin/chown 65534 \"";
  for (wchar_t c : path.substr(2)) command += c == L'\\' ? L'/' : c;
  command += L'"';
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(L"Z:\\bin\\chown", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return WaitUntil([&] { return !OwnedByThisUser(path); }, 10000);
}

void SetMachineString(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  HKEY k = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != 0) return;
  RegSetValueExW(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
}

void SetMachineNumber(const std::wstring& key, const std::wstring& name, int32_t value, HKEY root) {
  HKEY k = nullptr;
  if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != 0) return;
  RegSetValueExW(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(k);
}

void DeleteMachineValue(const std::wstring& key, const std::wstring& name, HKEY root) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &k) != 0) return;
  RegDeleteValueW(k, name.c_str());
  RegCloseKey(k);
}

std::optional<int32_t> ReadMachineNumber(const std::wstring& key, const std::wstring& name, HKEY root) {
  DWORD value = 0, size = sizeof value, type = 0;
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) != 0) return std::nullopt;
  const LONG r = RegQueryValueExW(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(k);
  if (r != 0 || type != REG_DWORD) return std::nullopt;
  return static_cast<int32_t>(value);
}

bool Settle(HWND window, DWORD ms) {
  // A sent message is handled only where the thread reads its messages again: once the
  // handler that was running (a question just answered, start-up) has returned.
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, ms, &result) != 0;
}

static void RunMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

bool WaitUntil(const std::function<bool()>& done, DWORD ms, DWORD everyMs, HANDLE wake) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    // A message (a reply is a sent one) ends the wait at once; the bound is for what no
    // message announces: a log line, a file, another process's window.
    const DWORD wait = static_cast<DWORD>(std::min<ULONGLONG>(end - now, everyMs));
    MsgWaitForMultipleObjects(wake != nullptr ? 1 : 0, wake != nullptr ? &wake : nullptr, FALSE, wait, QS_ALLINPUT);
    RunMessages();
  }
}

void Pump(DWORD ms) {
  RunMessages();
  WaitUntil([] { return false; }, ms);
}

HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD ms) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindWindowW(className, title)) != nullptr; }, ms);
  return found;
}

static BOOL CALLBACK FindStatic(HWND child, LPARAM out) {
  wchar_t cls[32] = {};
  GetClassNameW(child, cls, 32);
  if (_wcsicmp(cls, L"Static") == 0) {
    wchar_t text[1024] = {};
    GetWindowTextW(child, text, 1024);
    if (text[0] != 0) {
      *reinterpret_cast<std::wstring*>(out) = text;
      return FALSE;
    }
  }
  return TRUE;
}

std::wstring MessageBoxText(HWND box) {
  std::wstring text;
  EnumChildWindows(box, FindStatic, reinterpret_cast<LPARAM>(&text));
  return text;
}

// Waits for the dialog to go, so that a caller looking for the next one never finds
// this one again.
void PressButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (button == nullptr) return;
  PostMessageW(button, BM_CLICK, 0, 0);
  WaitUntil([dialog] { return !IsWindow(dialog); }, 5000, 10);
}

std::vector<std::string> ReadLogLines(const std::wstring& folder) {
  std::vector<std::wstring> files;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((folder + L"\\*.log").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do files.push_back(fd.cFileName);
    while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> lines;
  for (const auto& f : files) {
    const std::string text = ReadFileBytes(folder + L"\\" + f);
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(pos, end - pos));
      pos = end + 2;
    }
  }
  return lines;
}

// "hh:mm:ss.cc" then, at level 10, two 10-character figures, then indentation and one space.
std::string LogText(const std::string& line) {
  size_t pos = 11;
  if (line.size() > 33 && line[11] == ' ' && line[22] == ' ' && line[32] != ' ' ) pos = 33;
  while (pos < line.size() && line[pos] == ' ') ++pos;
  return pos < line.size() ? line.substr(pos) : std::string();
}

bool LogContains(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& l : lines)
    if (LogText(l) == text) return true;
  return false;
}

bool WaitLogged(const std::wstring& folder, const std::string& text, DWORD ms, size_t count) {
  HANDLE change = FindFirstChangeNotificationW(folder.c_str(), FALSE,
                                               FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE |
                                                   FILE_NOTIFY_CHANGE_FILE_NAME);
  if (change == INVALID_HANDLE_VALUE) change = nullptr;
  auto enough = [&] {
    // Asked for the next change before reading: one written while the lines are read
    // still wakes the wait.
    if (change != nullptr && WaitForSingleObject(change, 0) == WAIT_OBJECT_0) FindNextChangeNotification(change);
    size_t found = 0;
    for (const auto& l : ReadLogLines(folder))
      if (LogText(l) == text) ++found;
    return found >= count;
  };
  // A change wakes the wait at once; the bound only covers a notification that the file
  // system does not deliver.
  const bool found = WaitUntil(enough, ms, 200, change);
  if (change != nullptr) FindCloseChangeNotification(change);
  return found;
}

HWND FindAgentWindow(DWORD ms) { return WaitForWindow(L"frmVelmoraSkytrove", L"Velmora Skytrove v4", ms); }

Agent::~Agent() {
  if (process_ != nullptr) {
    if (Running()) {
      Stop(5000);
      if (Running()) TerminateProcess(process_, 1);
    }
    CloseHandle(process_);
  }
}

bool Agent::Start(const std::wstring& arguments, DWORD waitForWindowMs) {
  if (StartOnce(arguments, waitForWindowMs)) return true;
  // Seen under Wine, rarely, in a long run of suites: the new process ends at once, before
  // its first log line. Tried once more, and said on the test's output; an agent that
  // really cannot start fails the second time too.
  if (waitForWindowMs == 0 || Running()) return false;
  std::fprintf(stderr, "starting the agent once more\n");
  return StartOnce(arguments, waitForWindowMs);
}

bool Agent::StartOnce(const std::wstring& arguments, DWORD waitForWindowMs) {
  // An agent of the test before may still be closing (a call left on its worker gets a
  // grace period): one started now would find it running and leave at once. Only a start
  // that expects a window waits; a second instance is started on purpose without one.
  if (waitForWindowMs != 0) {
    WaitUntil(
        [] {
          HANDLE running = OpenMutexW(SYNCHRONIZE, FALSE, L"Local\\VelmoraSkytrove4.Instance");
          if (running == nullptr) return true;
          CloseHandle(running);
          return false;
        },
        15000);
  }
  std::wstring command = L"\"" + AgentPath() + L"\" " + arguments;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "the agent did not start: CreateProcess error %lu\n", GetLastError());
    return false;
  }
  CloseHandle(pi.hThread);
  if (process_ != nullptr) CloseHandle(process_);  // an earlier run of this object's, ended
  process_ = pi.hProcess;
  pid_ = pi.dwProcessId;
  window_ = nullptr;
  if (waitForWindowMs == 0) return true;
  WaitUntil(
      [this] {
        for (HWND w = FindWindowW(L"frmVelmoraSkytrove", nullptr); w != nullptr;
             w = FindWindowExW(nullptr, w, L"frmVelmoraSkytrove", nullptr)) {
          DWORD pid = 0;
          GetWindowThreadProcessId(w, &pid);
          wchar_t title[64] = {};
          GetWindowTextW(w, title, 64);
          if (pid == pid_ && wcscmp(title, L"Velmora Skytrove v4") == 0) {
            window_ = w;
            return true;
          }
        }
        return !Running();
      },
      waitForWindowMs);
  if (window_ == nullptr) {
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    std::fprintf(stderr, "the agent showed no window: %s, exit code 0x%lx\n", Running() ? "running" : "ended", code);
    return false;
  }
  // The caption is set half-way through start-up; a sent message is handled only once the
  // message loop runs, that is once start-up has finished.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
  return true;
}

bool Agent::Running() const { return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool Agent::WaitExit(DWORD ms) {
  return WaitUntil([this] { return !Running(); }, ms, 20, process_);
}

bool Agent::Stop(DWORD ms) {
  if (!Running()) return true;
  if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
  return WaitExit(ms);
}

// Read with the agent's own field rule, byte for byte.
std::string Reply::Field(const std::string& key) const {
  std::wstring text;
  for (unsigned char c : bytes) text += static_cast<wchar_t>(c);
  const std::wstring value = velmora::GetField(text, std::wstring(key.begin(), key.end()), L"=", L" ");
  std::string out;
  for (wchar_t c : value) out += static_cast<char>(c);
  return out;
}

Requester::Requester() : client_(SkytroveOpen()) { SkytroveSetCallback(client_, &Requester::Received, this); }

Requester::~Requester() { Destroy(); }

void Requester::Destroy() {
  SkytroveClose(client_);
  client_ = nullptr;
}

void Requester::Received(void* self, const SkytroveReply* reply) {
  auto* requester = static_cast<Requester*>(self);
  Reply r;
  r.code = reply->code;
  r.bytes.assign(reply->text, reply->length);
  r.sender = reply->sender;
  requester->replies_.push_back(r);
  if (requester->onReply) requester->onReply(*requester, r);
}

bool Requester::Send(HWND agent, const std::string& text, ULONG_PTR code) {
  return SendBytes(agent, text.data(), static_cast<DWORD>(text.size()), code);
}

bool Requester::SendBytes(HWND agent, const void* data, DWORD size, ULONG_PTR code) {
  return SkytroveSendText(client_, agent, data, size, code) == SKYTROVE_SENT;
}

std::optional<Reply> Requester::WaitReply(DWORD ms) {
  if (!WaitUntil([this] { return taken_ < replies_.size(); }, ms, 10)) return std::nullopt;
  return replies_[taken_++];
}

}  // namespace testing_support
