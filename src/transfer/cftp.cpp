// One FTP connection through WinINet. Every operation answers with a Boolean and leaves
// the system's error code in LastError; the only thing ever thrown is ListItem's
// out-of-range error on an object that never listed anything.
#include "transfer/cftp.h"

#include <algorithm>
#include <string>
#include <vector>
#include <memory>
#include <stdexcept>

#include "support/ansi.h"
#include "support/debug_log.h"
#include "support/offthread.h"
#include "support/server_reply.h"
#include "support/velmora_general.h"
#include "transfer/ftp_rules.h"
#include "transfer/pace_gate.h"
#include "transfer/sha256.h"

namespace velmora {

namespace {

void Log(const std::wstring& text, int mark = kMarkNone) { WriteDebugLog(text, 10, mark); }

// The flags word of InternetOpenA, kept as the program has always passed it.
constexpr DWORD kOpenFlags = 4;

// Runs on the worker straight after a failed call: the server's reply belongs to the last
// WinINet call of the thread that made it. Only for codes that stand for a reply the
// server just gave; its words say more than the code.
std::wstring ServerReply(DWORD error) {
  const bool serverSaid = error == ERROR_INTERNET_EXTENDED_ERROR || error == ERROR_INTERNET_LOGIN_FAILURE ||
                          error == ERROR_INTERNET_INCORRECT_PASSWORD || error == ERROR_INTERNET_INCORRECT_USER_NAME;
  if (!serverSaid) return std::wstring();
  std::string text = LastServerReply();
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return FromAnsi(text);
}

// One command on the control connection, on the worker, and the server's whole reply to
// it; false when the command could not be sent or the server refused it (4xx, 5xx).
bool Command(HINTERNET connection, const std::string& command, std::string& reply) {
  const bool ok = FtpCommandA(connection, FALSE, FTP_TRANSFER_TYPE_BINARY, command.c_str(), 0, nullptr) != FALSE;
  reply = ok ? LastServerReply() : std::string();
  return ok;
}

}  // namespace

cFTP::~cFTP() {
  try {
    Disconnect();
  } catch (...) {
    // Only a log line can fail here; the handles are closed by their owners regardless.
  }
}

template <typename F>
bool cFTP::Remote(F call) {
  struct Reply {
    bool ok = false;
    DWORD code = 0;
    std::wstring response;
  };
  auto made = offthread::Call(
      [call = std::move(call)]() mutable {
        Reply reply;
        reply.ok = call();
        if (!reply.ok) {
          reply.code = GetLastError();
          reply.response = ServerReply(reply.code);
        }
        return reply;
      },
      [this] { CloseHandles(); });
  if (!made.outcome.finished) {
    lastError_ = ERROR_INTERNET_OPERATION_CANCELLED;
    lastResponse_.clear();
    return false;
  }
  lastError_ = static_cast<int32_t>(made.value.code);
  lastResponse_ = std::move(made.value.response);
  return made.value.ok;
}

void cFTP::CloseHandles() noexcept {
  connection_.reset();
  internet_.reset();
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
    lastError_ = static_cast<int32_t>(GetLastError());
    Log(L"Exit cFTP:Connect - No Internet Handle", kMarkEnd);
    return false;
  }
  auto made = std::make_shared<HINTERNET>(nullptr);
  const bool ok = Remote([made, session = internet_.get(), server = ToAnsi(ServerAddress), user = ToAnsi(UserName),
                          password = ToAnsi(Password), port = static_cast<INTERNET_PORT>(Port),
                          flags = DWORD(PassiveMode ? INTERNET_FLAG_PASSIVE : 0)] {
    *made = InternetConnectA(session, server.c_str(), port, user.c_str(), password.c_str(), INTERNET_SERVICE_FTP,
                             flags, 0);
    return *made != nullptr;
  });
  if (ok) {
    connection_.reset(*made);
    Log(L"Finish cFTP:Connect", kMarkEnd);
    return true;
  }
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
  struct Listing {
    std::vector<WIN32_FIND_DATAA> items;
    DWORD endCode = 0;
  };
  auto listing = std::make_shared<Listing>();
  const bool ok = Remote([listing, connection = connection_.get(), path = ToAnsi(Path)] {
    WIN32_FIND_DATAA first{};
    HINTERNET find = FtpFindFirstFileA(connection, path.c_str(), &first, INTERNET_FLAG_RELOAD, 0);
    if (find == nullptr) return false;
    listing->items.push_back(first);
    for (;;) {
      WIN32_FIND_DATAA next{};
      if (!InternetFindNextFileA(find, &next)) break;
      listing->items.push_back(next);
    }
    InternetCloseHandle(find);
    listing->endCode = GetLastError();
    return true;
  });
  // An empty folder or a missing file keeps the listing made before.
  if (!ok) return false;
  // The end-of-listing code, as the close leaves it: callers can tell a complete
  // listing (ERROR_NO_MORE_FILES) from one cut short.
  lastError_ = static_cast<int32_t>(listing->endCode);
  listing_ = std::move(listing->items);
  listed_ = true;
  return true;
}

