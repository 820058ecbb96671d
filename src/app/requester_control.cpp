// The requester stays in control of what it sent: CANCEL and STATUS, PROGRESS while a
// request runs, and the person's "Cancel" in the pending list.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <map>
#include <utility>

#include "app/main_window.h"

#include "app/journal.h"
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
// to ours, and Delete, which it ignores, cancels the request on the caret's line. That
// request is told when the key is pressed: by the time the window reads the message the
// list may have been drawn anew.
LRESULT CALLBACK PendingListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR form) noexcept {
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
        const uint64_t sequence = reinterpret_cast<const frmVelmoraSkytrove*>(form)->CaretSequence();
        if (sequence != 0)
          PostMessageW(GetParent(hwnd), kPendingListMessage, kListCancelRequest, static_cast<LPARAM>(sequence));
        return 0;
      }
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

// Whether the process that persisted `r` has ended: only then may a later run of the same
// program ask about it. Told once per process in a message.
class OwnerCheck {
 public:
  bool Gone(const DownloadRequest& r) {
    const auto key = std::make_pair(r.RequesterProcessId, r.RequesterProcessCreated);
    const auto it = known_.find(key);
    if (it != known_.end()) return it->second;
    return known_[key] = Look(r.RequesterProcessId, r.RequesterProcessCreated);
  }

 private:
  static bool Look(uint32_t processId, uint64_t created) {
    if (processId == 0) return true;
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return true;
    const uint64_t started = ProcessCreated(process.get());
    DWORD code = 0;
    // Another process with the recorded id is not the owner.
    return started == 0 || started != created || !GetExitCodeProcess(process.get(), &code) || code != STILL_ACTIVE;
  }
  std::map<std::pair<uint32_t, uint64_t>, bool> known_;
};
}  // namespace

void AttachPendingListMenu(HWND list, frmVelmoraSkytrove* form) {
  SetWindowSubclass(list, &PendingListProc, kListSubclassId, reinterpret_cast<DWORD_PTR>(form));
}

// Replies go out after the requester's own send has returned: a reply inside its send
// would run its window procedure in the middle of that send.
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
    const CancelOutcome cancelled = CancelWhere(owns, L"cancelled by the requester");
    // The CANCELLED reply goes ahead of the FAILED replies of the requests it took back.
    outbox_.Defer(parent, ComposeCancelled(message.reference, cancelled.count));
    for (const auto& failed : cancelled.failures) outbox_.Defer(failed.first, failed.second);
    return;
  }
  // A later run of the program that persisted a request, with a window and process of its
  // own by then, may learn how it went, once the process that sent it is gone.
  OwnerCheck owner;
  auto sees = [&](const DownloadRequest& r) {
    return owns(r) || (StatusMatchesProgram(message, program, r) && owner.Gone(r));
  };
  const RunningRequest* running = dispatcher_.Running();
  const uint64_t now = GetTickCount64();
  size_t replies = 0;
  for (size_t i = 0; i < downloadList_.Count(); ++i) {
    const DownloadRequest& r = downloadList_.At(i);
    const bool isRunning = running != nullptr && r.Sequence == running->request.Sequence;
    // One that has ended but is still listed (its reply on its way) is told from the history.
    if (isRunning && running->settled) continue;
    if (!sees(r)) continue;
    const bool active = isRunning && (running->state == RequestState::Running || running->state == RequestState::Done);
    const RequestState state = active ? RequestState::Running
                               : r.DueAt > now ? RequestState::Waiting
                                               : RequestState::Queued;
    outbox_.Defer(parent, ComposeStatus(active ? running->request : r, state,
                                        static_cast<int64_t>(downloadList_.Position(i)), L""));
    ++replies;
  }
  // Cancelled while running, its transfer not yet gone: already what it will be.
  if (running != nullptr && running->state == RequestState::Cancelled && !running->settled && sees(running->request)) {
    outbox_.Defer(parent, ComposeStatus(running->request, RequestState::Cancelled, -1, L""));
    ++replies;
  }
  for (const FinishedRequest& f : history_.FindWhere(sees, now)) {
    outbox_.Defer(parent, ComposeStatus(f.request, f.state, -1, f.reason));
    ++replies;
  }
  if (replies == 0) outbox_.Defer(parent, ComposeUnknownStatus(message.reference));
}

