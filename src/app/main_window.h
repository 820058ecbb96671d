// The agent's one window: request intake, download list, start-up and shut-down, tray icon
// and layout. It runs the dispatcher (app/dispatcher) and hosts the transfers
// (src/transfer) through their narrow interfaces.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/controls.h"
#include "app/dispatcher.h"
#include "app/download_queue.h"
#include "protocol/download_request.h"
#include "app/change_records.h"
#include "app/journal.h"
#include "app/reply_outbox.h"
#include "transfer/transfer_rules.h"
#include "app/request_rules.h"
#include "support/handles.h"
#include "transfer/cftp.h"
#include "transfer/transfer_host.h"

namespace velmora {

// Why the window is asked to close.
enum CloseReason : int {
  kCloseByUser = 0,        // close box, system menu, Alt+F4
  kCloseByCode = 1,        // our own code
  kCloseByWindows = 2,     // the session is ending
  kCloseByTaskManager = 3  // a bare WM_CLOSE from another process
};

inline constexpr wchar_t kMainWindowClass[] = L"frmVelmoraSkytrove";
inline constexpr UINT kTrayCallbackMessage = 0x200;  // the number of WM_MOUSEMOVE
inline constexpr UINT kTrayIconId = 1;
inline constexpr UINT_PTR kTimerUpdateList = 1;
inline constexpr UINT_PTR kTimerDownloadFiles = 2;
inline constexpr UINT_PTR kTimerWatch = 3;
// Posted to ourselves: deferred replies are due (they go out once the requester's own
// send has returned), or a delivery has ended.
inline constexpr UINT kReplyOutboxMessage = WM_APP + 11;
// From the pending list to the window: its context menu (lParam the point), or Delete
// (lParam the sequence number of the request on the caret's line when it was pressed).
inline constexpr UINT kPendingListMessage = WM_APP + 12;
// Posted to ourselves: a fast request is at the head of the run order and waits for no
// tick; its tick runs once the requester's own send has returned.
inline constexpr UINT kFastStartMessage = WM_APP + 13;
inline constexpr WPARAM kListShowMenu = 0;
inline constexpr WPARAM kListCancelRequest = 1;
inline constexpr UINT kCancelSelectedCommand = 0x5100;
// How long a PROGRESS message may take, and how often one goes.
inline constexpr UINT kProgressTimeoutMs = 200;
inline constexpr ULONGLONG kProgressEveryMs = 500;

// The user's thousands separator, for the byte counts shown while a file arrives.
std::wstring GroupSeparator();

// The tip field of a tray record: the text in the ANSI code page, at most 63 bytes of it,
// zero-filled to the end of the field's first-version size (64 bytes).
void FillTrayTip(NOTIFYICONDATAA& record, const std::wstring& tip);
class frmVelmoraSkytrove;
// Gives the pending list its "Cancel" menu and Delete key (requester_control.cpp).
void AttachPendingListMenu(HWND list, frmVelmoraSkytrove* form);

class frmVelmoraSkytrove : private TransferHost, private DispatchHost {
 public:
  explicit frmVelmoraSkytrove(HINSTANCE instance);
  ~frmVelmoraSkytrove() override;
  frmVelmoraSkytrove(const frmVelmoraSkytrove&) = delete;
  frmVelmoraSkytrove& operator=(const frmVelmoraSkytrove&) = delete;

  // Creates the (hidden) window and runs the start-up sequence; false when the window
  // is already gone again (refused start-up).
  bool Create();
  HWND hwnd() const { return hwnd_; }
  // The record last handed to the shell for the tray icon (read-only, for inspection).
  const NOTIFYICONDATAA& TrayRecord() const { return tray_; }

  // Request intake.
  void CopyDataReceivedEx(const COPYDATASTRUCT* data, WPARAM wParam);
  // Download list.
  void AddToDownloadList(const DownloadRequest& request);
  void UpdateQueuedList();
  void RemoveFromDownloadList(const DownloadRequest& request);
  void RemoveParentFromDownloadList(int32_t parent);
  // Dispatcher.
  void tmrDownloadFiles_Timer();
  // Posts a tick when the request that runs next is a fast one; at most one is on its way.
  void StartFastAtOnce();
  bool FastAtHead() const;
  // The request on a line of the pending list as it is drawn now, and the one the caret
  // is on; 0 when none.
  uint64_t SequenceOnLine(int line) const;
  uint64_t CaretSequence() const;

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  int Twips(int twips, bool horizontal) const;

