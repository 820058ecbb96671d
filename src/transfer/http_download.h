// One HTTP download: a request's URL into its destination, through the shared session and
// transfer buffer, continuing bytes an earlier attempt kept when the server proves the
// same content. One object per attempt.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "protocol/download_request.h"
#include "support/handles.h"
#include "transfer/attempt.h"
#include "transfer/change_rules.h"
#include "transfer/resume_rules.h"
#include "transfer/transfer_host.h"

namespace velmora {

class PartFile;
class Sha256Hasher;

class HttpDownload {
 public:
  // `sha256`: the digest the data must hash to; empty for none.
  HttpDownload(TransferHost& host, DownloadRequest& request, std::wstring sha256);
  ~HttpDownload();
  HttpDownload(const HttpDownload&) = delete;
  HttpDownload& operator=(const HttpDownload&) = delete;
  AttemptResult Run();

 private:
  // Each step says how the attempt ended when it ends there, nothing when it goes on.
  std::optional<AttemptResult> OpenPart();
  std::optional<AttemptResult> OpenUrl();
  std::optional<AttemptResult> ReadBody();
  AttemptResult Finish();
  // A 304 to the condition: the destination was current, and is left exactly as it is.
  AttemptResult KeptAsItIs();
  AttemptResult Fail(const std::wstring& why, FailureKind kind = FailureKind::Permanent, int code = 0);
  AttemptResult Unloaded();
  AttemptResult Cancelled(bool countShown);

  TransferHost& host_;
  DownloadRequest& request_;
  const std::wstring sha256_;
  const std::wstring& url_;
  const std::wstring& destination_;
  // In this order: the URL is closed before the file, the file before the part is looked at.
  std::unique_ptr<PartFile> part_;
  UniqueFile file_;
  UniqueNetwork handle_;
  std::unique_ptr<Sha256Hasher> hasher_;
  std::wstring recorded_;   // the kept bytes' validator
  std::wstring validator_;  // the answer's
  std::wstring etag_;       // the answer's ETag and Last-Modified as sent, for a change record
  std::wstring modified_;
  std::optional<ChangeRecord> record_;  // IfChanged=1: what the destination was placed as
  std::wstring condition_;  // the one conditional header sent; empty: none
  RangeJudgement range_;    // how the answer was taken; Continue: the bytes it names
  int64_t kept_ = 0;
  int64_t offset_ = 0;      // where the body starts in the file: the kept bytes continued
  int64_t status_ = 0;
  int64_t announced_ = -1;  // the body's Content-Length; -1 without one
  int64_t total_ = 0;       // body bytes received
  bool readFailed_ = false;
  bool writeShort_ = false;
  bool beyondRange_ = false;  // the body ran on past its range
};

}  // namespace velmora
