// cWinINET::DownloadFile: a URL's body into a local file. The body is written beside
// the file and put in its place only when all of it arrived, so a failed transfer
// leaves the old file as it was.
#include <windows.h>
#include <wininet.h>

#include "inet/cwininet.h"
#include "support/ansi.h"
#include "support/components.h"
#include "support/handles.h"
#include "support/http_header.h"
#include "support/paths.h"
#include "support/placement.h"

namespace velmora {

namespace {

constexpr char kAgent[] = "vb wininet";
constexpr DWORD kBufferSize = 2048;
constexpr DWORD kReadSize = 1024;
constexpr int64_t kChunksPerPump = 10;

}  // namespace

int32_t cWinINET::DownloadFile(const std::wstring& source, const std::wstring& fName, int32_t /*CallingReference*/,
                               const std::wstring& /*UserName*/, const std::wstring& /*Password*/,
                               HINTERNET hInternet, HINTERNET /*hConnection*/, bool PeriodicDoevents) {
  UniqueInternet ownSession;
  HINTERNET session = hInternet;
  if (session == nullptr) {
    ownSession.reset(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!ownSession) return kNoInternetConnection;
    session = ownSession.get();
  }

  UniqueInternet url(InternetOpenUrlA(session, ToAnsi(source).c_str(), nullptr, 0, 0, 0));
  if (!url) return kUnableToReadSource;
  // An error page is not the file that was asked for. Other schemes have no status.
  int64_t status = 0;
  if (HttpHeaderNumber(url.get(), HTTP_QUERY_STATUS_CODE, status) && status >= 400) return kUnableToReadSource;
  int64_t announced = -1;
  HttpHeaderNumber(url.get(), HTTP_QUERY_CONTENT_LENGTH, announced);  // stays -1 without one

  if (!DestinationWritable(fName)) return kUnableToWriteDestination;
  const std::wstring temporary = TemporaryBeside(fName);
  if (temporary.empty()) return kUnableToWriteDestination;
  TemporaryFile guard(temporary);
  UniqueFile file(CreateFileW(ExtendedPath(temporary).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, 0, nullptr));
  if (!file) return kUnableToWriteDestination;

  char buffer[kBufferSize];
  int64_t chunks = 0;
  int64_t total = 0;
  bool readFailed = false;
  bool writeFailed = false;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(url.get(), buffer, kReadSize, &got)) {
      readFailed = true;
      break;
    }
    if (got == 0) break;
    ++chunks;
    if (PeriodicDoevents && chunks % kChunksPerPump == 1) timing::RunWaitingMessages();
    DWORD written = 0;
    if (!WriteFile(file.get(), buffer, got, &written, nullptr) || written != got) {
      writeFailed = true;
      break;
    }
    total += written;
  }
  file.reset();
  url.reset();

  if (writeFailed) return kUnableToWriteDestination;
  // A connection that closes before the announced length is a failed read too.
  if (readFailed || (announced >= 0 && total < announced)) return kUnableToReadSource;
  return guard.PutInPlace(fName) ? kUploadSuccessful : kUnableToWriteDestination;
}

}  // namespace velmora