  // Start-up and shut-down.
  void Form_Load();
  void Form_QueryUnload(bool& cancel, int reason);
  void Form_Unload();
  void RequestClose(int reason);
  // Frees the transfer buffer and the FTP object; never while a transfer is on the stack.
  void ReleaseTransferObjects();
  void mnuExit_Click();
  bool AskToQuit(const std::wstring& question);
  // While a box or menu of ours is up, a transfer under it keeps its stall watch, cancel
  // and PROGRESS: a timer does the looks its wait cannot make.
  class ModalScope;

  // Tray and layout.
  void Form_Resize();
  void Form_MouseMove(WPARAM wParam, LPARAM lParam);
  void mPopRestore_Click();
  void AddTrayIcon();
  void RemoveTrayIcon();
  void SetTrayTip(const std::wstring& tip);
  // The product name followed directly by `suffix`, shown in the tray at once.
  void ShowTrayTip(const std::wstring& suffix);
  void ShowTrayMenu();

  // Display helpers.
  void SetStatusText(const std::wstring& text, bool refresh = true);
  void SetStatusCount(const std::wstring& text);
  void SetCurrentFile(const std::wstring& text);
  void SetQueuedText(const std::wstring& text);
  void ShowRemaining();

  // Replies (failure_reply.cpp): a refusal's FAILED waits for the requester's send to return.
  void RefuseWithReply(const DownloadRequest& request, const std::wstring& reason);

  // Requester control (requester_control.cpp).
  void HandleControl(const ControlMessage& message, int32_t parent);
  // Cancels every listed request `match` accepts (the running one by giving up its
  // transfer); `by` says who, in the FAILED reason. Returns how many, and the FAILED replies
  // cancelled queued requests are owed (to be deferred after the caller's own reply).
  struct CancelOutcome {
    size_t count = 0;
    std::vector<std::pair<int32_t, std::wstring>> failures;
  };
  CancelOutcome CancelWhere(const std::function<bool(const DownloadRequest&)>& match, const std::wstring& by);
  // The person's "Cancel", of the request with that number.
  void CancelRequest(uint64_t sequence);
  void ShowListMenu(uint64_t sequence, int x, int y);
  // The list says "Updating..." until its next drawing; the caret's request is remembered.
  void ShowUpdating();

  // The durable queue (persistence.cpp).
  void RestoreJournal();
  // Writes a Persist=1 request through to the journal; refuses it when it cannot.
  bool KeepInJournal(DownloadRequest& request);
  // Whether a reply may go to the request's window: after a restart, only while the
  // window still belongs to the process that sent it.
  bool ReplyAllowed(const DownloadRequest& request, bool log) const;

  // The attempt (attempt_runner.cpp): the stall watch and the transfer.
  AttemptResult RunTransfer(DownloadRequest& work);
  bool StallCheck();
  void WatchTick();
  // The cap in force for the running attempt, looked at again every few seconds (work
  // hours begin and end); logged when it changes.
  void RefreshPace(bool now);

  // TransferHost
  StopReason Stop() const override;
  void NoteData() override;
  void NoteProgress(int64_t done, int64_t total) override;
  void WatchFile(const std::wstring& path, int64_t size) override;
  int64_t EndFileWatch() override;
  void Placed() override;
  std::optional<ChangeRecord> FindChangeRecord(const std::wstring& destination) override {
    return changes_.Find(destination);
  }
  bool KeepChangeRecord(const ChangeRecord& record) override { return changes_.Keep(record); }
  void ShowStatus(const std::wstring& text, bool refresh) override { SetStatusText(text, refresh); }
  void ShowCount(int64_t bytes) override;
  void ClearTrayTip() override { ShowTrayTip(L""); }
  void ShowPercent(int percent) override { prgProgress_.SetValue(percent); }
  HINTERNET Session() const override { return session_.get(); }
  void CloseSessionForShutdown() override { session_.reset(); }
  void* Buffer() const override { return bufferHandle_ ? buffer_ : nullptr; }
  std::shared_ptr<cFTP> Ftp() const override { return ftp_; }
  std::shared_ptr<PaceGate> Pace() override {
    RefreshPace(false);
    return pace_;
  }

