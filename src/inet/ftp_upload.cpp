// cWinINET::UploadFile: one local file to an FTP server, directly or under a temporary
// name that replaces the destination only once the whole file has arrived.
#include <windows.h>
#include <wininet.h>

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

bool RemoteExists(HINTERNET connection, const std::string& name) {
  WIN32_FIND_DATAA found{};
  UniqueInternet find(FtpFindFirstFileA(connection, name.c_str(), &found, 0, 0));
  return static_cast<bool>(find);
}

// A unique name for the upload's temporary copy on the server. Only its file-name part
// is used; the empty local file the name service leaves for a "TMP" name is not needed.
std::wstring TemporaryRemoteFileName(const std::wstring& remoteName) {
  const std::wstring extension = ExtensionPart(remoteName);
  const std::wstring local = GetTempFile(std::wstring(), extension);
  if (local.empty()) return std::wstring();
  if (extension.empty() || UpperCase(extension) == L"TMP") DeleteFileW(local.c_str());
  return FileNamePart(local);
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
  std::wstring uploadName = remoteName;
  if (UploadToTempFile) {
    const std::wstring temporary = TemporaryRemoteFileName(remoteName);
    if (temporary.empty()) return kUnableToWriteDestination;
    uploadName = TemporaryUploadName(remoteName, temporary);
  }
  const std::string remote = ToAnsi(remoteName);
  const std::string upload = ToAnsi(uploadName);

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

  int32_t result = kUploadSuccessful;
  if (cancel) {
    FtpDeleteFileA(connection, upload.c_str());
    result = kUserCancelled;
  } else if (readFailed || writeFailed) {
    // A partial copy under a temporary name is of no use to anyone; a partial direct
    // upload is all the server has of the file, so it stays.
    if (UploadToTempFile) FtpDeleteFileA(connection, upload.c_str());
    result = readFailed ? kUnableToReadSource : kUnableToWriteDestination;
  } else if (UploadToTempFile) {
    // Only an ".old" file this call made is deleted or renamed back: one that was there
    // before belongs to someone else.
    const std::string old = remote + ".old";
    bool madeOld = false;
    if (RemoteExists(connection, remote)) {
      if (!FtpRenameFileA(connection, remote.c_str(), old.c_str())) return kUnableToWriteDestination;
      madeOld = true;
    }
    if (FtpRenameFileA(connection, upload.c_str(), remote.c_str())) {
      if (madeOld) FtpDeleteFileA(connection, old.c_str());
    } else {
      FtpDeleteFileA(connection, upload.c_str());
      if (madeOld) FtpRenameFileA(connection, old.c_str(), remote.c_str());
      result = kUnableToWriteDestination;
    }
  }
  if (listenerError) std::rethrow_exception(listenerError);
  return result;
}

}  // namespace velmora
