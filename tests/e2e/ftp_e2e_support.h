// What the FTP whole-process tests share: the agent's fixture with a folder on the FTP
// server for each test, the request text and the remote file times.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
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
