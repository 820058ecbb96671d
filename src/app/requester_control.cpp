// The requester stays in control of what it sent: CANCEL and STATUS, PROGRESS while a
// request runs, and the person's "Cancel" in the pending list.
#include <windows.h>
#include <commctrl.h>

#include "app/main_window.h"
#include "app/request_rules.h"
#include "protocol/replies.h"
#include "support/ansi.h"
#include "support/handles.h"
#include "support/debug_log.h"
#include "support/text.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {
void Log(const std::wstring& text) { WriteDebugLog(text, 10, kMarkNone); }

constexpr UINT_PTR kListSubclassId = 1;

// The pending list is a read-only edit; its own context menu (copy, select all) gives way
// to ours, and Delete, which it ignores, cancels the line the caret is on.
LRESULT CALLBACK PendingListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR) noexcept {
  switch (message) {
    case WM_RBUTTONDOWN: {
      // The line under the pointer becomes the selected one, as a list would have it.
      const LRESULT at = SendMessageW(hwnd, EM_CHARFROMPOS, 0, lParam);
      const int line = HIWORD(at);
      const LRESULT start = SendMessageW(hwnd, EM_LINEINDEX, static_cast<WPARAM>(line), 0);
      if (start >= 0) {
        const LRESULT length = SendMessageW(hwnd, EM_LINELENGTH, static_cast<WPARAM>(start), 0);
        SendMessageW(hwnd, EM_SETSEL, static_cast<WPARAM>(start), start + length);
      }
      SetFocus(hwnd);
      return 0;
    }
    case WM_CONTEXTMENU:
      PostMessageW(GetParent(hwnd), kPendingListMessage, kListShowMenu, lParam);
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_DELETE) {
        PostMessageW(GetParent(hwnd), kPendingListMessage, kListCancelCaretLine, 0);
        return 0;
      }
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}
}  // namespace

void AttachPendingListMenu(HWND list) { SetWindowSubclass(list, &PendingListProc, kListSubclassId, 0); }

// Replies go out after the requester's own send has returned, like the refusals: a
// reply inside its send would run its window procedure in the middle of that send.
void frmVelmoraSkytrove::HandleControl(const ControlMessage& message, int32_t parent) {
  if (parent == 0) return;  // no one to answer, and no requests of its own
  // Told once per message: a list of restored requests is not a process lookup each.
  uint32_t processId = 0;
  uint64_t created = 0;
  std::wstring program;
  IdentifyRequester(reinterpret_cast<HWND>(static_cast<intptr_t>(parent)), processId, created, &program);
  // After a restart a window handle may have passed to another program: it neither sees
  // nor takes back the requests of the one that had it.
  auto owns = [&](const DownloadRequest& r) {
    return ControlMatches(message, parent, r) && SameRequesterProcess(r, processId, created);
  };
  if (message.command == L"CANCEL") {
    const size_t before = refusals_.size();
    const size_t count = CancelWhere(
        owns, L"cancelled by the requester");
    // The CANCELLED reply goes ahead of the FAILED replies of the requests it took back.
    refusals_.insert(refusals_.begin() + static_cast<std::ptrdiff_t>(before),
                     Refusal{parent, ComposeCancelled(message.reference, count)});
    if (refusals_.size() == 1) PostMessageW(hwnd_, kSendRefusalsMessage, 0, 0);
    return;
  }
  // A later run of the program that persisted a request, with a window and process of its
  // own by then, may still learn how it went.
  auto sees = [&](const DownloadRequest& r) { return owns(r) || StatusMatchesProgram(message, program, r); };
  const uint64_t running = downloadList_.Running();
  size_t replies = 0;
  for (size_t i = 0; i < downloadList_.Count(); ++i) {
    const DownloadRequest& r = downloadList_.At(i);
    if (!sees(r)) continue;
    const bool isRunning = r.Sequence == running && running_.Sequence == running;
    const RequestState state = isRunning ? RequestState::Running
                               : r.DueAt > GetTickCount64() ? RequestState::Waiting
                                                            : RequestState::Queued;
    DeferReply(parent, ComposeStatus(isRunning ? running_ : r, state,
                                     static_cast<int64_t>(downloadList_.Position(i)), L""));
    ++replies;
  }
  // Cancelled while running, its transfer not yet gone: already what it will be.
  if (dispatching_ && runningCancelled_ && !runningSettled_ && sees(running_)) {
    DeferReply(parent, ComposeStatus(running_, RequestState::Cancelled, -1, L""));
    ++replies;
  }
  for (const FinishedRequest& f : history_.FindWhere(sees, GetTickCount64())) {
    DeferReply(parent, ComposeStatus(f.request, f.state, -1, f.reason));
    ++replies;
  }
  if (replies == 0) DeferReply(parent, ComposeUnknownStatus(message.reference));
}

