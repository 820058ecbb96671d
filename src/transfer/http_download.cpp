// The window's HTTP download: one request's URL into its destination file, chunk by
// chunk through the shared session and transfer buffer, with progress in the status bar
// and the tray tip.
#include <windows.h>
#include <wininet.h>

#include "app/main_window.h"
#include "support/ansi.h"
#include "support/components.h"
#include "support/debug_log.h"
#include "support/handles.h"
#include "support/paths.h"
#include "support/text.h"
#include "support/velmora_general.h"
#include "transfer/http_header.h"
#include "transfer/local_target.h"

namespace velmora {

namespace {

void Log(const std::wstring& text, int mark = kMarkNone) { WriteDebugLog(text, 10, mark); }

std::wstring GroupSeparator() {
  wchar_t buffer[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, buffer, 8) > 0) return buffer;
  return L",";
}

}  // namespace

bool frmVelmoraSkytrove::DownloadHTTPFile(DownloadRequest& request) {
  const std::wstring& url = request.SourceFileName;
  const std::wstring& destination = request.DestinationFileName;
  Log(L"Start frmVelmoraSkytrove:DownloadHTTPFile " + url, kMarkStart);
  if (!session_) {
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - No Internet Handle", kMarkEnd);
    return false;
  }
  if (!bufferHandle_ || buffer_ == nullptr) {
    Log(L"No Buffer Handle", kMarkEnd);
    return false;
  }
  SetStatusText(L" Download HTTP file..");
  SetStatusText(L" Opening Download file..(Creating " + destination + L")");

  // Declared before the file handle so the handle is closed before the file is deleted.
  TemporaryFile guard(DestinationWritable(destination) ? TemporaryBeside(destination) : std::wstring());
  UniqueFile file;
  if (!guard.Path().empty())
    file.reset(CreateFileW(guard.Path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    Log(L"Create file " + destination + L" FAILED", kMarkEnd);
    SetStatusText(L"");
    return false;
  }
  Log(L"Create file " + destination + L" OK - " + ToDecimal(reinterpret_cast<intptr_t>(file.get())));

  SetStatusText(L" Downloading File - " + url);
  Log(L"Open URL " + url);
  Log(L"InternetOpenURL " + url);
  const std::string ansiUrl = ToAnsi(url);
  UniqueInternet handle(InternetOpenUrlA(session_.get(), ansiUrl.c_str(), nullptr, 0,
                                         INTERNET_FLAG_PASSIVE | INTERNET_FLAG_NO_CACHE_WRITE, 0));
  timing::Pause(0.5);
  if (unloaded_) {
    handle.release();  // closed with the session by the shut-down
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - Window Unloaded", kMarkEnd);
    return false;
  }
  if (!handle) {
    Log(L"Open URL " + url + L" FAILED");
    SetStatusText(L"");
    file.reset();
    Log(L"Deleting destination file" + destination);
    SetStatusText(L"");
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - failed to get Internet Connection to URL", kMarkEnd);
    return false;
  }
  Log(L"Open URL " + url + L" OK");

  // An error page is not the file that was asked for.
  int64_t status = 0;
  if (HttpHeaderNumber(handle.get(), HTTP_QUERY_STATUS_CODE, status) && status >= 400) {
    SetStatusText(L"");
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - HTTP status " + ToDecimal(status), kMarkEnd);
    return false;
  }
  int64_t announced = -1;
  HttpHeaderNumber(handle.get(), HTTP_QUERY_CONTENT_LENGTH, announced);  // stays -1 without one

  int64_t total = 0;
  SetStatusText(L" Downloading file - " + url);
  const std::wstring groupSeparator = GroupSeparator();
  bool readFailed = false;
  bool writeShort = false;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(handle.get(), buffer_, static_cast<DWORD>(kTransferBufferSize), &got)) {
      readFailed = true;
      got = 0;
    }
    total += got;
    Log(L"Read " + ToDecimal(got) + L" bytes from website " + ToDecimal(total) + L" total");
    if (unloaded_) break;
    SetStatusText(L" Downloaded " + GroupThousands(total, groupSeparator) + L" bytes");
    ShowTrayTip(statusBar1_.Text());
    timing::Pause(0.001);
    if (unloaded_ || got == 0) break;
    Log(L"Writing bytes to file");
    DWORD written = 0;
    if (!WriteFile(file.get(), buffer_, got, &written, nullptr) || written != got) {
      writeShort = true;
      break;
    }
  }
  Log(L"Finished download loop");
  if (unloaded_) {
    ShowTrayTip(L"");
    handle.release();  // closed with the session by the shut-down
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - Window Unloaded", kMarkEnd);
    return false;
  }

  const bool shortBody = announced >= 0 && total < announced;
  if (readFailed || writeShort || shortBody) {
    SetStatusText(L"");
    ShowTrayTip(L"");
    Log(std::wstring(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - ") +
            (readFailed ? L"failed to read from URL"
                        : writeShort ? L"failed to write to file"
                                     : L"received " + ToDecimal(total) + L" of " + ToDecimal(announced) + L" bytes"),
        kMarkEnd);
    return false;
  }

  SetStatusText(L" Finished downloading file");
  Log(L"Closing URL");
  handle.reset();
  Log(L"Closing File " + ToDecimal(reinterpret_cast<intptr_t>(file.get())));
  file.reset();
  if (!guard.PutInPlace(destination)) {
    ShowTrayTip(L"");
    SetStatusText(L"");
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - failed to replace " + destination, kMarkEnd);
    return false;
  }
  ShowTrayTip(L"");
  SetStatusText(L"");
  Log(L"Finish frmVelmoraSkytrove:DownloadHTTPFile", kMarkEnd);
  return true;
}

}  // namespace velmora
