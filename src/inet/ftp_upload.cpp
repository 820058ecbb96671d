// cWinINET::UploadFile: one local file to an FTP server, directly or under a temporary
// name that replaces the destination only once the whole file has arrived.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <exception>

#include "inet/cwininet.h"
#include "support/ansi.h"
#include "support/components.h"
#include "support/handles.h"
#include "support/paths.h"
#include "support/temp_file.h"
#include "support/text.h"

namespace velmora {

namespace {

constexpr INTERNET_PORT kFtpPort = 21;
constexpr DWORD kChunk = 2048;
constexpr char kAgent[] = "vb wininet";

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

// What the server lists under `name`: nothing, or the first entry with its size. A folder
// of that name counts as taken too (its listing succeeds, empty or not).
struct RemoteEntry {
  bool exists = false;
  int64_t size = -1;
};
RemoteEntry FindRemote(HINTERNET connection, const std::string& name) {
  WIN32_FIND_DATAA found{};
  UniqueInternet find(FtpFindFirstFileA(connection, name.c_str(), &found, 0, 0));
  if (!find) return {};
  return {true, (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow};
}
bool RemoteExists(HINTERNET connection, const std::string& name) { return FindRemote(connection, name).exists; }

// How many names are tried before giving up: each costs a listing on the server (about a
// second for a name that exists, under Wine).
constexpr int kNameAttempts = 100;
constexpr int kBackupAttempts = 10;

// A name for the upload's temporary copy that nothing in the destination's remote folder
// carries yet. A name drawn locally is unique only on this machine; another uploader
// may hold it in the remote folder. Empty when no free name was found.
std::string TemporaryUploadOnServer(HINTERNET connection, const std::wstring& remoteName) {
  const std::wstring extension = ExtensionPart(remoteName);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::wstring local = GetTempFile(std::wstring(), extension);
    if (local.empty()) return std::string();
    // The name service leaves an empty local file for a "TMP" name; only the name is used.
    if (extension.empty() || UpperCase(extension) == L"TMP") DeleteFileW(local.c_str());
    const std::string upload = ToAnsi(TemporaryUploadName(remoteName, FileNamePart(local)));
    if (!RemoteExists(connection, upload)) return upload;
  }
  return std::string();
}

// A backup name for the destination that no file on the server carries: an ".old" file
// that was there before belongs to someone else and is never renamed over or deleted.
std::string FreeBackupName(HINTERNET connection, const std::wstring& remoteName) {
  for (int attempt = 0; attempt < kBackupAttempts; ++attempt) {
    const std::string name = ToAnsi(BackupName(remoteName, attempt));
    if (!RemoteExists(connection, name)) return name;
  }
  return std::string();
}

// The server's final reply to the transfer, read by WinINet when the remote file is
// closed, as this thread's last response; 0 when WinINet keeps no text.
int FinalReplyCode() {
  char text[1024] = {};
  DWORD length = sizeof text;
  DWORD error = 0;
  if (!InternetGetLastResponseInfoA(&error, text, &length)) return 0;
  return LastReplyCode(std::string(text, std::min<size_t>(length, sizeof text)));
}

// Puts the complete temporary copy `upload` in place of `remote`. The destination is
// moved aside under a free backup name first and put back when the copy cannot follow.
int32_t ReplaceDestination(HINTERNET connection, const std::string& upload, const std::string& remote,
                           const std::wstring& remoteName, int64_t length) {
  if (FindRemote(connection, upload).size != length) {
    FtpDeleteFileA(connection, upload.c_str());
    return kUnableToWriteDestination;
  }
  std::string backup;
  if (RemoteExists(connection, remote)) {
    backup = FreeBackupName(connection, remoteName);
    // The complete upload stays under its temporary name when the destination cannot be
    // moved aside: it is the only whole copy of the new file on the server.
    if (backup.empty() || !FtpRenameFileA(connection, remote.c_str(), backup.c_str()))
      return kUnableToWriteDestination;
  }
  if (FtpRenameFileA(connection, upload.c_str(), remote.c_str())) {
    if (!backup.empty()) FtpDeleteFileA(connection, backup.c_str());
    return kUploadSuccessful;
  }
  FtpDeleteFileA(connection, upload.c_str());
  if (!backup.empty()) FtpRenameFileA(connection, backup.c_str(), remote.c_str());
  return kUnableToWriteDestination;
}

}  // namespace

int32_t cWinINET::UploadFile(const std::wstring& fName, const std::wstring& Destination, const std::wstring& UserName,
                             const std::wstring& Password, HINTERNET hInternet, HINTERNET hConnection,
                             bool UploadToTempFile, bool PassiveUpload) {
  UniqueInternet ownSession;
  HINTERNET session = hInternet;
  HINTERNET connection = hConnection;
  if (session == nullptr) {
    ownSession.reset(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!ownSession) return kNoInternetConnection;
    session = ownSession.get();
    // A connection belongs to its session; one passed in cannot serve a new session.
    connection = nullptr;
  }

  UniqueInternet ownConnection;
  std::wstring remoteName = Destination;
  if (connection == nullptr) {
    const FtpDestination destination = SplitDestination(Destination);
    remoteName = destination.remoteName;
    const std::string server = ToAnsi(destination.server);
    const std::string user = ToAnsi(UserName);
    const std::string password = ToAnsi(Password);
    ownConnection.reset(InternetConnectA(session, server.c_str(), kFtpPort, OrNull(user), OrNull(password),
                                         INTERNET_SERVICE_FTP, PassiveUpload ? INTERNET_FLAG_PASSIVE : 0, 0));
    if (!ownConnection) return kUnableToConnect;
    connection = ownConnection.get();
  }

  // The local file is checked before anything is opened for writing on the server:
  // opening the remote file truncates it, so an upload that cannot start must not
  // get that far.
  UniqueFile local(CreateFileA(ToAnsi(fName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size{};
  if (!local || !GetFileSizeEx(local.get(), &size) || size.QuadPart <= 0) return kUnableToReadSource;
  const int64_t length = size.QuadPart;

  if (remoteName.empty()) return kUnableToWriteDestination;
  const std::string remote = ToAnsi(remoteName);
  const std::string upload = UploadToTempFile ? TemporaryUploadOnServer(connection, remoteName) : remote;
  if (upload.empty()) return kUnableToWriteDestination;

  UniqueInternet remoteFile(FtpOpenFileA(connection, upload.c_str(), GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0));
  if (!remoteFile) return kUnableToWriteDestination;

  char buffer[kChunk];
  int64_t sent = 0;
  bool cancel = false;
  bool readFailed = false;
  bool writeFailed = false;
  std::exception_ptr listenerError;
  while (sent < length && !cancel) {
    DWORD got = 0;
    // Zero bytes before the end means the file shrank while it was being sent.
    if (!ReadFile(local.get(), buffer, kChunk, &got, nullptr) || got == 0) {
      readFailed = true;
      break;
    }
    DWORD written = 0;
    if (!InternetWriteFile(remoteFile.get(), buffer, got, &written) || written != got) {
      writeFailed = true;
      break;
    }
    sent += written;
    if (UploadProgress) {
      // A throwing listener still gets its upload cleaned away before it hears of it.
      try {
        UploadProgress(UploadPercent(sent, length), cancel);
      } catch (...) {
        listenerError = std::current_exception();
        cancel = true;
      }
    }
  }
  local.reset();
  // Closing the remote file ends the transfer; the connection takes no other command
  // while it is open.
  remoteFile.reset();

  // The server may take every byte and still fail to store them (451, 452, 552): only
  // its final reply says so, and under a temporary name the copy must list whole.
  // A 1xx text is the STOR's preliminary reply, left over when no final one was kept:
  // it says nothing either way, and the listing check still guards a temporary copy.
  const int reply = cancel || readFailed || writeFailed ? 0 : FinalReplyCode();
  const bool refused = reply >= 300;

  int32_t result = kUploadSuccessful;
  if (cancel) {
    FtpDeleteFileA(connection, upload.c_str());
    result = kUserCancelled;
  } else if (readFailed || writeFailed || refused) {
    // A partial copy under a temporary name is of no use to anyone; a partial direct
    // upload is all the server has of the file, so it stays.
    if (UploadToTempFile) FtpDeleteFileA(connection, upload.c_str());
    result = readFailed ? kUnableToReadSource : kUnableToWriteDestination;
  } else if (UploadToTempFile) {
    result = ReplaceDestination(connection, upload, remote, remoteName, length);
  }
  if (listenerError) std::rethrow_exception(listenerError);
  return result;
}

}  // namespace velmora
