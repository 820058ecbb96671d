// One FTP connection through WinINet. Every operation answers with a Boolean and leaves
// the system's error code in LastError; the only thing ever thrown is ListItem's
// out-of-range error on an object that never listed anything.
#include "transfer/cftp.h"

#include <algorithm>
#include <stdexcept>

#include "support/ansi.h"
#include "support/debug_log.h"
#include "support/velmora_general.h"
#include "transfer/ftp_rules.h"

namespace velmora {

namespace {

void Log(const std::wstring& text, int mark = kMarkNone) { WriteDebugLog(text, 10, mark); }

// The flags word of InternetOpenA, kept as the program has always passed it.
constexpr DWORD kOpenFlags = 4;

}  // namespace

cFTP::~cFTP() {
  try {
    Disconnect();
  } catch (...) {
    // Only a log line can fail here; the handles are closed by their owners regardless.
  }
}

void cFTP::RecordFailure() {
  lastError_ = static_cast<int32_t>(GetLastError());
  lastResponse_.clear();
  // Codes that stand for a reply the server just gave; its words say more than the code.
  const bool serverSaid = lastError_ == ERROR_INTERNET_EXTENDED_ERROR || lastError_ == ERROR_INTERNET_LOGIN_FAILURE ||
                          lastError_ == ERROR_INTERNET_INCORRECT_PASSWORD ||
                          lastError_ == ERROR_INTERNET_INCORRECT_USER_NAME;
  if (!serverSaid) return;
  // The reply belongs to this thread's last WinINet call, so it is taken now, before any
  // other call can replace it.
  DWORD code = 0;
  DWORD length = 0;
  InternetGetLastResponseInfoA(&code, nullptr, &length);
  if (length == 0) return;
  std::string text(length + 1, '\0');
  length = static_cast<DWORD>(text.size());
  if (!InternetGetLastResponseInfoA(&code, text.data(), &length)) return;
  text.resize(std::min<size_t>(length, text.size()));
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '\0'))
    text.pop_back();
  lastResponse_ = FromAnsi(text);
}

bool cFTP::Outcome(bool ok) {
  if (ok) {
    lastError_ = 0;
    lastResponse_.clear();
  } else {
    RecordFailure();
  }
  return ok;
}

bool cFTP::Connect(const std::wstring& ServerAddress, int16_t Port, const std::wstring& UserName,
                   const std::wstring& Password, bool PassiveMode) {
  // The server only: user names and passwords never go to the log.
  Log(L"Start cFTP:Connect " + ServerAddress, kMarkStart);
  lastError_ = 0;
  lastResponse_.clear();
  if (ServerAddress.empty()) {
    Log(L"Exit cFTP:Connect - No Server Address", kMarkEnd);
    return false;
  }
  // Connecting again must not leave the earlier login open on the server.
  connection_.reset();
  internet_.reset(InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_PRECONFIG, "", "", kOpenFlags));
  if (!internet_) {
    RecordFailure();
    Log(L"Exit cFTP:Connect - No Internet Handle", kMarkEnd);
    return false;
  }
  const std::string server = ToAnsi(ServerAddress);
  const std::string user = ToAnsi(UserName);
  const std::string password = ToAnsi(Password);
  connection_.reset(InternetConnectA(internet_.get(), server.c_str(), static_cast<INTERNET_PORT>(Port), user.c_str(),
                                     password.c_str(), INTERNET_SERVICE_FTP,
                                     PassiveMode ? INTERNET_FLAG_PASSIVE : 0, 0));
  if (connection_) {
    lastError_ = 0;
    Log(L"Finish cFTP:Connect", kMarkEnd);
    return true;
  }
  RecordFailure();
  internet_.reset();
  Log(L"Exit cFTP:Connect - No Session Handle", kMarkEnd);
  return false;
}

WIN32_FIND_DATAA cFTP::ListItem(int32_t index) const {
  if (!listed_) throw std::out_of_range("Subscript out of range");
  if (index < 0 || static_cast<size_t>(index) >= listing_.size()) return WIN32_FIND_DATAA{};
  return listing_[static_cast<size_t>(index)];
}

bool cFTP::List(const std::wstring& Path) {
  if (!Connected()) return false;
  lastError_ = 0;
  lastResponse_.clear();
  WIN32_FIND_DATAA first{};
  UniqueInternet find(FtpFindFirstFileA(connection_.get(), ToAnsi(Path).c_str(), &first, INTERNET_FLAG_RELOAD, 0));
  if (!find) {
    // An empty folder or a missing file keeps the listing made before.
    RecordFailure();
    return false;
  }
  std::vector<WIN32_FIND_DATAA> items(1, first);
  for (;;) {
    WIN32_FIND_DATAA next{};
    if (!InternetFindNextFileA(find.get(), &next)) break;
    items.push_back(next);
  }
  find.reset();
  // The end-of-listing code, as the close leaves it: callers can tell a complete
  // listing (ERROR_NO_MORE_FILES) from one cut short.
  lastError_ = static_cast<int32_t>(GetLastError());
  listing_ = std::move(items);
  listed_ = true;
  return true;
}

int32_t cFTP::ListCount() const { return listed_ ? static_cast<int32_t>(listing_.size()) : 0; }

