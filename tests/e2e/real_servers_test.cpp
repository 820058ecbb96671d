// The agent against the servers people run on their machines (nginx, vsftpd, tinyproxy),
// not only against our own Python peers: what those servers do differently is what
// breaks a download in the field.
#include <gtest/gtest.h>

#include "ftp_e2e_support.h"

namespace {

using namespace testing_support;
using ftp_e2e::KnownRemoteTime;
using ftp_e2e::SetWriteTime;
using ftp_e2e::TimeText;

const wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
// Made by scripts/setup.sh; vsftpd logs it in to /home/velmora-ftp, not to "/".
const char kFtpUser[] = "velmora-ftp";
const char kFtpPassword[] = "skytrove";
const wchar_t kHomeUp[] = L"Z:\\home\\velmora-ftp\\up";

// The system proxy of the test prefix's user, for as long as the object lives.
class SystemProxy {
 public:
  explicit SystemProxy(const std::string& server) {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key_, nullptr) !=
        ERROR_SUCCESS)
      return;
    const DWORD on = 1;
    const std::wstring value = L"http=" + std::wstring(server.begin(), server.end());
    ok_ = RegSetValueExW(key_, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on) ==
              ERROR_SUCCESS &&
          RegSetValueExW(key_, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  ~SystemProxy() {
    if (!key_) return;
    RegDeleteValueW(key_, L"ProxyEnable");
    RegDeleteValueW(key_, L"ProxyServer");
    RegCloseKey(key_);
  }
  SystemProxy(const SystemProxy&) = delete;
  SystemProxy& operator=(const SystemProxy&) = delete;
  bool Ok() const { return ok_; }

 private:
  HKEY key_ = nullptr;
  bool ok_ = false;
};

// The agent starts in each test, once the servers' files (and the proxy) are in place.
class RealServers : public AgentTest {
 protected:
  RealServers() : AgentTest(nullptr) {}
  // One request, run to its end (it leaves the list); its reply, when one came.
  std::optional<Reply> Get(const std::string& type, const std::string& source, const std::string& dest,
                           const std::string& extra = "") {
    const size_t before = CountLogged("Removing file ");
    const std::string to = dest.empty() ? std::string() : " DestinationFileName=" + dest;
    if (!Send("GET Type=" + type + " Reference=W SourceFileName=" + source + to + extra)) return std::nullopt;
    EXPECT_TRUE(WaitCount("Removing file ", before + 1, 30000)) << "the request never finished: " << source;
    // A reply is sent before its request leaves the list: 100 ms more is ample, and shows
    // that none came for a request that gets none.
    return requester_.WaitReply(100);
  }
};

// HTTP and HTTPS with nginx: redirects, a chunked body and basic authentication.
TEST_F(RealServers, NginxServesEveryKindOfHttpDownload) {
  const std::string sample = Generated(70000, 3);
  ASSERT_TRUE(WriteFileBytes(PeerData(L"nginx\\files") + L"\\sample.bin", sample));
  ASSERT_TRUE(StartAgent());
  const std::string web = "http://" + Narrow(Env("VELMORA_NGINX_HOST"));
  const std::string tls = "https://localhost:" + Narrow(Env("VELMORA_NGINX_TLS_PORT"));
  struct Case { std::string url; std::string body; };
  // Without the password nginx answers 401, and the old file stays. (First: WinINet
  // remembers a password for the rest of the session.)
  ASSERT_TRUE(WriteFileBytes(D("denied.bin"), "old"));
  EXPECT_FALSE(Get("HTTP", web + "/private/sample.bin", Dest("denied.bin")));
  EXPECT_EQ(ReadFileBytes(D("denied.bin")), "old");
  const Case cases[] = {
      {web + "/files/sample.bin", sample},
      {tls + "/files/sample.bin", sample},  // through the CA the test run trusts
      {web + "/moved", sample},             // 301
      {web + "/found", sample},             // 302
      {web + "/chunked/123457", Generated(123457)},
      {"http://velmora:secret@" + Narrow(Env("VELMORA_NGINX_HOST")) + "/private/sample.bin", sample},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string dest = Dest("h" + std::to_string(++n) + ".bin");
    ASSERT_TRUE(WriteFileBytes(std::wstring(dest.begin(), dest.end()), "old"));
    auto reply = Get("HTTP", c.url, dest);
    ASSERT_TRUE(reply) << c.url;
    EXPECT_EQ(reply->Field("SourceFileName"), c.url);
    EXPECT_TRUE(ReadFileBytes(std::wstring(dest.begin(), dest.end())) == c.body) << c.url;
  }
}

// The system proxy setting is honoured: nginx answers /proxied/ only to a proxy.
TEST_F(RealServers, TinyproxyAsTheSystemProxy) {
  const std::string sample = Generated(5000);
  ASSERT_TRUE(WriteFileBytes(PeerData(L"nginx\\files") + L"\\sample.bin", sample));
  const std::string url = "http://" + Narrow(Env("VELMORA_NGINX_HOST")) + "/proxied/sample.bin";
  {
    ASSERT_TRUE(StartAgent());
    EXPECT_FALSE(Get("HTTP", url, Dest("direct.bin")));  // the test can fail: direct is refused
    ASSERT_TRUE(agent_.Stop());
  }
  SystemProxy proxy(Narrow(Env("VELMORA_PROXY")));
  ASSERT_TRUE(proxy.Ok());
  ASSERT_TRUE(StartAgent());
  auto reply = Get("HTTP", url, Dest("proxied.bin"));
  ASSERT_TRUE(reply);
  EXPECT_EQ(ReadFileBytes(D("proxied.bin")), sample);
}

class Vsftpd : public RealServers {
 protected:
  std::string Host() { return Narrow(Env("VELMORA_VSFTPD_HOST")); }
  std::string Login() { return std::string(" Username=") + kFtpUser + " Password=" + kFtpPassword; }
  // A name of this test process's own in the local user's home folder.
  std::string HomeName(const std::string& stem) {
    return stem + "-" + std::to_string(GetCurrentProcessId()) + ".bin";
  }
  std::wstring HomeFile(const std::string& name) { return std::wstring(kHomeUp) + L"\\" + std::wstring(name.begin(), name.end()); }
};

// Anonymous users see a confined root; both modes.
TEST_F(Vsftpd, AnonymousDownloadInPassiveAndActiveMode) {
  const std::string body = Generated(99999, 5);
  const std::wstring file = PeerData(L"vsftpd") + L"\\anon.bin";
  ASSERT_TRUE(WriteFileBytes(file, body));
  ASSERT_TRUE(SetWriteTime(file, KnownRemoteTime()));
  ASSERT_TRUE(StartAgent());
  for (const char* mode : {"1", "0"}) {
    const std::string dest = Dest(std::string("anon-") + mode + ".bin");
    auto reply = Get("FTP", "ftp://" + Host() + "/anon.bin", dest, std::string(" PassiveMode=") + mode);
    ASSERT_TRUE(reply) << mode;
    EXPECT_EQ(reply->Field("SourceFileSize"), "99999");
    EXPECT_EQ(reply->Field("SourceFileLastWriteTime"), TimeText(KnownRemoteTime()));
    EXPECT_TRUE(ReadFileBytes(std::wstring(dest.begin(), dest.end())) == body) << mode;
  }
}

// A local user logs in to its home folder: a path still counts from "/" in the download,
// the time query and the delete alike, and is never read from the home folder.
TEST_F(Vsftpd, LocalUserPathsCountFromTheRootInEveryOperation) {
  const std::string name = HomeName("x");
  const std::string body = Generated(40000, 9);
  ASSERT_TRUE(WriteFileBytes(HomeFile(name), body));
  ASSERT_TRUE(SetWriteTime(HomeFile(name), KnownRemoteTime()));
  ASSERT_TRUE(StartAgent());
  const std::string full = "ftp://" + Host() + "/home/velmora-ftp/up/" + name;
  const std::string fromHome = "ftp://" + Host() + "/up/" + name;  // names /up/..., which does not exist

  for (const char* mode : {"1", "0"}) {
    auto reply = Get("FTP", full, Dest(name), Login() + " PassiveMode=" + mode);
    ASSERT_TRUE(reply) << mode;
    EXPECT_EQ(reply->Field("SourceFileLastWriteTime"), TimeText(KnownRemoteTime())) << mode;
    EXPECT_TRUE(ReadFileBytes(D(name)) == body) << mode;
  }
  // Neither fetched nor deleted through the home folder.
  ASSERT_TRUE(WriteFileBytes(D("home.bin"), "old"));
  EXPECT_FALSE(Get("FTP", fromHome, Dest("home.bin"), Login() + " PassiveMode=1"));
  EXPECT_EQ(ReadFileBytes(D("home.bin")), "old");
  EXPECT_FALSE(Get("FTPDELETE", fromHome, "", Login() + " PassiveMode=1"));
  EXPECT_TRUE(FileExists(HomeFile(name)));
  // The full path deletes the file the download fetched.
  EXPECT_TRUE(Get("FTPDELETE", full, "", Login() + " PassiveMode=1"));
  EXPECT_FALSE(FileExists(HomeFile(name)));
}

// The login may come in the URL instead of Username and Password: the download, the
// linked file, the time query and the delete all use it, and its password, encoded or
// not, never reaches the log, not even when the server refuses it.
TEST_F(Vsftpd, UrlLoginIsUsedEverywhereAndNeverLogged) {
  const std::string name = HomeName("url");
  const std::string linked = HomeName("url-linked");
  const std::string body = Generated(3000, 2);
  for (const std::string& n : {name, linked}) {
    ASSERT_TRUE(WriteFileBytes(HomeFile(n), body));
    ASSERT_TRUE(SetWriteTime(HomeFile(n), KnownRemoteTime()));
  }
  ASSERT_TRUE(StartAgent());
  const std::string folder = "@" + Host() + "/home/velmora-ftp/up/";
  const std::string encoded = "ftp://" + std::string(kFtpUser) + ":sky%74rove" + folder;  // %74 is "t"
  const std::string plain = "ftp://" + std::string(kFtpUser) + ":" + kFtpPassword + folder;
  auto reply = Get("FTP", encoded + name, Dest(name),
                   " PassiveMode=1 LinkedSourceFileName=" + plain + linked + " LinkedDestinationFileName=" + Dest(linked));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Field("SourceFileLastWriteTime"), TimeText(KnownRemoteTime()));
  EXPECT_EQ(reply->Field("LinkedSourceFileLastWriteTime"), TimeText(KnownRemoteTime()));
  EXPECT_TRUE(ReadFileBytes(D(name)) == body);
  EXPECT_TRUE(ReadFileBytes(D(linked)) == body);
  EXPECT_TRUE(Get("FTPDELETE", plain + name, "", " PassiveMode=1"));
  EXPECT_FALSE(FileExists(HomeFile(name)));

  reply = Get("FTP", "ftp://" + std::string(kFtpUser) + ":wrong%2Fpw" + folder + linked, Dest("refused.bin"),
              " PassiveMode=1 ReplyOnFailure=1");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.rfind("FAILED ", 0), 0u);
  EXPECT_EQ(reply->Field("Reason").find("wrong"), std::string::npos);
  for (const auto& line : ReadLogLines(logs_)) {
    for (const char* secret : {kFtpPassword, "sky%74rove", "wrong"})
      EXPECT_EQ(line.find(secret), std::string::npos) << line;
  }
}

}  // namespace
