// The window's HTTP download: one request's URL into its destination file, chunk by
// chunk through the shared session and transfer buffer, with progress in the status bar
// and the tray tip.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "app/main_window.h"
#include "support/ansi.h"
#include "support/components.h"
#include "support/debug_log.h"
#include "support/handles.h"
#include "support/offthread.h"
#include "support/paths.h"
#include "support/text.h"
#include "support/velmora_general.h"
#include "support/http_header.h"
#include "transfer/local_target.h"
#include "transfer/resume_rules.h"
#include "transfer/sha256.h"

namespace velmora {

namespace {

void Log(const std::wstring& text, int mark = kMarkNone) { WriteDebugLog(text, 10, mark); }

constexpr ULONGLONG kShowEveryMs = 50;

// Puts the write position after the `kept` bytes of the part, reading them into the
// hash on the way when there is one.
bool FollowKeptBytes(HANDLE file, int64_t kept, Sha256Hasher* hasher) {
  if (!hasher) {
    LARGE_INTEGER at{};
    at.QuadPart = kept;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != FALSE;
  }
  return HashKeptBytes(file, kept, *hasher);
}

}  // namespace

bool frmVelmoraSkytrove::DownloadHTTPFile(DownloadRequest& request) {
  const std::wstring& url = request.SourceFileName;
  const std::wstring& destination = request.DestinationFileName;
  Log(L"Start frmVelmoraSkytrove:DownloadHTTPFile " + url, kMarkStart);
  if (!session_) {
    SetFailureReason(L"No Internet Handle");
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - No Internet Handle", kMarkEnd);
    return false;
  }
  if (!bufferHandle_ || buffer_ == nullptr) {
    SetFailureReason(L"No Buffer Handle");
    Log(L"No Buffer Handle", kMarkEnd);
    return false;
  }
  SetStatusText(L" Download HTTP file..");
  SetStatusText(L" Opening Download file..(Creating " + destination + L")");

  // Declared before the file handle so the handle is closed before the part is looked at.
  PartFile part(DestinationWritable(destination) ? destination : std::wstring());
  std::wstring recorded;
  int64_t kept = part.Kept(url, recorded);
  UniqueFile file;
  if (!part.Path().empty())
    file.reset(CreateFileW(part.Path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    SetFailureReason(L"Create file " + destination + L" FAILED");
    Log(L"Create file " + destination + L" FAILED", kMarkEnd);
    SetStatusText(L"");
    return false;
  }
  Log(L"Create file " + destination + L" OK - " + ToDecimal(reinterpret_cast<intptr_t>(file.get())));

  SetStatusText(L" Downloading File - " + url);
  Log(L"Open URL " + url);
  UniqueNetwork handle;
  int64_t status = 0;
  std::wstring validator;
  int64_t offset = 0;
  // A second open only when the server would not continue the kept bytes.
  for (int round = 0; round < 2; ++round) {
    const std::wstring headers = kept > 0 ? ResumeHeaders(kept, recorded) : std::wstring();
    if (kept > 0) Log(L"Resuming " + destination + L" from byte " + ToDecimal(kept));
    Log(L"InternetOpenURL " + url);
    // The open waits for the server's answer: on the worker, with the window answering
    // meanwhile. Closing the session is what ends it when the agent is closed.
    // A stall gives the open up without the session: the handle it may still bring back
    // is closed by the worker itself.
    auto gaveUp = std::make_shared<std::atomic<bool>>(false);
    NoteData();
    handle.reset(offthread::Call([session = session_.get(), ansiUrl = ToAnsi(url), ansiHeaders = ToAnsi(headers),
                                  gaveUp] {
                   HINTERNET opened = InternetOpenUrlA(
                       session, ansiUrl.c_str(), ansiHeaders.empty() ? nullptr : ansiHeaders.c_str(),
                       ansiHeaders.empty() ? 0 : static_cast<DWORD>(-1), INTERNET_FLAG_PASSIVE | INTERNET_FLAG_NO_CACHE_WRITE, 0);
                   if (opened != nullptr && gaveUp->load()) {
                     InternetCloseHandle(opened);
                     opened = nullptr;
                   }
                   return opened;
                 }, [this, gaveUp] {
                   gaveUp->store(true);
                   if (offthread::ShuttingDown()) session_.reset();
                 }).value);
    NoteData();
    if (round == 0) timing::Pause(0.5);
    if (unloaded_) {
      handle.release();  // closed with the session by the shut-down
      Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - Window Unloaded", kMarkEnd);
      return false;
    }
    if (RunningCancelled()) {
      part.Discard();
      SetStatusText(L"");
      Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - cancelled", kMarkEnd);
      return false;
    }
    if (!handle) {
      Log(L"Open URL " + url + L" FAILED");
      SetStatusText(L"");
      file.reset();
      Log(L"Deleting destination file" + destination);
      SetStatusText(L"");
      SetFailureReason(L"failed to get Internet Connection to URL");
      SetFailureKind(FailureKind::NoConnection);
      Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - failed to get Internet Connection to URL", kMarkEnd);
      return false;
    }
    status = 0;
    HttpHeaderNumber(handle.get(), HTTP_QUERY_STATUS_CODE, status);
    validator = HttpValidator(HttpHeaderText(handle.get(), HTTP_QUERY_ETAG),
                              HttpHeaderText(handle.get(), HTTP_QUERY_LAST_MODIFIED));
    if (kept == 0) break;
    const RangeAnswer answer =
        JudgeRangeAnswer(status, HttpHeaderText(handle.get(), HTTP_QUERY_CONTENT_RANGE), kept, recorded, validator);
    if (answer == RangeAnswer::Continue) offset = kept;
    if (answer != RangeAnswer::Refused) break;
    // Not the kept bytes' continuation: they are dropped and the whole file asked for.
    Log(L"Resume refused - HTTP status " + ToDecimal(status) + L", asking for the whole file");
    handle.reset();
    kept = 0;
    if (!part.Empty(file.get())) {
      SetFailureReason(L"failed to write to file");
      Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - failed to write to file", kMarkEnd);
      return false;
    }
  }
  Log(L"Open URL " + url + L" OK");

  // An error page is not the file that was asked for.
  if (status >= 400) {
    SetStatusText(L"");
    SetFailureReason(L"HTTP status " + ToDecimal(status));
    SetFailureKind(FailureKind::HttpStatus, static_cast<int>(status));
    int64_t retryAfter = -1;
    // Seconds only; a date form is read as no advice (the doubling delays apply).
    if (HttpHeaderNumber(handle.get(), HTTP_QUERY_RETRY_AFTER, retryAfter))
      retryAfter_ = static_cast<int>(std::min<int64_t>(retryAfter, 300));
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - HTTP status " + ToDecimal(status), kMarkEnd);
    return false;
  }
  // Hashed as written, so the check costs no second pass over the file; continued bytes
  // are read back into the hash, which leaves the file at their end.
  std::unique_ptr<Sha256Hasher> hasher;
  if (!sha256_.empty()) hasher = std::make_unique<Sha256Hasher>();
  const bool placed = offset > 0 ? FollowKeptBytes(file.get(), offset, hasher.get())
                                 : part.StartOver(file.get(), url, validator);
  if (!placed) {
    SetStatusText(L"");
    SetFailureReason(L"failed to write to file");
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - failed to write to file", kMarkEnd);
    return false;
  }
  int64_t announced = -1;
  HttpHeaderNumber(handle.get(), HTTP_QUERY_CONTENT_LENGTH, announced);  // stays -1 without one

  int64_t total = 0;
  // Counts and progress are of the whole file, the kept bytes included.
  const int64_t whole = announced >= 0 ? offset + announced : -1;
  NoteProgress(offset, whole);
  SetStatusText(L" Downloading file - " + url);
  const std::wstring groupSeparator = GroupSeparator();
  bool readFailed = false;
  bool writeShort = false;
  // The worker reads into a chunk of its own: after a shut-down it may still be reading
  // when the window's buffer is long gone.
  auto chunk = std::make_shared<std::vector<char>>(kTransferBufferSize);
  struct Read {
    bool ok = false;
    DWORD got = 0;
  };
  auto startRead = [&handle, chunk] {
    return offthread::Begin([h = handle.get(), chunk] {
      Read r;
      r.ok = InternetReadFile(h, chunk->data(), static_cast<DWORD>(chunk->size()), &r.got) != FALSE;
      return r;
    });
  };
  ULONGLONG lastShown = 0;
  auto pending = startRead();
  for (;;) {
    const Read read = pending.Wait([&handle] { handle.reset(); }).value;
    DWORD got = read.ok ? std::min<DWORD>(read.got, static_cast<DWORD>(kTransferBufferSize)) : 0;
    if (!read.ok && !unloaded_) readFailed = true;
    if (got > 0) {
      std::memcpy(buffer_, chunk->data(), got);
      NoteData();
    }
    total += got;
    Log(L"Read " + ToDecimal(got) + L" bytes from website " + ToDecimal(offset + total) + L" total");
    if (unloaded_ || RunningCancelled()) break;
    // The next chunk is on its way while this one is shown, paused over and written.
    if (got > 0) pending = startRead();
    if (got > 0) NoteProgress(offset + total, whole);
    // The count as a person can read it: at most every 50 ms, and the last one always.
    const ULONGLONG now = GetTickCount64();
    if (got == 0 || now - lastShown >= kShowEveryMs) {
      lastShown = now;
      SetStatusCount(L" Downloaded " + GroupThousands(offset + total, groupSeparator) + L" bytes");
      ShowTrayTip(statusBar1_.Text());
    }
    timing::Pause(0.001);
    if (unloaded_ || RunningCancelled() || got == 0) break;
    Log(L"Writing bytes to file");
    DWORD written = 0;
    if (!WriteFile(file.get(), buffer_, got, &written, nullptr) || written != got) {
      writeShort = true;
      break;
    }
    if (hasher) hasher->Add(buffer_, got);
  }
  Log(L"Finished download loop");
  if (unloaded_) {
    ShowTrayTip(L"");
    handle.release();  // closed with the session by the shut-down
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - Window Unloaded", kMarkEnd);
    return false;
  }
  if (RunningCancelled()) {
    // A cancelled request keeps nothing; the destination was never touched.
    part.Discard();
    SetStatusText(L"");
    ShowTrayTip(L"");
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - cancelled", kMarkEnd);
    return false;
  }

  const bool shortBody = announced >= 0 && total < announced;
  if (readFailed || writeShort || shortBody) {
    SetStatusText(L"");
    ShowTrayTip(L"");
    const std::wstring why = readFailed   ? L"failed to read from URL"
                             : writeShort ? L"failed to write to file"
                                          : L"received " + ToDecimal(total) + L" of " + ToDecimal(announced) + L" bytes";
    SetFailureReason(why);
    if (!writeShort) SetFailureKind(FailureKind::CutShort);
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - " + why, kMarkEnd);
    return false;
  }
  if (hasher) {
    std::array<unsigned char, 32> digest{};
    const bool hashed = hasher->Finish(digest);
    if (!hashed || !DigestMatches(sha256_, digest.data(), digest.size())) {
      ShowTrayTip(L"");
      SetStatusText(L"");
      const std::wstring why = hashed ? L"checksum mismatch: the data hashes to " + DigestText(digest)
                                      : std::wstring(L"checksum could not be computed");
      part.Discard();
      SetFailureReason(why);
      Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - " + why, kMarkEnd);
      return false;
    }
  }

  SetStatusText(L" Finished downloading file");
  Log(L"Closing URL");
  handle.reset();
  Log(L"Closing File " + ToDecimal(reinterpret_cast<intptr_t>(file.get())));
  file.reset();
  // Closing the URL waited (running messages): a closing agent, or a cancelled request,
  // never replaces a file.
  if (unloaded_ || RunningCancelled()) {
    ShowTrayTip(L"");
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - " + std::wstring(unloaded_ ? L"Window Unloaded" : L"cancelled"),
        kMarkEnd);
    return false;
  }
  if (!part.PutInPlace()) {
    ShowTrayTip(L"");
    SetStatusText(L"");
    SetFailureReason(L"failed to replace " + destination);
    Log(L"Exit frmVelmoraSkytrove:DownloadHTTPFile - failed to replace " + destination, kMarkEnd);
    return false;
  }
  ShowTrayTip(L"");
  SetStatusText(L"");
  Log(L"Finish frmVelmoraSkytrove:DownloadHTTPFile", kMarkEnd);
  return true;
}

}  // namespace velmora