frmVelmoraSkytrove::CancelOutcome frmVelmoraSkytrove::CancelWhere(
    const std::function<bool(const DownloadRequest&)>& match, const std::wstring& by) {
  const RunningRequest* running = dispatcher_.Running();
  const uint64_t runningSequence = running != nullptr ? running->request.Sequence : 0;
  // A request whose file is in place, or whose transfer has returned, is over: its GOT or
  // FAILED is on its way.
  const auto removed = downloadList_.RemoveMatching([&](const DownloadRequest& r) {
    return match(r) && (r.Sequence != runningSequence || dispatcher_.Cancellable(r.Sequence));
  });
  CancelOutcome outcome;
  outcome.count = removed.size();
  const ULONGLONG now = GetTickCount64();
  for (const DownloadRequest& r : removed) {
    // Final from here: a kill before its transfer has gone must not run it again.
    journal_.Done(r);
    if (r.Sequence == runningSequence) {
      // Its transfer sees this after its current wait (at most kAbandonPollMs) and leaves;
      // the dispatcher answers it and moves on.
      Log(L"Cancelling running request " + r.SourceFileName);
      dispatcher_.Cancel(by);
      continue;
    }
    Log(L"Cancelled queued request " + r.SourceFileName);
    history_.Add(r, RequestState::Cancelled, L"", now);
    DropKeptBytes(r);
    if (r.ReplyOnFailure && ReplyAllowed(r, true)) outcome.failures.emplace_back(r.ParentHWnd, ComposeFailure(r, by));
  }
  if (!removed.empty()) {
    // Redrawn like a burst of arrivals, by the list timer: setting the text of 10,000 lines
    // would hold the reply a quarter of a second.
    ShowUpdating();
    tmrUpdateList_.Restart();
    ShowRemaining();
  }
  return outcome;
}

uint64_t frmVelmoraSkytrove::SequenceOnLine(int line) const {
  return line >= 0 && static_cast<size_t>(line) < shownSequences_.size() ? shownSequences_[line] : 0;
}

// While the list says "Updating..." no line stands for a request: the caret's is the one it
// was on before.
uint64_t frmVelmoraSkytrove::CaretSequence() const {
  if (shownSequences_.empty()) return caretSequence_;
  // The box wraps a long line over several rows, which the box's own line numbers count:
  // a request's line is the one its line breaks give.
  DWORD caret = 0;
  SendMessageW(txtQueued_, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(txtQueued_)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(txtQueued_, text.data(), static_cast<int>(text.size()))));
  text.resize(std::min<size_t>(caret, text.size()));
  return SequenceOnLine(static_cast<int>(std::count(text.begin(), text.end(), L'\n')));
}

// No line stands for a request until the redraw. Set only when it is not shown already:
// setting the box's text costs more than the rest of an acceptance together.
void frmVelmoraSkytrove::ShowUpdating() {
  if (!shownSequences_.empty()) caretSequence_ = CaretSequence();
  shownSequences_.clear();
  wchar_t shown[16] = {};
  if (GetWindowTextW(txtQueued_, shown, 16) != 11 || std::wstring(shown) != L"Updating...") SetQueuedText(L"Updating...");
}

// The same as a CANCEL from the request's own requester, with its own words in FAILED.
void frmVelmoraSkytrove::CancelRequest(uint64_t sequence) {
  if (sequence == 0) return;
  Log(L"Cancel chosen in the window");
  const CancelOutcome cancelled = CancelWhere([sequence](const DownloadRequest& r) { return r.Sequence == sequence; },
                                              L"cancelled in the agent's window");
  for (const auto& failed : cancelled.failures) outbox_.Defer(failed.first, failed.second);
}

// `sequence`: the request the menu is about, remembered while the menu is up (it runs
// messages, and the list may move under it); 0: nothing to cancel there.
void frmVelmoraSkytrove::ShowListMenu(uint64_t sequence, int x, int y) {
  UniqueMenu menu(CreatePopupMenu());
  if (!menu) return;
  AppendMenuW(menu.get(), MF_STRING | (sequence != 0 ? 0 : MF_GRAYED), kCancelSelectedCommand, L"&Cancel");
  if (x == -1 && y == -1) {  // from the keyboard: at the caret
    POINT pt{};
    GetCaretPos(&pt);
    ClientToScreen(txtQueued_, &pt);
    x = pt.x;
    y = pt.y;
  }
  menuSequence_ = sequence;
  ModalScope modal(*this);
  TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON, x, y, 0, hwnd_, nullptr);
}

}  // namespace velmora