int32_t cFTP::ListCount() const { return listed_ ? static_cast<int32_t>(listing_.size()) : 0; }

bool cFTP::DeleteFile(const std::wstring& Filename, const std::wstring& Path) {
  if (!Path.empty()) {
    bool changed = ChangeDirectory(L"/");
    // A Path without any "/" names no folder below the root: the file goes from "/".
    if (changed && Path.find(L'/') != std::wstring::npos)
      changed = ChangeDirectory(Path);
    if (!changed) return false;
  }
  return Remote([connection = connection_.get(), name = ToAnsi(Filename)] {
    return FtpDeleteFileA(connection, name.c_str()) != FALSE;
  });
}

bool cFTP::DeleteDirectory(const std::wstring& Path) {
  if (!ChangeDirectory(L"/")) return false;
  const std::wstring folder = RemoteDirectoryPart(Path);
  if (!folder.empty() && !ChangeDirectory(folder)) return false;
  return Remote([connection = connection_.get(), name = ToAnsi(RemoteNamePart(Path))] {
    return FtpRemoveDirectoryA(connection, name.c_str()) != FALSE;
  });
}

bool cFTP::CreateDirectory(const std::wstring& Path) {
  return Remote([connection = connection_.get(), path = ToAnsi(Path)] {
    return FtpCreateDirectoryA(connection, path.c_str()) != FALSE;
  });
}

bool cFTP::GetRemoteDirectory(std::wstring& DirectoryOut, int32_t& BufLen) {
  // The caller sizes the buffer; one more byte keeps the text terminated whatever
  // WinINet writes into it.
  struct Answer {
    std::string buffer;
    DWORD length = 0;
  };
  auto answer = std::make_shared<Answer>();
  answer->buffer.assign(static_cast<size_t>(std::max<int32_t>(BufLen, 0)) + 1, '\0');
  answer->length = static_cast<DWORD>(std::max<int32_t>(BufLen, 0));
  const bool ok = Remote([answer, connection = connection_.get()] {
    return FtpGetCurrentDirectoryA(connection, answer->buffer.data(), &answer->length) != FALSE;
  });
  BufLen = static_cast<int32_t>(answer->length);
  std::string& buffer = answer->buffer;
  buffer.resize(std::min(buffer.find('\0'), buffer.size()));
  DirectoryOut = FromAnsi(buffer);
  return ok;
}

bool cFTP::SetRemoteDirectory(const std::wstring& Directory) {
  if (!Connected()) return false;
  return ChangeDirectory(Directory);
}

bool cFTP::ChangeDirectory(const std::wstring& Directory) {
  return Remote([connection = connection_.get(), path = ToAnsi(Directory)] {
    return FtpSetCurrentDirectoryA(connection, path.c_str()) != FALSE;
  });
}

bool cFTP::UploadFile(const std::wstring& LocalFilePath, const std::wstring& RemoteFilename, uint32_t TransferType,
                      uint32_t Caching) {
  if (!Connected()) return false;
  return Remote([connection = connection_.get(), local = ToAnsi(LocalFilePath), remote = ToAnsi(RemoteFilename),
                 flags = DWORD(TransferType | Caching)] {
    return FtpPutFileA(connection, local.c_str(), remote.c_str(), flags, 0) != FALSE;
  });
}

bool cFTP::DownloadFile(const std::wstring& RemoteFilename, const std::wstring& LocalFilePath, bool FailIfExists,
                        uint32_t LocalFileFlags, uint32_t TransferType, uint32_t Caching) {
  Log(L"Start cFTP:DownloadFile", kMarkStart);
  if (!ReadyToDownload(RemoteFilename)) return false;
  const bool ok = Remote([connection = connection_.get(), remote = ToAnsi(RemoteNamePart(RemoteFilename)),
                          local = ToAnsi(LocalFilePath), failIfExists = FailIfExists ? TRUE : FALSE,
                          LocalFileFlags, flags = DWORD(TransferType | Caching)] {
    return FtpGetFileA(connection, remote.c_str(), local.c_str(), failIfExists, LocalFileFlags, flags, 0) != FALSE;
  });
  Log(std::wstring(L"FTPGetFile Result: ") + (ok ? L"True" : L"False"));
  Log(L"Finish cFTP:DownloadFile", kMarkEnd);
  return ok;
}

// Both downloads need a live connection and the file's folder as the current one.
bool cFTP::ReadyToDownload(const std::wstring& RemoteFilename) {
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
  return true;
}

