// What the FTP whole-process tests share: the agent's fixture with a folder on the FTP
// server for each test, the request text and the remote file times.
#pragma once

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "agent_fixture.h"

namespace ftp_e2e {

using namespace testing_support;

inline std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// Today at 00:00 UTC: recent enough for the server to list it with hours and minutes,
// which WinINet reads back exactly (an older file is listed with its year only).
inline FILETIME KnownRemoteTime() {
  SYSTEMTIME st{};
  GetSystemTime(&st);
  st.wHour = st.wMinute = st.wSecond = st.wMilliseconds = 0;
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

inline std::string TimeText(const FILETIME& ft) {
  return std::to_string(static_cast<int32_t>(ft.dwHighDateTime)) + "$" +
         std::to_string(static_cast<int32_t>(ft.dwLowDateTime));
}

inline bool SetWriteTime(const std::wstring& path, const FILETIME& ft) {
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = SetFileTime(h, nullptr, nullptr, &ft) != FALSE;
  CloseHandle(h);
  return ok;
}

// The agent's per-user folder: the journal and the change records.
inline std::wstring JournalFolder() {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
  return std::wstring(path) + L"\\Velmora\\Skytrove4";
}

// An agent for each test, with a folder of its own on the FTP server.
class FtpAgent : public AgentTest {
 protected:
  void SetUp() override {
    AgentTest::SetUp();
    PeerData(L"ftp\\e2e");
    remote_ = FreshFolder(L"..\\ftp\\e2e\\" + name_);  // the server's e2e/<test>/ folder, emptied
    host_ = Narrow(Env("VELMORA_FTP_HOST"));
  }

  // ftp://<host>/e2e/<test>/<name>
  std::string Source(const std::string& name, const std::string& host = "") {
    return "ftp://" + (host.empty() ? host_ : host) + "/e2e/" + Narrow(name_) + "/" + name;
  }
  std::wstring Remote(const std::string& name) { return remote_ + L"\\" + std::wstring(name.begin(), name.end()); }
  bool PutRemote(const std::string& name, const std::string& bytes) {
    return WriteFileBytes(Remote(name), bytes) && SetWriteTime(Remote(name), KnownRemoteTime());
  }
  std::string Request(const std::string& source, const std::string& dest, const std::string& extra = "") {
    return "GET Type=FTP Reference=R2 SourceFileName=" + source + " DestinationFileName=" + dest +
           " Username=velmora Password=secret PassiveMode=1" + extra;
  }

  // A web peer key of this run only.
  std::string Key(const std::string& k) { return k + "-" + std::to_string(GetTickCount()); }
  // The web peer's lines for `key` ("range=R if-range=I status=S sent=B"), once there are `count`.
  std::vector<std::string> Served(const std::string& key, size_t count) {
    std::vector<std::string> lines;
    WaitUntil(
        [&] {
          lines.clear();
          std::istringstream log(ReadFileBytes(PeerData(L"web") + L"\\ranged.log"));
          for (std::string line; std::getline(log, line);)
            if (line.compare(0, key.size() + 1, key + " ") == 0) lines.push_back(line.substr(key.size() + 1));
          return lines.size() >= count;
        },
        10000, 50);
    return lines;
  }
  // The first log text that starts with `prefix`, waiting for it up to `ms`.
  std::string WaitLogged(const std::string& prefix, DWORD ms = 20000) {
    std::string found;
    WaitUntil(
        [&] {
          for (const auto& t : Texts()) {
            if (t.compare(0, prefix.size(), prefix) == 0) {
              found = t;
              return true;
            }
          }
          return false;
        },
        ms, 100);
    return found;
  }
  // The request ran to its end: the dispatcher finished the tick that carried it.
  bool WaitTickDone(DWORD ms = 20000) {
    return WaitUntil([&] { return Logged("Finish frmVelmoraSkytrove:tmrDownloadFiles_Timer"); }, ms, 100);
  }
  void ExpectNoPasswordLogged() {
    for (const auto& t : Texts()) EXPECT_EQ(t.find("secret"), std::string::npos) << t;
  }

  std::wstring remote_;
  std::string host_;
};

}  // namespace ftp_e2e
