// One FTP connection through WinINet, with its own internet handle, the last error
// code of the operating system and the result of the last listing. Every call that talks to
// the server runs on the network worker while the calling thread runs its messages.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/handles.h"
#include "transfer/ftp_rules.h"

// The class's operations are named after the FTP verbs; the Win32 macros of the same
// names would silently rename them, so they are not used where this header is seen.
#undef DeleteFile
#undef CreateDirectory

namespace velmora {

class PaceGate;

class Sha256Hasher;

class cFTP {
 public:
  cFTP() = default;
  ~cFTP();
  cFTP(const cFTP&) = delete;
  cFTP& operator=(const cFTP&) = delete;

  bool Connect(const std::wstring& ServerAddress, int16_t Port = 0, const std::wstring& UserName = L"",
               const std::wstring& Password = L"", bool PassiveMode = false);
  // A copy of listing entry `index`; all zero outside the listing. Throws
  // std::out_of_range when this object never listed anything.
  WIN32_FIND_DATAA ListItem(int32_t index) const;
  bool List(const std::wstring& Path);
  int32_t ListCount() const;
  bool DeleteFile(const std::wstring& Filename, const std::wstring& Path = L"");
  bool DeleteDirectory(const std::wstring& Path);
  bool CreateDirectory(const std::wstring& Path);
  // `BufLen` gives the buffer size in characters and receives the length returned.
  bool GetRemoteDirectory(std::wstring& DirectoryOut, int32_t& BufLen);
  bool SetRemoteDirectory(const std::wstring& Directory);
  bool UploadFile(const std::wstring& LocalFilePath, const std::wstring& RemoteFilename,
                  uint32_t TransferType, uint32_t Caching);
  bool DownloadFile(const std::wstring& RemoteFilename, const std::wstring& LocalFilePath,
                    bool FailIfExists, uint32_t LocalFileFlags, uint32_t TransferType, uint32_t Caching);
  // The remote file into an open local file at its current position, from byte `offset`
  // of the remote file ("REST offset" first when it is not 0). `offset` comes back as the
  // byte the server really started from (0 when it refused REST; the local file is then
  // emptied first), `received` as the bytes written. The file is written and closed on the
  // network worker; once `gaveUp` is set, nothing more is written to it. With `hasher`,
  // the whole file (the kept bytes it continues included) is hashed there as it is written;
  // `local` must then be readable too. With `pace`, the reads are held to its cap.
  bool DownloadInto(const std::wstring& RemoteFilename, std::shared_ptr<UniqueFile> local, int64_t& offset,
                    int64_t& received, uint32_t TransferType, uint32_t Caching,
                    std::shared_ptr<std::atomic<bool>> gaveUp, std::shared_ptr<Sha256Hasher> hasher = nullptr,
                    std::shared_ptr<PaceGate> pace = nullptr);
  // The remote file's exact size ("SIZE") and last-write time to the second ("MDTM"), as
  // far as the server has them: either may be missing (-1, empty) and still the call
  // succeeds; false only when the connection took no command at all.
  bool FileFacts(const std::wstring& RemotePath, FtpFileFacts& facts);
  bool GetRemoteFileSize(const std::wstring& RemoteFilename, int64_t& FileSizeOut,
                         uint32_t TransferType, uint32_t Caching);
  bool Disconnect();
  int32_t LastError() const { return lastError_; }
  // The server's own words when `LastError` stands for a server reply (extended error,
  // login refused), e.g. "550 No such file or directory."; empty otherwise.
  const std::wstring& LastResponse() const { return lastResponse_; }

 private:
  bool Connected() const { return connection_ && internet_; }
  // Makes `call` (which returns whether it succeeded and owns what it writes to) on the
  // network worker and keeps its error code and the server's reply.
  template <typename F>
  bool Remote(F call);
  // A folder change on the server, connected or not (WinINet then says why not).
  bool ChangeDirectory(const std::wstring& Directory);
  // A live connection, then the remote file's folder: how both downloads start.
  bool ReadyToDownload(const std::wstring& RemoteFilename);
  // The shut-down's way to end a call in flight: closing the handles it waits on.
  void CloseHandles() noexcept;

  UniqueNetwork internet_;
  UniqueNetwork connection_;
  int32_t lastError_ = 0;
  std::wstring lastResponse_;
  bool listed_ = false;
  std::vector<WIN32_FIND_DATAA> listing_;
};

}  // namespace velmora