bool cFTP::DeleteFile(const std::wstring& Filename, const std::wstring& Path) {
  if (!Path.empty()) {
    bool changed = FtpSetCurrentDirectoryA(connection_.get(), "/") != FALSE;
    // A Path without any "/" names no folder below the root: the file goes from "/".
    if (changed && Path.find(L'/') != std::wstring::npos)
      changed = FtpSetCurrentDirectoryA(connection_.get(), ToAnsi(Path).c_str()) != FALSE;
    if (!changed) {
      RecordFailure();
      return false;
    }
  }
  return Outcome(FtpDeleteFileA(connection_.get(), ToAnsi(Filename).c_str()) != FALSE);
}

bool cFTP::DeleteDirectory(const std::wstring& Path) {
  if (!FtpSetCurrentDirectoryA(connection_.get(), "/")) {
    RecordFailure();
    return false;
  }
  const std::wstring folder = RemoteDirectoryPart(Path);
  if (!folder.empty() && !FtpSetCurrentDirectoryA(connection_.get(), ToAnsi(folder).c_str())) {
    RecordFailure();
    return false;
  }
  return Outcome(FtpRemoveDirectoryA(connection_.get(), ToAnsi(RemoteNamePart(Path)).c_str()) != FALSE);
}

bool cFTP::CreateDirectory(const std::wstring& Path) {
  return Outcome(FtpCreateDirectoryA(connection_.get(), ToAnsi(Path).c_str()) != FALSE);
}

bool cFTP::GetRemoteDirectory(std::wstring& DirectoryOut, int32_t& BufLen) {
  // The caller sizes the buffer; one more byte keeps the text terminated whatever
  // WinINet writes into it.
  std::string buffer(static_cast<size_t>(std::max<int32_t>(BufLen, 0)) + 1, '\0');
  DWORD length = static_cast<DWORD>(std::max<int32_t>(BufLen, 0));
  const bool ok = FtpGetCurrentDirectoryA(connection_.get(), buffer.data(), &length) != FALSE;
  BufLen = static_cast<int32_t>(length);
  buffer.resize(std::min(buffer.find('\0'), buffer.size()));
  DirectoryOut = FromAnsi(buffer);
  return Outcome(ok);
}

bool cFTP::SetRemoteDirectory(const std::wstring& Directory) {
  if (!Connected()) return false;
  return Outcome(FtpSetCurrentDirectoryA(connection_.get(), ToAnsi(Directory).c_str()) != FALSE);
}

bool cFTP::UploadFile(const std::wstring& LocalFilePath, const std::wstring& RemoteFilename, uint32_t TransferType,
                      uint32_t Caching) {
  if (!Connected()) return false;
  return Outcome(FtpPutFileA(connection_.get(), ToAnsi(LocalFilePath).c_str(), ToAnsi(RemoteFilename).c_str(),
                             TransferType | Caching, 0) != FALSE);
}

bool cFTP::DownloadFile(const std::wstring& RemoteFilename, const std::wstring& LocalFilePath, bool FailIfExists,
                        uint32_t LocalFileFlags, uint32_t TransferType, uint32_t Caching) {
  Log(L"Start cFTP:DownloadFile", kMarkStart);
  if (!connection_) {
    Log(L"Exit cFTP:DownloadFile - No Session Handle", kMarkEnd);
    return false;
  }
  if (!internet_) {
    Log(L"Exit cFTP:DownloadFile - No Internet Handle", kMarkEnd);
    return false;
  }
  // From the root, whatever folder the login put us in, so remote paths mean the same
  // on every server.
  Log(L"SetRemoteDirectory to '/'");
  if (!SetRemoteDirectory(L"/")) {
    Log(L"Exit cFTP:DownloadFile - Failed to set Remote Directory", kMarkEnd);
    return false;
  }
  const std::wstring folder = RemoteDirectoryPart(RemoteFilename);
  if (!folder.empty()) {
    Log(L"SetRemoteDirectory to '" + folder + L"'");
    if (!SetRemoteDirectory(folder)) {
      Log(L"Exit cFTP:DownloadFile - Failed to Set Remote Directory", kMarkEnd);
      return false;
    }
  }
  const bool ok = FtpGetFileA(connection_.get(), ToAnsi(RemoteNamePart(RemoteFilename)).c_str(),
                              ToAnsi(LocalFilePath).c_str(), FailIfExists ? TRUE : FALSE, LocalFileFlags,
                              TransferType | Caching, 0) != FALSE;
  // Before the log line: the server's reply has to be read while it is still this
  // thread's last one.
  Outcome(ok);
  Log(std::wstring(L"FTPGetFile Result: ") + (ok ? L"True" : L"False"));
  Log(L"Finish cFTP:DownloadFile", kMarkEnd);
  return ok;
}

bool cFTP::GetRemoteFileSize(const std::wstring& RemoteFilename, int64_t& FileSizeOut, uint32_t TransferType,
                             uint32_t Caching) {
  if (!Connected()) return false;
  UniqueInternet file(
      FtpOpenFileA(connection_.get(), ToAnsi(RemoteFilename).c_str(), GENERIC_READ, TransferType | Caching, 0));
  if (!file) {
    RecordFailure();
    return false;
  }
  DWORD high = 0;
  const DWORD low = FtpGetFileSize(file.get(), &high);
  FileSizeOut = static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
  file.reset();
  lastError_ = 0;
  lastResponse_.clear();
  return true;
}

bool cFTP::Disconnect() {
  Log(L"Start cFTP:Disconnect", kMarkStart);
  connection_.reset();
  internet_.reset();
  lastError_ = 0;
  lastResponse_.clear();
  Log(L"Finish cFTP:Disconnect", kMarkEnd);
  return false;
}

}  // namespace velmora
