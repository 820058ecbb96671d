// A request's FTP work: its file (and linked file) fetched through the agent's cFTP
// object with the remote size and last-write time, or one remote file deleted. One object
// per attempt.
#pragma once

#include <string>

#include "protocol/download_request.h"
#include "transfer/attempt.h"
#include "transfer/transfer_host.h"

namespace velmora {

class FtpDownload {
 public:
  // `sha256` names the request's own file, not the linked one; empty for no check.
  FtpDownload(TransferHost& host, DownloadRequest& request, std::wstring sha256)
      : host_(host), request_(request), sha256_(std::move(sha256)) {}
  // The file, then the linked file: once the file is in place the attempt has succeeded,
  // and a linked file that fails for any reason only leaves its fields out of the reply.
  AttemptResult Run();

 private:
  AttemptResult Fetch(bool linked);
  TransferHost& host_;
  DownloadRequest& request_;
  const std::wstring sha256_;
};

class FtpDelete {
 public:
  FtpDelete(TransferHost& host, const DownloadRequest& request) : host_(host), request_(request) {}
  AttemptResult Run();

 private:
  TransferHost& host_;
  const DownloadRequest& request_;
};

}  // namespace velmora
