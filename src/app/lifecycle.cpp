// Start-up and shut-down of the window, and the questions asked before quitting.
#include <windows.h>

#include "app/main_window.h"
#include "support/components.h"
#include "support/debug_level.h"
#include "support/offthread.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {
void Log(const wchar_t* text, int mark) { WriteDebugLog(text, 10, mark); }
}  // namespace

void frmVelmoraSkytrove::Form_Load() {
  LoadDebugLevel();
  Log(L"Start frmVelmoraSkytrove:Form_Load", kMarkStart);

  if (StringUtility::Instance().AlreadyRunning()) {
    Log(L"Exit frmVelmoraSkytrove:Form_Load - Already running", kMarkEnd);
    RequestClose(kCloseByCode);
    return;
  }
  if (!systemcheck::BrowserCheck(true)) {
    Log(L"No IE4 or higher Detected", kMarkNone);
    RequestClose(kCloseByCode);
    return;
  }

  downloadList_.Clear();
  SetWindowTextW(hwnd_, kApplicationTitle);
  ftp_ = std::make_shared<cFTP>();

  bufferHandle_.reset(GlobalAlloc(GMEM_FIXED, kTransferBufferSize));
  if (bufferHandle_) buffer_ = GlobalLock(bufferHandle_.get());

  Log(L"Opening internet connnection", kMarkNone);
  session_.reset(InternetOpenA("VelmoraSkytrove4", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                               INTERNET_FLAG_NO_CACHE_WRITE));
  if (!session_) {
    Log(L"Failed to open Internet Connection", kMarkNone);
    MessageBoxW(nullptr,
                L"The Velmora Skytrove could not open a connection to the Internet\n\n"
                L"Please check your internet settings and try again",
                kApplicationTitle, MB_OK | MB_ICONHAND);
    RequestClose(kCloseByCode);
    return;
  }
  Log(L"Opening internet connnection - OK", kMarkNone);
  RestoreJournal();

  ShowWindow(hwnd_, SW_SHOW);
  RECT work{};
  RECT outer{};
  if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) && GetWindowRect(hwnd_, &outer)) {
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    SetWindowPos(hwnd_, nullptr, work.right - width, work.bottom - height, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  placement::Restore(kPlacementKey, hwnd_);
  placed_ = true;
  UpdateWindow(hwnd_);

  AddTrayIcon();
  RegisterForRestart();  // only a start-up that was not refused comes back after an update
  if (!HasNoMinimise(ProcessArguments())) ShowWindow(hwnd_, SW_MINIMIZE);
  Log(L"Finish frmVelmoraSkytrove:Form_Load", kMarkEnd);
}

// The question's box runs messages. No transfer starts under it (the dispatcher ignores
// its ticks meanwhile), so that "Yes" never waits for a download to end; a close that
// comes some other way while it is up has already done the work.
bool frmVelmoraSkytrove::AskToQuit(const std::wstring& question) {
  if (IsIconic(hwnd_) || !IsWindowVisible(hwnd_)) mPopRestore_Click();
  ++questionsUp_;
  ModalScope modal(*this);
  const int answer = MessageBoxW(hwnd_, question.c_str(), kApplicationTitle, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  --questionsUp_;
  return answer != IDNO;
}

void frmVelmoraSkytrove::Form_QueryUnload(bool& cancel, int reason) {
  // A second close (another WM_CLOSE, the session ending) while the first one runs
  // messages: the first one finishes the job.
  if (unloaded_) {
    cancel = true;
    return;
  }
  if (reason == kCloseByUser &&
      !AskToQuit(std::wstring(L"Are you sure you want to quit from the ") + kApplicationTitle + L"?")) {
    cancel = true;
    return;
  }
  if (unloaded_ || hwnd_ == nullptr) {  // closed some other way while the question was up
    cancel = true;
    return;
  }
  unloaded_ = true;
  tmrDownloadFiles_.Disable();
  tmrUpdateList_.Disable();
  outbox_.Close();
  // A network call in flight is ended by closing its handles, or left behind after a
  // short grace; no new one starts. The process must not wait on a server to end.
  offthread::BeginShutdown();
  // Kept alive here: the disconnect can run messages, and a close handled meanwhile
  // releases the window's reference.
  if (std::shared_ptr<cFTP> ftp = ftp_) ftp->Disconnect();
}

void frmVelmoraSkytrove::ReleaseTransferObjects() {
  if (bufferHandle_) {
    GlobalUnlock(bufferHandle_.get());
    bufferHandle_.reset();
    buffer_ = nullptr;
  }
  ftp_.reset();
}

void frmVelmoraSkytrove::mnuExit_Click() {
  if (unloaded_) return;
  if (AskToQuit(L"Are you sure you want to quit from the Skytrove?")) RequestClose(kCloseByCode);
}

// Runs inside WM_DESTROY, possibly in the middle of a transfer's wait: the unloaded
// flag is already set, so the transfer leaves by its unloaded exit, and what it still
// uses is freed once it has gone.
void frmVelmoraSkytrove::Form_Unload() {
  unloaded_ = true;
  offthread::BeginShutdown();
  session_.reset();
  outbox_.Close();
  if (!dispatcher_.Busy()) ReleaseTransferObjects();
  RemoveTrayIcon();
  // A refused start-up never showed the window; a minimised one sits in the tray.
  if (placed_ && !IsIconic(hwnd_)) placement::Save(kPlacementKey, hwnd_);
}

}  // namespace velmora
