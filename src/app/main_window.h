// The agent's one window: request intake, download list, dispatcher, start-up and
// shut-down, tray icon and layout. The transfer procedures are members too; they live
// in src/transfer.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/download_queue.h"
#include "protocol/download_request.h"
#include "app/journal.h"
#include "transfer/transfer_rules.h"
#include "app/request_rules.h"
#include "support/handles.h"
#include "transfer/cftp.h"

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
inline constexpr size_t kTransferBufferSize = 10240;
// Posted to ourselves: the "FAILED" replies of refused requests go out once the
// requester's own send has returned.
inline constexpr UINT kSendRefusalsMessage = WM_APP + 11;
// From the pending list to the window: its context menu (lParam the point) or Delete.
inline constexpr UINT kPendingListMessage = WM_APP + 12;
inline constexpr WPARAM kListShowMenu = 0;
inline constexpr WPARAM kListCancelCaretLine = 1;
inline constexpr UINT kCancelSelectedCommand = 0x5100;
// How long a PROGRESS message may take, and how often one goes.
inline constexpr UINT kProgressTimeoutMs = 200;
inline constexpr ULONGLONG kProgressEveryMs = 500;

// The user's thousands separator, for the byte counts shown while a file arrives.
std::wstring GroupSeparator();

// The tip field of a tray record: the text in the ANSI code page, at most 63 bytes of it,
// zero-filled to the end of the field's first-version size (64 bytes).
void FillTrayTip(NOTIFYICONDATAA& record, const std::wstring& tip);
// Gives the pending list its "Cancel" menu and Delete key (requester_control.cpp).
void AttachPendingListMenu(HWND list);

class frmVelmoraSkytrove {
 public:
  explicit frmVelmoraSkytrove(HINSTANCE instance);
  virtual ~frmVelmoraSkytrove();
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
  // Transfers (src/transfer).
  // Virtual only so that tests can make a transfer fail in ways no real peer can (a
  // run-time error escaping into the dispatcher).
  virtual bool DownloadHTTPFile(DownloadRequest& request);
  virtual bool DownloadFTPFile(DownloadRequest& request, bool isLinked);
  std::wstring GetRemoteFileTime(const std::wstring& remotePath, const std::wstring& server,
                                 const std::wstring& userName, const std::wstring& password, bool passive);
  virtual bool DeleteFTPFile(DownloadRequest& request);
  // Failure replies (failure_reply.cpp): the transfers note why they gave up, the
  // dispatcher and the list answer the requesters that asked for it.
  void SetFailureReason(const std::wstring& reason) { failureReason_ = reason; }
  // Whether another attempt could help, for Retries=N; the transfers say it with the reason.
  void SetFailureKind(FailureKind kind, int code = 0) {
    failureKind_ = kind;
    failureCode_ = code;
  }
  // Requester control (requester_control.cpp): the transfers report their bytes and ask
  // whether the running request was cancelled after every wait.
  void NoteProgress(int64_t done, int64_t total);
  bool RunningCancelled() const { return runningCancelled_; }

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
  class Dispatching;
  void mnuExit_Click();
  bool AskToQuit(const std::wstring& question);

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

  // Sends a reply to the requester's window (none for window 0), with its log lines.
  void PostToRequester(int32_t parent, const std::wstring& reply);
  void ReplyFailure(const DownloadRequest& request, const std::wstring& reason);
  void RefuseWithReply(const DownloadRequest& request, const std::wstring& reason);
  void SendRefusals();
  // A reply that goes out once the requester's own send has returned.
  void DeferReply(int32_t parent, const std::wstring& reply);

  // Requester control (requester_control.cpp).
  void HandleControl(const ControlMessage& message, int32_t parent);
  // Cancels every listed request `match` accepts (the running one by giving up its
  // transfer); `by` says who, in the FAILED reason. Returns how many.
  size_t CancelWhere(const std::function<bool(const DownloadRequest&)>& match, const std::wstring& by);
  void SendProgress();
  // The person's "Cancel" on the pending list (`line` from 0) or the running file (-1).
  void CancelShownLine(int line);
  void ShowListMenu(int line, int x, int y);
  int SelectedLine() const;

  // The durable queue (persistence.cpp).
  void RestoreJournal();
  // Writes a Persist=1 request through to the journal; refuses it when it cannot.
  bool KeepInJournal(DownloadRequest& request);
  // Whether a reply may go to the request's window: after a restart, only while the
  // window still belongs to the process that sent it.
  bool ReplyAllowed(const DownloadRequest& request, bool log) const;
  RequestJournal journal_;

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;

  UniqueNetwork session_;      // the one internet session, for the program's whole life
  UniqueGlobal bufferHandle_;  // the fixed 10240-byte transfer buffer
  void* buffer_ = nullptr;     // its locked address
  std::shared_ptr<cFTP> ftp_;  // shared only so that a disconnect in progress outlives a release
  NOTIFYICONDATAA tray_{};
  bool trayAdded_ = false;
  DownloadQueue downloadList_;
  bool unloaded_ = false;
  bool dispatching_ = false;  // a request is running: the tick is on the stack
  int questionsUp_ = 0;       // a quit question of ours is up: no transfer starts
  bool placed_ = false;  // the window was shown and placed: its placement may be stored
  std::wstring currentRemotePath_;
  int64_t measuredSize_ = 0;
  std::wstring failureReason_;  // why the running request failed, in its exit line's words
  struct Refusal {
    int32_t parent;
    std::wstring reply;
  };
  std::vector<Refusal> refusals_;  // "FAILED" replies waiting for kSendRefusalsMessage
  RequestHistory history_;         // finished requests, for STATUS
  DownloadRequest running_;        // the running request with its bytes so far
  bool runningCancelled_ = false;  // its transfer is being given up
  bool runningSettled_ = false;    // its transfer has returned: too late to cancel
  std::wstring cancelledBy_;       // the FAILED reason for it
  ULONGLONG lastProgress_ = 0;
  std::vector<uint64_t> shownSequences_;  // the request on each line of the pending list
  int menuLine_ = -2;                      // what the open "Cancel" menu is about

  // Retries and resume: the running attempt's stall watch and how it failed.
  // The transfer notes each byte received (or a new phase begun); a watched file's
  // growth counts too, since FTP's transfer is one call that only the file shows.
  void NoteData();
  bool StallCheck();
  void RunAttempt(DownloadRequest& work, bool& outcome, bool& linkedOutcome);
  ULONGLONG lastDataAt_ = 0;  // when the last byte (or a new phase) came
  ULONGLONG stallMs_ = 0;
  bool stalled_ = false;
  std::wstring stallWatchFile_;
  int64_t stallWatchSize_ = 0;
  FailureKind failureKind_ = FailureKind::Permanent;
  int failureCode_ = 0;
  int retryAfter_ = -1;  // the server's Retry-After in seconds, -1 without one
  std::wstring sha256_;  // the running request's expected digest; empty: no check

  HWND lblCurrentFileDesc_ = nullptr;
  HWND lblCurrentFile_ = nullptr;
  HWND lblFilesDesc_ = nullptr;
  HWND txtQueued_ = nullptr;
  ProgressBar prgProgress_;
  StatusBar statusBar1_;
  WindowTimer tmrUpdateList_;
  WindowTimer tmrDownloadFiles_;
  UniqueFont font_;
  UniqueMenu mPopupSys_;  // "&SysTray": its one popup holds the tray menu's items
  UINT taskbarCreatedMessage_ = 0;
  ULONGLONG lastStatusRepaint_ = 0;
};

}  // namespace velmora