size_t frmVelmoraSkytrove::CancelWhere(const std::function<bool(const DownloadRequest&)>& match,
                                       const std::wstring& by) {
  const uint64_t running = downloadList_.Running();
  // A transfer that has returned is over: its GOT or FAILED is on its way.
  const auto removed = downloadList_.RemoveMatching(
      [&](const DownloadRequest& r) { return match(r) && !(r.Sequence == running && runningSettled_); });
  const ULONGLONG now = GetTickCount64();
  for (const DownloadRequest& r : removed) {
    if (r.Sequence == running && dispatching_) {
      // Its transfer sees this after its current wait (at most kAbandonPollMs) and leaves;
      // the dispatcher answers it and moves on.
      Log(L"Cancelling running request " + r.SourceFileName);
      runningCancelled_ = true;
      cancelledBy_ = by;
      continue;
    }
    Log(L"Cancelled queued request " + r.SourceFileName);
    history_.Add(r, RequestState::Cancelled, L"", now);
    journal_.Done(r);
    if (r.ReplyOnFailure && ReplyAllowed(r, true)) DeferReply(r.ParentHWnd, ComposeFailure(r, by));
  }
  if (!removed.empty()) {
    // Redrawn like a burst of arrivals, by the list timer: setting the text of 10,000 lines
    // would hold the reply a quarter of a second.
    SetQueuedText(L"Updating...");
    shownSequences_.clear();
    tmrUpdateList_.Restart();
    ShowRemaining();
  }
  return removed.size();
}

void frmVelmoraSkytrove::NoteProgress(int64_t done, int64_t total) {
  running_.BytesDone = done;
  running_.BytesTotal = total;
  if (!running_.Progress || runningCancelled_) return;
  const ULONGLONG now = GetTickCount64();
  if (lastProgress_ != 0 && now - lastProgress_ < kProgressEveryMs) return;
  lastProgress_ = now;
  if (ReplyAllowed(running_, false)) SendProgress();
}

// A slow requester misses a message rather than hold the transfer: a short time-out, and
// none at all for one that is hung. Not logged: one line per half second of every
// transfer would drown the log.
void frmVelmoraSkytrove::SendProgress() {
  HWND parent = reinterpret_cast<HWND>(static_cast<intptr_t>(running_.ParentHWnd));
  const std::string bytes = ToAnsi(ComposeProgress(running_));
  COPYDATASTRUCT cds{4, static_cast<DWORD>(bytes.size()), const_cast<char*>(bytes.data())};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(parent, WM_COPYDATA, reinterpret_cast<WPARAM>(hwnd_), reinterpret_cast<LPARAM>(&cds),
                      SMTO_ABORTIFHUNG, kProgressTimeoutMs, &ignored);
}

// FtpGetFile is one call that says nothing until the end; the file it writes grows
// meanwhile, and its size is the progress (looked at with every wait's poll).

int frmVelmoraSkytrove::SelectedLine() const {
  if (shownSequences_.empty()) return -2;
  const LRESULT line = SendMessageW(txtQueued_, EM_LINEFROMCHAR, static_cast<WPARAM>(-1), 0);
  return line >= 0 && static_cast<size_t>(line) < shownSequences_.size() ? static_cast<int>(line) : -2;
}

// The same as a CANCEL from the request's own requester, with its own words in FAILED.
void frmVelmoraSkytrove::CancelShownLine(int line) {
  uint64_t sequence = 0;
  if (line == -1) sequence = runningSettled_ ? 0 : downloadList_.Running();
  if (line >= 0 && static_cast<size_t>(line) < shownSequences_.size()) sequence = shownSequences_[line];
  if (sequence == 0) return;
  Log(L"Cancel chosen in the window");
  CancelWhere([sequence](const DownloadRequest& r) { return r.Sequence == sequence; },
              L"cancelled in the agent's window");
}

// `line` as CancelShownLine takes it; -2: nothing to cancel there.
void frmVelmoraSkytrove::ShowListMenu(int line, int x, int y) {
  UniqueMenu menu(CreatePopupMenu());
  if (!menu) return;
  AppendMenuW(menu.get(), MF_STRING | (line >= -1 ? 0 : MF_GRAYED), kCancelSelectedCommand, L"&Cancel");
  if (x == -1 && y == -1) {  // from the keyboard: at the caret
    POINT pt{};
    GetCaretPos(&pt);
    ClientToScreen(txtQueued_, &pt);
    x = pt.x;
    y = pt.y;
  }
  menuLine_ = line;
  TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON, x, y, 0, hwnd_, nullptr);
}

}  // namespace velmora