  // DispatchHost
  void WriteLog(const std::wstring& text, int level, int mark) override;
  uint64_t Now() override { return GetTickCount64(); }
  bool MayStart() override { return questionsUp_ == 0 && !unloaded_; }
  bool Closing() override { return unloaded_; }
  void ArmTimer(bool on) override;
  bool RequesterGone(int32_t parent) override;
  AttemptResult Attempt(DownloadRequest& work) override;
  void JournalDone(const DownloadRequest& request) override { journal_.Done(request); }
  void DropKeptBytes(const DownloadRequest& request) override;
  void ReplyDone(const DownloadRequest& request, bool linked) override;
  void ReplyFailed(const DownloadRequest& request, const std::wstring& reason) override;
  void ShowCurrent(const std::wstring& label) override { SetCurrentFile(label); }
  void RemoveFromList(const DownloadRequest& request) override { RemoveFromDownloadList(request); }
  void RemoveParentFromList(int32_t parent) override { RemoveParentFromDownloadList(parent); }

  RequestJournal journal_;
  ChangeRecords changes_;
  HINSTANCE instance_;
  HWND hwnd_ = nullptr;

  UniqueNetwork session_;      // the one internet session, for the program's whole life
  UniqueGlobal bufferHandle_;  // the fixed 10240-byte transfer buffer
  void* buffer_ = nullptr;     // its locked address
  std::shared_ptr<cFTP> ftp_;  // shared only so that a disconnect in progress outlives a release
  NOTIFYICONDATAA tray_{};
  bool trayAdded_ = false;
  DownloadQueue downloadList_;
  RequestHistory history_;  // finished requests, for STATUS
  Dispatcher dispatcher_{*this, downloadList_, history_};
  ReplyOutbox outbox_;
  bool unloaded_ = false;
  bool fastStartPosted_ = false;
  int questionsUp_ = 0;  // a quit question of ours is up: no transfer starts
  int modalsUp_ = 0;     // a box or menu of ours is up
  bool placed_ = false;  // the window was shown and placed: its placement may be stored
  std::vector<uint64_t> shownSequences_;  // the request on each line of the pending list
  uint64_t caretSequence_ = 0;            // the request the caret was on before a redraw
  uint64_t menuSequence_ = 0;             // what the open "Cancel" menu is about

  // The running attempt's watch: the transfer notes each byte received (or a new phase
  // begun); a watched file's growth counts too, since FTP's transfer is one call that only
  // the file shows.
  struct AttemptWatch {
    ULONGLONG lastDataAt = 0;  // when the last byte (or a new phase) came
    ULONGLONG stallMs = 0;     // 0: no limit
    bool stalled = false;
    std::wstring file;
    int64_t fileSize = 0;
    ULONGLONG lastProgress = 0;  // when the last PROGRESS went
    int64_t requestedCap = 0;    // the request's own MaxBytesPerSecond
    ULONGLONG paceCheckedAt = 0;
  } watch_;
  std::shared_ptr<PaceGate> pace_ = std::make_shared<PaceGate>();

  HWND lblCurrentFileDesc_ = nullptr;
  HWND lblCurrentFile_ = nullptr;
  HWND lblFilesDesc_ = nullptr;
  HWND txtQueued_ = nullptr;
  ProgressBar prgProgress_;
  StatusBar statusBar1_;
  WindowTimer tmrUpdateList_;
  WindowTimer tmrDownloadFiles_;
  WindowTimer tmrWatch_;
  UniqueFont font_;
  UniqueMenu mPopupSys_;  // "&SysTray": its one popup holds the tray menu's items
  UINT taskbarCreatedMessage_ = 0;
  ULONGLONG lastStatusRepaint_ = 0;
};

class frmVelmoraSkytrove::ModalScope {
 public:
  explicit ModalScope(frmVelmoraSkytrove& form) : form_(form) {
    if (form_.modalsUp_++ == 0) form_.tmrWatch_.Enable();
  }
  ~ModalScope() {
    if (--form_.modalsUp_ == 0) form_.tmrWatch_.Disable();
  }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  frmVelmoraSkytrove& form_;
};

}  // namespace velmora