bool cFTP::DownloadInto(const std::wstring& RemoteFilename, std::shared_ptr<UniqueFile> local, int64_t& offset,
                        int64_t& received, uint32_t TransferType, uint32_t Caching,
                        std::shared_ptr<std::atomic<bool>> gaveUp, std::shared_ptr<Sha256Hasher> hasher,
                        std::shared_ptr<PaceGate> pace) {
  Log(L"Start cFTP:DownloadFile", kMarkStart);
  received = 0;
  if (!ReadyToDownload(RemoteFilename)) return false;
  struct Progress {
    int64_t from = 0;
    int64_t received = 0;
  };
  auto progress = std::make_shared<Progress>();
  progress->from = offset;
  const bool ok = Remote([connection = connection_.get(), remote = ToAnsi(RemoteNamePart(RemoteFilename)), local,
                          progress, gaveUp, hasher, pace, flags = DWORD(TransferType | Caching)] {
    if (progress->from > 0) {
      // Only a "350" says the server will start there; anything else means from byte 0.
      // Binary first: some servers refuse a restart in ASCII mode, the default until the
      // open asks for binary.
      std::string reply;
      const bool accepted = Command(connection, "TYPE I", reply) &&
                            Command(connection, "REST " + std::to_string(progress->from), reply) &&
                            LastReplyCode(reply) == 350;
      if (!accepted) {
        LARGE_INTEGER zero{};
        if (!SetFilePointerEx(local->get(), zero, nullptr, FILE_BEGIN) || !SetEndOfFile(local->get())) return false;
        progress->from = 0;
      }
    }
    // Only now is it known which kept bytes the file goes on from.
    if (hasher && progress->from > 0 && !HashKeptBytes(local->get(), progress->from, *hasher)) return false;
    HINTERNET file = FtpOpenFileA(connection, remote.c_str(), GENERIC_READ, flags, 0);
    if (file == nullptr) return false;
    std::vector<char> chunk(1 << 16);
    bool read = true;
    DWORD error = 0;
    for (;;) {
      DWORD got = 0;
      // Under a cap, pieces of a tenth of a second of it: the waits between them stay short.
      const DWORD want = static_cast<DWORD>(pace ? pace->ReadSize(chunk.size()) : chunk.size());
      if (!InternetReadFile(file, chunk.data(), want, &got)) {
        error = GetLastError();
        read = false;
        break;
      }
      if (got == 0) break;
      DWORD written = 0;
      if (gaveUp->load() || !WriteFile(local->get(), chunk.data(), got, &written, nullptr) || written != got) {
        error = gaveUp->load() ? ERROR_INTERNET_OPERATION_CANCELLED : GetLastError();
        read = false;
        break;
      }
      if (hasher) hasher->Add(chunk.data(), got);
      progress->received += got;
      if (pace) pace->Take(progress->received, *gaveUp);
    }
    InternetCloseHandle(file);
    local->reset();
    SetLastError(error);
    return read;
  });
  offset = progress->from;
  received = progress->received;
  Log(std::wstring(L"FTPGetFile Result: ") + (ok ? L"True" : L"False"));
  Log(L"Finish cFTP:DownloadFile", kMarkEnd);
  return ok;
}

bool cFTP::FileFacts(const std::wstring& RemotePath, FtpFileFacts& facts) {
  facts = FtpFileFacts{};
  if (!Connected()) return false;
  auto asked = std::make_shared<FtpFileFacts>();
  const bool ok = Remote([asked, connection = connection_.get(), path = ToAnsi(RemotePath)] {
    // Binary first: a server may refuse SIZE in ASCII mode, where the size would depend on
    // the line ends.
    std::string reply;
    if (!Command(connection, "TYPE I", reply)) return false;
    if (Command(connection, "SIZE " + path, reply)) asked->size = SizeReply(reply);
    if (Command(connection, "MDTM " + path, reply)) asked->modified = FromAnsi(MdtmReply(reply));
    return true;
  });
  if (ok) facts = *asked;
  return ok;
}

bool cFTP::GetRemoteFileSize(const std::wstring& RemoteFilename, int64_t& FileSizeOut, uint32_t TransferType,
                             uint32_t Caching) {
  if (!Connected()) return false;
  auto size = std::make_shared<int64_t>(0);
  const bool ok = Remote([size, connection = connection_.get(), remote = ToAnsi(RemoteFilename),
                          flags = DWORD(TransferType | Caching)] {
    HINTERNET file = FtpOpenFileA(connection, remote.c_str(), GENERIC_READ, flags, 0);
    if (file == nullptr) return false;
    DWORD high = 0;
    const DWORD low = FtpGetFileSize(file, &high);
    *size = static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
    InternetCloseHandle(file);
    return true;
  });
  if (!ok) return false;
  FileSizeOut = *size;
  lastError_ = 0;
  lastResponse_.clear();
  return true;
}

bool cFTP::Disconnect() {
  Log(L"Start cFTP:Disconnect", kMarkStart);
  CloseHandles();
  lastError_ = 0;
  lastResponse_.clear();
  Log(L"Finish cFTP:Disconnect", kMarkEnd);
  return false;
}

}  // namespace velmora
