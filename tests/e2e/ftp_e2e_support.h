// What the FTP whole-process tests share: an agent with its own log folder, a
// destination folder and a folder on the FTP server for each test, and the request text.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "win_test_support.h"

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

class FtpAgent : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    name_ = std::wstring(name.begin(), name.end());
    logs_ = FreshFolder(L"ftp-logs-" + name_);
    dest_ = FreshFolder(L"ftp-dest-" + name_);
    PeerData(L"ftp\\e2e");
    remote_ = FreshFolder(L"..\\ftp\\e2e\\" + name_);  // the server's e2e/<test>/ folder, emptied
    host_ = Narrow(Env("VELMORA_FTP_HOST"));
    SetMachineString(L"SOFTWARE\\Velmora", L"DebugPath", logs_);
    ASSERT_TRUE(agent_.Start(L"/DEBUG=MAX"));
  }
  void TearDown() override {
    agent_.Stop();
    DeleteMachineValue(L"SOFTWARE\\Velmora", L"DebugPath");
  }

  // ftp://<host>/e2e/<test>/<name>
  std::string Source(const std::string& name, const std::string& host = "") {
    return "ftp://" + (host.empty() ? host_ : host) + "/e2e/" + Narrow(name_) + "/" + name;
  }
  std::string Dest(const std::string& name) { return Narrow(dest_) + "\\" + name; }
  std::wstring D(const std::string& name) { return dest_ + L"\\" + std::wstring(name.begin(), name.end()); }
  // http://<the web peer>/<path>
  std::string Url(const std::string& path) { return "http://" + Narrow(Env("VELMORA_WEB")) + "/" + path; }
  std::wstring Remote(const std::string& name) { return remote_ + L"\\" + std::wstring(name.begin(), name.end()); }
  bool PutRemote(const std::string& name, const std::string& bytes) {
    return WriteFileBytes(Remote(name), bytes) && SetWriteTime(Remote(name), KnownRemoteTime());
  }
  std::string Request(const std::string& source, const std::string& dest, const std::string& extra = "") {
    return "GET Type=FTP Reference=R2 SourceFileName=" + source + " DestinationFileName=" + dest +
           " Username=velmora Password=secret PassiveMode=1" + extra;
  }
  bool Send(const std::string& text) { return requester_.Send(agent_.Window(), text); }

  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const auto& l : ReadLogLines(logs_)) out.push_back(LogText(l));
    return out;
  }
  bool Logged(const std::string& text) { return LogContains(ReadLogLines(logs_), text); }
  // The first log text that starts with `prefix`, waiting for it up to `ms`.
  std::string WaitLogged(const std::string& prefix, DWORD ms = 20000) {
    const DWORD end = GetTickCount() + ms;
    for (;;) {
      for (const auto& t : Texts())
        if (t.compare(0, prefix.size(), prefix) == 0) return t;
      if (static_cast<int32_t>(end - GetTickCount()) <= 0) return std::string();
      Pump(100);
    }
  }
  size_t CountLogged(const std::string& prefix) {
    size_t n = 0;
    for (const auto& t : Texts()) n += t.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return n;
  }
  bool WaitCount(const std::string& prefix, size_t count, DWORD ms = 20000) {
    const DWORD end = GetTickCount() + ms;
    while (CountLogged(prefix) < count) {
      if (static_cast<int32_t>(end - GetTickCount()) <= 0) return false;
      Pump(100);
    }
    return true;
  }
  // The request ran to its end: the dispatcher finished the tick that carried it.
  bool WaitTickDone(DWORD ms = 20000) {
    const DWORD end = GetTickCount() + ms;
    while (!Logged("Finish frmVelmoraSkytrove:tmrDownloadFiles_Timer")) {
      if (static_cast<int32_t>(end - GetTickCount()) <= 0) return false;
      Pump(100);
    }
    return true;
  }
  // Files in the destination folder other than `keep`: a leftover temporary file shows here.
  std::vector<std::wstring> Leftovers(const std::vector<std::wstring>& keep) {
    std::vector<std::wstring> out;
    for (const auto& n : FolderNames(dest_))
      if (std::find(keep.begin(), keep.end(), n) == keep.end()) out.push_back(n);
    return out;
  }
  void ExpectNoPasswordLogged() {
    for (const auto& t : Texts()) EXPECT_EQ(t.find("secret"), std::string::npos) << t;
  }

  Agent agent_;
  Requester requester_;
  std::wstring name_, logs_, dest_, remote_;
  std::string host_;
};

}  // namespace ftp_e2e
