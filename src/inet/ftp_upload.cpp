// cWinINET::UploadFile: one local file to an FTP server, directly or under a temporary
// name that replaces the destination only once the whole file has arrived.
#include <windows.h>
#include <wininet.h>

#include <exception>

#include "inet/cwininet.h"
#include "support/ansi.h"
#include "support/components.h"
#include "support/debug_log.h"
#include "support/handles.h"
#include "support/paths.h"
#include "support/server_reply.h"
#include "support/temp_file.h"
#include "support/text.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {

constexpr INTERNET_PORT kFtpPort = 21;
constexpr DWORD kChunk = 2048;
constexpr char kAgent[] = "vb wininet";

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

// The server's files as the replacement rules see them, through one connection.
class ServerFiles final : public RemoteFiles {
 public:
  explicit ServerFiles(HINTERNET connection) : connection_(connection) {}
  RemoteEntry Find(const std::wstring& name) override {
    WIN32_FIND_DATAA found{};
    UniqueInternet find(FtpFindFirstFileA(connection_, ToAnsi(name).c_str(), &found, 0, 0));
    if (!find) return {};
    return ListedEntry(name, FromAnsi(found.cFileName), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                       (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
  }
  bool Rename(const std::wstring& from, const std::wstring& to) override {
    return FtpRenameFileA(connection_, ToAnsi(from).c_str(), ToAnsi(to).c_str()) != FALSE;
  }
  bool Remove(const std::wstring& name) override { return FtpDeleteFileA(connection_, ToAnsi(name).c_str()) != FALSE; }
  void Note(const std::wstring& text) override { WriteDebugLog(L"cWinINET:UploadFile " + text, 5, kMarkNone); }

 private:
  HINTERNET connection_;
};

// How many names are tried before giving up: each costs a listing on the server (about a
// second for a name that exists, under Wine).
constexpr int kNameAttempts = 100;

// A name for the upload's temporary copy that nothing in the destination's remote folder
// carries yet. A name drawn locally is unique only on this machine; another uploader
// may hold it in the remote folder. Empty when no free name was found.
std::wstring TemporaryUploadOnServer(RemoteFiles& server, const std::wstring& remoteName) {
  const std::wstring extension = ExtensionPart(remoteName);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::wstring local = GetTempFile(std::wstring(), extension);
    if (local.empty()) return std::wstring();
    // The name service leaves an empty local file for a "TMP" name; only the name is used.
    if (extension.empty() || UpperCase(extension) == L"TMP") DeleteFileW(local.c_str());
    const std::wstring upload = TemporaryUploadName(remoteName, FileNamePart(local));
    if (server.Find(upload).kind == RemoteEntry::kMissing) return upload;
  }
  return std::wstring();
}

// Whether the connection can enter `remote` as a folder: the one question every server
// answers alike (a listing of a folder may show the folder or its contents, or nothing
// when it is empty). The connection goes back where it was; it may be the caller's.
bool IsRemoteFolder(HINTERNET connection, const std::string& remote) {
  char here[INTERNET_MAX_PATH_LENGTH + 1] = {};
  DWORD length = INTERNET_MAX_PATH_LENGTH;
  // Without knowing the way back it does not move; the replacement still refuses a
  // folder it lists.
  if (!FtpGetCurrentDirectoryA(connection, here, &length)) return false;
  if (!FtpSetCurrentDirectoryA(connection, remote.c_str())) return false;
  FtpSetCurrentDirectoryA(connection, here);
  return true;
}

// The server's final reply to the transfer, read by WinINet when the remote file is
// closed, as this thread's last response; 0 when WinINet keeps no text.
int FinalReplyCode() { return LastReplyCode(LastServerReply()); }

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
  ServerFiles server(connection);
  // Writing directly onto a folder fails by itself; the replacement would move it aside,
  // so that is found out before anything is written.
  if (UploadToTempFile && IsRemoteFolder(connection, ToAnsi(remoteName))) return kUnableToWriteDestination;
  const std::wstring upload = UploadToTempFile ? TemporaryUploadOnServer(server, remoteName) : remoteName;
  if (upload.empty()) return kUnableToWriteDestination;

  UniqueInternet remoteFile(
      FtpOpenFileA(connection, ToAnsi(upload).c_str(), GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0));
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
    DiscardOnServer(server, upload, L"a cancelled upload");
    result = kUserCancelled;
  } else if (readFailed || writeFailed || refused) {
    // A partial copy under a temporary name is of no use to anyone; a partial direct
    // upload is all the server has of the file, so it stays.
    if (UploadToTempFile) DiscardOnServer(server, upload, L"an incomplete upload");
    result = readFailed ? kUnableToReadSource : kUnableToWriteDestination;
  } else if (UploadToTempFile) {
    result = PutUploadInPlace(server, upload, remoteName, length);
  }
  if (listenerError) std::rethrow_exception(listenerError);
  return result;
}

}  // namespace velmora
