// One HTTP download, chunk by chunk through the shared session and transfer buffer, with
// its count in the status bar and the tray tip.
#include "transfer/http_download.h"

#include <wininet.h>

#include <algorithm>
#include <atomic>

#include "support/ansi.h"
#include "support/components.h"
#include "support/debug_log.h"
#include "support/offthread.h"
#include "support/text.h"
#include "support/velmora_general.h"
#include "support/http_header.h"
#include "transfer/change_check.h"
#include "transfer/local_target.h"
#include "transfer/read_ahead.h"
#include "transfer/resume_rules.h"
#include "transfer/sha256.h"

namespace velmora {

namespace {

void Log(const std::wstring& text, int mark = kMarkNone) { WriteDebugLog(text, 10, mark); }

constexpr ULONGLONG kShowEveryMs = 50;
// Pieces read ahead: one reader reads them in turn (several reads of one handle taking turns
// on pool threads could wait on each other). At the design's pace they are large, so that
// the reader seldom competes with the window's pauses for the Wine server and the CPU (with
// 64 KB pieces each 1 ms pause took 6 % longer than with 256 KB ones): 1 MB ahead. The fast pace writes
// each piece as it was read: 64 KB, 512 KB ahead.
constexpr size_t kDesignPieceSize = 256 * 1024;
constexpr size_t kDesignDepth = 4;
constexpr size_t kFastPieceSize = 64 * 1024;
constexpr size_t kFastDepth = 8;
constexpr int64_t kFlushEvery = 16 * 1024 * 1024;
constexpr wchar_t kExit[] = L"Exit frmVelmoraSkytrove:DownloadHTTPFile - ";

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

HttpDownload::HttpDownload(TransferHost& host, DownloadRequest& request, std::wstring sha256)
    : host_(host),
      request_(request),
      sha256_(std::move(sha256)),
      url_(request.SourceFileName),
      destination_(request.DestinationFileName) {}

HttpDownload::~HttpDownload() = default;

AttemptResult HttpDownload::Fail(const std::wstring& why, FailureKind kind, int code) {
  Log(kExit + why, kMarkEnd);
  return AttemptResult::Failure(why, kind, code);
}

// The handle is left to the shut-down, which closes it with the session.
AttemptResult HttpDownload::Unloaded() {
  handle_.release();
  Log(std::wstring(kExit) + L"Window Unloaded", kMarkEnd);
  return AttemptResult::Ended(AttemptEnd::Closing);
}

// A cancelled request keeps nothing; the destination was never touched. `countShown`: the
// tray tip shows the bytes so far and goes back to the name.
AttemptResult HttpDownload::Cancelled(bool countShown) {
  part_->Discard();
  host_.ShowStatus(L"");
  if (countShown) host_.ClearTrayTip();
  Log(std::wstring(kExit) + L"cancelled", kMarkEnd);
  return AttemptResult::Ended(AttemptEnd::Cancelled);
}

AttemptResult HttpDownload::Run() {
  Log(L"Start frmVelmoraSkytrove:DownloadHTTPFile " + url_, kMarkStart);
  request_.Unchanged = false;
  if (!host_.Session()) return Fail(L"No Internet Handle");
  if (host_.Buffer() == nullptr) {
    Log(L"No Buffer Handle", kMarkEnd);
    return AttemptResult::Failure(L"No Buffer Handle");
  }
  host_.ShowStatus(L" Download HTTP file..");
  host_.ShowStatus(L" Opening Download file..(Creating " + destination_ + L")");
  if (auto end = OpenPart()) return *end;
  host_.ShowStatus(L" Downloading File - " + MaskUrlSecrets(url_));  // as public as the log
  Log(L"Open URL " + url_);
  if (auto end = OpenUrl()) return *end;
  Log(L"Open URL " + url_ + L" OK");
  if (auto end = ReadBody()) return *end;
  return Finish();
}

std::optional<AttemptResult> HttpDownload::OpenPart() {
  part_ = std::make_unique<PartFile>(DestinationWritable(destination_) ? destination_ : std::wstring());
  kept_ = part_->Kept(url_, recorded_);
  if (!part_->Path().empty()) file_ = part_->Open(0);
  if (!file_) {
    const std::wstring why = L"Create file " + destination_ + L" FAILED";
    Log(why, kMarkEnd);
    host_.ShowStatus(L"");
    return AttemptResult::Failure(why);
  }
  Log(L"Create file " + destination_ + L" OK - " + ToDecimal(reinterpret_cast<intptr_t>(file_.get())));
  return std::nullopt;
}

std::optional<AttemptResult> HttpDownload::OpenUrl() {
  if (request_.IfChanged) {
    record_ = UsableChangeRecord(host_, url_, destination_, sha256_);
    if (record_) condition_ = ConditionHeader(*record_);
  }
  // Another open only when the server would not continue the kept bytes, or answered the
  // condition with a 304 that does not prove the file.
  for (int round = 0; round < 3; ++round) {
    std::wstring headers = kept_ > 0 ? ResumeHeaders(kept_, recorded_) : std::wstring();
    if (headers.empty()) kept_ = 0;  // no range asked for: whatever comes starts over
    if (kept_ > 0) Log(L"Resuming " + destination_ + L" from byte " + ToDecimal(kept_));
    if (!condition_.empty()) {
      headers += condition_ + L"\r\n";
      Log(L"Asking only if changed - " + condition_);
    }
    Log(L"InternetOpenURL " + url_);
    // The open waits for the server's answer: on the worker, with the window answering
    // meanwhile. Closing the session is what ends it when the agent is closed.
    // A stall gives the open up without the session: the handle it may still bring back
    // is closed by the worker itself.
    auto gaveUp = std::make_shared<std::atomic<bool>>(false);
    host_.NoteData();
    handle_.reset(offthread::Call([session = host_.Session(), ansiUrl = ToAnsi(url_), ansiHeaders = ToAnsi(headers),
                                   gaveUp] {
                    HINTERNET opened = InternetOpenUrlA(
                        session, ansiUrl.c_str(), ansiHeaders.empty() ? nullptr : ansiHeaders.c_str(),
                        ansiHeaders.empty() ? 0 : static_cast<DWORD>(-1),
                        INTERNET_FLAG_PASSIVE | INTERNET_FLAG_NO_CACHE_WRITE, 0);
                    if (opened != nullptr && gaveUp->load()) {
                      InternetCloseHandle(opened);
                      opened = nullptr;
                    }
                    return opened;
                  }, [this, gaveUp] {
                    gaveUp->store(true);
                    if (offthread::ShuttingDown()) host_.CloseSessionForShutdown();
                  }).value);
    host_.NoteData();
    if (round == 0 && !request_.Fast) timing::Pause(0.5);
    if (host_.Stop() == StopReason::Closing) return Unloaded();
    if (host_.Stop() == StopReason::Cancelled) return Cancelled(false);
    if (!handle_) {
      Log(L"Open URL " + url_ + L" FAILED");
      host_.ShowStatus(L"");
      file_.reset();
      Log(L"Deleting destination file" + destination_);
      host_.ShowStatus(L"");
      return Fail(L"failed to get Internet Connection to URL", FailureKind::NoConnection);
    }
    status_ = 0;
    HttpHeaderNumber(handle_.get(), HTTP_QUERY_STATUS_CODE, status_);
    const std::wstring etag = HttpHeaderText(handle_.get(), HTTP_QUERY_ETAG);
    const std::wstring modified = HttpHeaderText(handle_.get(), HTTP_QUERY_LAST_MODIFIED);
    validator_ = HttpValidator(etag, modified, HttpHeaderText(handle_.get(), HTTP_QUERY_DATE));
    etag_ = etag;
    modified_ = modified;
    if (status_ == 304) {
      // Without a condition a 304 says nothing of the file that is there: keeping it would
      // report a file the server never validated, and its empty body is not the file.
      if (condition_.empty()) {
        host_.ShowStatus(L"");
        return Fail(L"HTTP status 304 without a condition", FailureKind::Permanent, 304);
      }
      // Looked at again: the file may have been changed while the server was asked.
      if (NotModifiedConfirms(*record_, etag) && StillAsPlaced(*record_)) return KeptAsItIs();
      Log(L"HTTP status 304 does not prove " + destination_ + L" - asking for the whole file");
      condition_.clear();
      handle_.reset();
      continue;
    }
    int64_t length = -1;
    HttpHeaderNumber(handle_.get(), HTTP_QUERY_CONTENT_LENGTH, length);
    // Compared as named, strong or not: a date too fresh to record still tells a change.
    range_ = JudgeRangeAnswer(status_, HttpHeaderText(handle_.get(), HTTP_QUERY_CONTENT_RANGE), length, kept_,
                              recorded_, etag.empty() ? modified : etag);
    // Part of a file nobody asked a part of: its bytes cannot be placed anywhere.
    if (range_.answer == RangeAnswer::Unasked) {
      host_.ShowStatus(L"");
      return Fail(L"HTTP status 206 without a range", FailureKind::Permanent, 206);
    }
    if (range_.answer == RangeAnswer::Continue) offset_ = kept_;
    if (range_.answer != RangeAnswer::Refused) break;
    // Not the kept bytes' continuation: they are dropped and the whole file asked for.
    Log(L"Resume refused - HTTP status " + ToDecimal(status_) + L", asking for the whole file");
    handle_.reset();
    kept_ = 0;
    if (!part_->Empty(file_.get())) return Fail(L"failed to write to file");
  }
  return std::nullopt;
}

std::optional<AttemptResult> HttpDownload::ReadBody() {
  // An error page is not the file that was asked for.
  if (status_ >= 400) {
    host_.ShowStatus(L"");
    AttemptResult failed = AttemptResult::Failure(L"HTTP status " + ToDecimal(status_), FailureKind::HttpStatus,
                                                  static_cast<int>(status_));
    int64_t retryAfter = -1;
    // Seconds only; a date form is read as no advice (the doubling delays apply).
    if (HttpHeaderNumber(handle_.get(), HTTP_QUERY_RETRY_AFTER, retryAfter))
      failed.retryAfter = static_cast<int>(std::min<int64_t>(retryAfter, 300));
    Log(kExit + failed.reason, kMarkEnd);
    return failed;
  }
  // Hashed as written, so the check costs no second pass over the file; continued bytes
  // are read back into the hash, which leaves the file at their end.
  if (!sha256_.empty()) hasher_ = std::make_unique<Sha256Hasher>();
  const bool placed = offset_ > 0 ? FollowKeptBytes(file_.get(), offset_, hasher_.get())
                                  : part_->StartOver(file_.get(), url_, validator_);
  if (!placed) {
    host_.ShowStatus(L"");
    return Fail(L"failed to write to file");
  }
  HttpHeaderNumber(handle_.get(), HTTP_QUERY_CONTENT_LENGTH, announced_);  // stays -1 without one

  // Counts and progress are of the whole file, the kept bytes included.
  // A length near the largest number would wrap past it: such a size is not known.
  const int64_t whole = range_.total >= 0                                     ? range_.total
                        : announced_ >= 0 && announced_ <= INT64_MAX - offset_ ? offset_ + announced_
                                                                               : -1;
  // A continuation brings the bytes its range names and no more: a body that runs on
  // (without a length) is not written past them.
  const int64_t rangeBytes = range_.answer == RangeAnswer::Continue ? range_.end - offset_ : -1;
  host_.NoteProgress(offset_, whole);
  host_.ShowStatus(L" Downloading file - " + MaskUrlSecrets(url_));
  void* buffer = host_.Buffer();
  const bool fast = request_.Fast;
  // Read ahead on a worker, into pieces of its own: after a shut-down it may still be
  // reading when the window's buffer is long gone. The design's pace takes chunks of its
  // size out of them into that buffer and writes from there; the fast pace writes each
  // piece straight from where it was read.
  const size_t pieceSize = fast ? kFastPieceSize : kDesignPieceSize;
  ReadAhead reader(handle_.get(), pieceSize, fast ? kFastDepth : kDesignDepth);
  const auto closeHandle = [this] { handle_.reset(); };
  // A large body is flushed on the worker as it comes: the flush before the placing then
  // finds little left to write, and the disk's time overlaps the network's.
  offthread::Pending flushing;
  int64_t unflushed = 0;
  ULONGLONG lastShown = 0;
  for (;;) {
    // Under a cap a read takes what FTP's do: a tenth of a second's bytes.
    const std::shared_ptr<PaceGate> pace = host_.Pace();
    reader.Limit(pace->Cap() > 0 ? pace->ReadSize(pieceSize) : 0);
    const ReadAhead::Piece read =
        fast ? reader.Next(closeHandle)
             : reader.Fill(static_cast<char*>(buffer), static_cast<DWORD>(kTransferBufferSize), closeHandle);
    const DWORD got = read.ok ? read.got : 0;
    if (!read.ok && host_.Stop() != StopReason::Closing) readFailed_ = true;
    if (rangeBytes >= 0 && total_ + got > rangeBytes) {
      beyondRange_ = true;
      break;
    }
    const char* bytes = read.data;
    if (got > 0) host_.NoteData();
    total_ += got;
    Log(L"Read " + ToDecimal(got) + L" bytes from website " + ToDecimal(offset_ + total_) + L" total");
    if (host_.Stop() != StopReason::None) break;
    if (got > 0) host_.NoteProgress(offset_ + total_, whole);
    // The count as a person can read it: at most every 50 ms, and the last one always.
    const ULONGLONG now = GetTickCount64();
    if (got == 0 || now - lastShown >= kShowEveryMs) {
      lastShown = now;
      host_.ShowCount(offset_ + total_);
    }
    // Without the pause a piece already read costs no wait, and so no message round: the
    // window answers between pieces all the same.
    if (fast)
      timing::RunWaitingMessages();
    else
      timing::Pause(0.001);
    if (host_.Stop() != StopReason::None || got == 0) break;
    Log(L"Writing bytes to file");
    DWORD written = 0;
    if (!WriteFile(file_.get(), bytes, got, &written, nullptr) || written != got) {
      writeShort_ = true;
      break;
    }
    if (hasher_) hasher_->Add(bytes, got);
    unflushed += got;
    if (unflushed >= kFlushEvery && flushing.Finished()) {
      unflushed = 0;
      flushing = offthread::Start([file = file_.get()] { FlushFileBuffers(file); });
    }
    // Held to the cap in force: our own wait, in short steps that keep the window answering,
    // looking for a stop after each.
    for (uint64_t wait = host_.Pace()->Note(total_); wait > 0 && host_.Stop() == StopReason::None;
         wait = host_.Pace()->Note(total_))
      timing::Pause(static_cast<double>(std::min<uint64_t>(wait, 100)) / 1000.0);
  }
  // Nothing reads the handle past this point, and nothing flushes the file. A closing agent
  // leaves a read under way to the session's closing, as it leaves every call.
  if (host_.Stop() != StopReason::Closing) reader.Stop(closeHandle);
  if (!flushing.Finished()) flushing.Wait();
  Log(L"Finished download loop");
  if (host_.Stop() == StopReason::Closing) {
    host_.ClearTrayTip();
    return Unloaded();
  }
  if (host_.Stop() == StopReason::Cancelled) return Cancelled(true);
  return std::nullopt;
}

AttemptResult HttpDownload::Finish() {
  const int64_t expected = range_.answer == RangeAnswer::Continue ? range_.end - offset_ : announced_;
  const bool shortBody = expected >= 0 && total_ < expected;
  // An answer that contradicts its own range proves nothing about the bytes it brought.
  if (beyondRange_) {
    host_.ShowStatus(L"");
    host_.ClearTrayTip();
    part_->Discard();
    return Fail(L"received more than the " + ToDecimal(expected) + L" bytes of the range");
  }
  if (readFailed_ || writeShort_ || shortBody) {
    host_.ShowStatus(L"");
    host_.ClearTrayTip();
    const std::wstring why = readFailed_   ? L"failed to read from URL"
                             : writeShort_ ? L"failed to write to file"
                                           : L"received " + ToDecimal(total_) + L" of " + ToDecimal(expected) +
                                                 L" bytes";
    return Fail(why, writeShort_ ? FailureKind::Permanent : FailureKind::CutShort);
  }
  // A range that ends before the file does: what it brought is kept for the next attempt,
  // which asks for the rest. Only the whole stated size is the file.
  if (range_.answer == RangeAnswer::Continue && offset_ + total_ < range_.total) {
    host_.ShowStatus(L"");
    host_.ClearTrayTip();
    return Fail(L"received " + ToDecimal(offset_ + total_) + L" of " + ToDecimal(range_.total) + L" bytes",
                FailureKind::CutShort);
  }
  const std::wstring mismatch = hasher_ ? ChecksumProblem(*hasher_, sha256_) : std::wstring();
  if (!mismatch.empty()) {
    host_.ClearTrayTip();
    host_.ShowStatus(L"");
    part_->Discard();
    return Fail(mismatch);
  }

  host_.ShowStatus(L" Finished downloading file");
  Log(L"Closing URL");
  handle_.reset();
  Log(L"Closing File " + ToDecimal(reinterpret_cast<intptr_t>(file_.get())));
  file_.reset();
  // Closing the URL waited (running messages): a closing agent, or a cancelled request,
  // never replaces a file. From this look to the placing nothing runs messages.
  if (host_.Stop() != StopReason::None) {
    host_.ClearTrayTip();
    const bool closing = host_.Stop() == StopReason::Closing;
    if (!closing) part_->Discard();
    Log(std::wstring(kExit) + (closing ? L"Window Unloaded" : L"cancelled"), kMarkEnd);
    return AttemptResult::Ended(closing ? AttemptEnd::Closing : AttemptEnd::Cancelled);
  }
  if (!part_->PutInPlace()) {
    host_.ClearTrayTip();
    host_.ShowStatus(L"");
    AttemptResult failed = Fail(L"failed to replace " + destination_);
    failed.onlyCopyKept = part_->OnlyCopy();
    return failed;
  }
  if (request_.KeepServerTime || request_.IfChanged) {
    uint64_t serverTime = 0;
    if (request_.KeepServerTime) HttpDateTicks(modified_, serverTime);
    ChangeRecord record;
    record.destination = destination_;
    record.source = SourceForRecord(url_);
    record.etag = etag_;
    record.lastModified = modified_;
    record.sha256 = sha256_;
    // Nothing to ask a condition by: nothing worth remembering.
    AfterPlacing(host_, record, serverTime, request_.KeepServerTime,
                 request_.IfChanged && !ConditionHeader(record).empty());
  }
  host_.Placed();
  host_.ClearTrayTip();
  host_.ShowStatus(L"");
  Log(L"Finish frmVelmoraSkytrove:DownloadHTTPFile", kMarkEnd);
  return AttemptResult::Success();
}

AttemptResult HttpDownload::KeptAsItIs() {
  handle_.reset();
  file_.reset();
  // Closing the URL may have run messages: a cancel that came meanwhile still holds, and a
  // closing agent leaves kept bytes for its replay.
  if (host_.Stop() != StopReason::Closing) part_->Discard();
  if (host_.Stop() != StopReason::None) {
    const bool closing = host_.Stop() == StopReason::Closing;
    Log(std::wstring(kExit) + (closing ? L"Window Unloaded" : L"cancelled"), kMarkEnd);
    return AttemptResult::Ended(closing ? AttemptEnd::Closing : AttemptEnd::Cancelled);
  }
  request_.Unchanged = true;
  host_.Placed();
  KeptUnchanged(host_, *record_);
  host_.ShowStatus(L"");
  Log(L"Finish frmVelmoraSkytrove:DownloadHTTPFile", kMarkEnd);
  return AttemptResult::Success();
}

}  // namespace velmora
