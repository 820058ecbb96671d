// The window's side of a running request: the dispatcher's host (the tick, the replies,
// the journal) and the transfers' host (stop, bytes, display), with the stall watch that
// gives a silent server up.
#include <windows.h>

#include <exception>
#include <string>

#include "app/main_window.h"
#include "app/request_rules.h"
#include "protocol/replies.h"
#include "transfer/transfer_rules.h"
#include "support/components.h"
#include "support/debug_log.h"
#include "support/offthread.h"
#include "support/paths.h"
#include "support/text.h"
#include "support/velmora_general.h"
#include "transfer/ftp_download.h"
#include "transfer/http_download.h"
#include "transfer/local_target.h"
#include "transfer/pace_rules.h"

namespace velmora {

void frmVelmoraSkytrove::tmrDownloadFiles_Timer() {
  dispatcher_.Tick();
  // The shut-down left what the transfer was using alone while it was on the stack.
  if (unloaded_ && !dispatcher_.Busy()) ReleaseTransferObjects();
}

void frmVelmoraSkytrove::WriteLog(const std::wstring& text, int level, int mark) { WriteDebugLog(text, level, mark); }

void frmVelmoraSkytrove::ArmTimer(bool on) {
  if (on) {
    tmrDownloadFiles_.Enable();
    // The timer stays armed: it is the tick should the posted one find nothing to do.
    StartFastAtOnce();
  } else {
    tmrDownloadFiles_.Disable();
  }
}

bool frmVelmoraSkytrove::FastAtHead() const {
  const size_t next = downloadList_.NextRunnable(GetTickCount64());
  return next < downloadList_.Count() && downloadList_.At(next).Fast;
}

void frmVelmoraSkytrove::StartFastAtOnce() {
  if (fastStartPosted_ || unloaded_ || hwnd_ == nullptr || !FastAtHead()) return;
  fastStartPosted_ = PostMessageW(hwnd_, kFastStartMessage, 0, 0) != FALSE;
}

bool frmVelmoraSkytrove::RequesterGone(int32_t parent) {
  return GetWindowLongA(reinterpret_cast<HWND>(static_cast<intptr_t>(parent)), GWL_STYLE) == 0;
}

void frmVelmoraSkytrove::ReplyDone(const DownloadRequest& request, bool linked) {
  if (ReplyAllowed(request, true)) outbox_.SendNow(request.ParentHWnd, ComposeReply(request, linked));
}

// What no attempt can use any more goes: only a retry or a persisted replay continues it.
void frmVelmoraSkytrove::DropKeptBytes(const DownloadRequest& request) {
  const std::wstring type = UpperCase(request.Type);
  if (type != L"HTTP" && type != L"FTP") return;
  for (const std::wstring* destination : {&request.DestinationFileName, &request.LinkedDestinationFileName}) {
    if (destination->empty()) continue;
    PartFile part(*destination);
    part.Discard();
  }
}

AttemptResult frmVelmoraSkytrove::Attempt(DownloadRequest& work) {
  watch_.lastProgress = 0;
  AttemptResult result;
  const int stallSeconds = EffectiveStallSeconds(
      work.StallSeconds, registry::ReadNumber(HKEY_LOCAL_MACHINE, kPlacementKey, L"StallSeconds", 0));
  watch_.stallMs = static_cast<ULONGLONG>(stallSeconds) * 1000;
  watch_.stalled = false;
  watch_.file.clear();
  watch_.requestedCap = work.MaxBytesPerSecond;
  pace_ = std::make_shared<PaceGate>();
  RefreshPace(true);
  NoteData();
  {
    // Close, cancel and stall stop a transfer the same way: its current wait gives up (the
    // call left on its worker) and the transfer leaves by the exit its Stop() names.
    offthread::AbandonScope stop([this] {
      RefreshPace(false);
      return Stop() != StopReason::None || StallCheck();
    });
    result = RunTransfer(work);
  }
  watch_.file.clear();
  watch_.stallMs = 0;
  // A file already in place stays a success: only the linked file was given up.
  if (watch_.stalled && !unloaded_ && !result.Succeeded()) {
    result = AttemptResult::Failure(StallReason(stallSeconds), FailureKind::Stalled);
    result.end = AttemptEnd::Stalled;
  }
  return result;
}

AttemptResult frmVelmoraSkytrove::RunTransfer(DownloadRequest& work) {
  const std::wstring type = UpperCase(work.Type);
  std::wstring sha256;
  if (!work.Sha256.empty()) {
    if (!IsSha256Text(work.Sha256)) return AttemptResult::Failure(L"checksum: Sha256 is not 64 hex digits");
    if (type == L"HTTP" || type == L"FTP") sha256 = work.Sha256;
  }
  auto log = [](const std::wstring& text) { WriteDebugLog(text, 10, kMarkNone); };
  if (type == L"HTTP") {
    log(L"Calling Download HTTP File " + work.SourceFileName);
    return HttpDownload(*this, work, sha256).Run();
  }
  if (type == L"FTP") {
    log(L"Calling Download FTP File " + work.SourceFileName);
    return FtpDownload(*this, work, sha256).Run();
  }
  if (type == L"FTPDELETE") {
    log(L"Deleting FTP File " + work.SourceFileName);
    return FtpDelete(*this, work).Run();
  }
  return AttemptResult::Failure(L"");
}

StopReason frmVelmoraSkytrove::Stop() const {
  if (unloaded_) return StopReason::Closing;
  return dispatcher_.Cancelled() ? StopReason::Cancelled : StopReason::None;
}

void frmVelmoraSkytrove::Placed() { dispatcher_.Placed(); }

void frmVelmoraSkytrove::NoteData() {
  if (!watch_.stalled) watch_.lastDataAt = GetTickCount64();
}

void frmVelmoraSkytrove::WatchFile(const std::wstring& path, int64_t size) {
  watch_.file = path;
  watch_.fileSize = size;
}

int64_t frmVelmoraSkytrove::EndFileWatch() {
  watch_.file.clear();
  return watch_.fileSize;
}

void frmVelmoraSkytrove::RefreshPace(bool now) {
  const ULONGLONG tick = GetTickCount64();
  if (!now && tick - watch_.paceCheckedAt < kLimitRecheckMs) return;
  watch_.paceCheckedAt = tick;
  MachineLimits machine;
  machine.allHours = registry::ReadNumber(HKEY_LOCAL_MACHINE, kPlacementKey, L"MaxBytesPerSecond", -1);
  machine.workHours = registry::ReadNumber(HKEY_LOCAL_MACHINE, kPlacementKey, L"WorkHoursMaxBytesPerSecond", -1);
  machine.start = registry::ReadNumber(HKEY_LOCAL_MACHINE, kPlacementKey, L"WorkHoursStart", -1);
  machine.end = registry::ReadNumber(HKEY_LOCAL_MACHINE, kPlacementKey, L"WorkHoursEnd", -1);
  SYSTEMTIME local{};
  GetLocalTime(&local);
  const int64_t cap = CapInForce(watch_.requestedCap, machine, local.wHour);
  if (cap == pace_->Cap()) return;
  WriteDebugLog(cap > 0 ? L"Transfer " + CapText(cap) : std::wstring(L"Transfer no longer limited"), 10, kMarkNone);
  pace_->SetCap(cap);
}

void frmVelmoraSkytrove::ShowCount(int64_t bytes) {
  const int64_t cap = pace_->Cap();
  const std::wstring count = L" Downloaded " + GroupThousands(bytes, GroupSeparator()) + L" bytes" +
                             (cap > 0 ? L", " + CapText(cap) : std::wstring());
  // The end of a body shows the count its last piece showed already.
  if (count != statusBar1_.Text()) SetStatusCount(count);
  ShowTrayTip(statusBar1_.Text());
}

void frmVelmoraSkytrove::NoteProgress(int64_t done, int64_t total) {
  dispatcher_.NoteBytes(done, total);
  const RunningRequest* running = dispatcher_.Running();
  if (running == nullptr || !running->request.Progress || dispatcher_.Cancelled()) return;
  const ULONGLONG now = GetTickCount64();
  if (watch_.lastProgress != 0 && now - watch_.lastProgress < kProgressEveryMs) return;
  watch_.lastProgress = now;
  // A slow requester misses a message rather than hold the transfer. Not logged: one line
  // per half second of every transfer would drown the log.
  if (ReplyAllowed(running->request, false))
    outbox_.SendProgress(running->request.ParentHWnd, ComposeProgress(running->request), kProgressTimeoutMs);
}

bool frmVelmoraSkytrove::StallCheck() {
  if (watch_.stalled) return true;
  if (watch_.stallMs == 0) return false;
  const ULONGLONG now = GetTickCount64();
  if (!watch_.file.empty()) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(ExtendedPath(watch_.file).c_str(), GetFileExInfoStandard, &data)) {
      const int64_t size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      if (size != watch_.fileSize) {
        watch_.fileSize = size;
        watch_.lastDataAt = now;
        // The FTP transfer's count, shown as the HTTP one is, and told to a requester
        // that asked for PROGRESS.
        ShowCount(size);
        NoteProgress(size, -1);
      }
    }
  }
  // Waiting for the cap is ours, not the server's silence.
  if (pace_->Waiting()) watch_.lastDataAt = now;
  if (now - watch_.lastDataAt < watch_.stallMs) return false;
  watch_.stalled = true;
  WriteDebugLog(L"Transfer stalled - no data for " + ToDecimal(static_cast<int64_t>(watch_.stallMs / 1000)) + L" s",
                5, kMarkNone);
  return true;
}

// Under a box or menu of ours the transfer's wait cannot look: the timer looks for it.
void frmVelmoraSkytrove::WatchTick() {
  if (dispatcher_.Running() != nullptr && watch_.stallMs != 0) StallCheck();
}

}  // namespace velmora
