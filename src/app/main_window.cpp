// Window plumbing: class registration, controls, the message switch, layout and tray.
#include "app/main_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <cstring>
#include <exception>

#include "support/components.h"
#include "support/offthread.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {
constexpr int kClientWidthTwips = 6435;
constexpr int kClientHeightTwips = 4725;
constexpr int kMinimumTwips = 3000;
constexpr UINT kMenuRestore = 101;
constexpr UINT kMenuExit = 102;

// One log line for anything thrown into a window procedure or timer tick; nothing may
// unwind through the system's code.
void LogEscaped(const char* where, const char* what) {
  std::string text = std::string("Run-time error in ") + where + " - " + what;
  WriteDebugLog(std::wstring(text.begin(), text.end()), 5, kMarkNone);
}

// The descriptive labels are sized for Tahoma; where a wider face stands in for it, the
// label grows to its text instead of cutting it.
void WidenToText(HWND label, HFONT font) {
  wchar_t text[64] = {};
  const int length = GetWindowTextW(label, text, 64);
  HDC dc = GetDC(label);
  if (dc == nullptr) return;
  HGDIOBJ old = SelectObject(dc, font);
  SIZE extent{};
  const bool measured = GetTextExtentPoint32W(dc, text, length, &extent) != FALSE;
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  RECT r{};
  GetWindowRect(label, &r);
  if (measured && extent.cx > r.right - r.left)
    SetWindowPos(label, nullptr, 0, 0, extent.cx, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The shell's callback and a real pointer movement share the number 0x200. The callback
// carries the icon id in wParam and a mouse message in lParam's low word with a zero high
// word. A movement carries key flags and the pointer's client position, so the shapes
// meet only when the left button alone is held with the pointer on the top client row,
// as many pixels in as the number of a mouse message. Such a movement is input: never
// sent from another thread, and its lParam is the client position of the message's own
// point. A callback is sent by the shell's thread, or posted while the pointer is on the
// icon, which is not on our client area.
bool IsPointerMovement(HWND window, WPARAM wParam, LPARAM lParam) {
  if (wParam != kTrayIconId || HIWORD(lParam) != 0) return true;
  if (InSendMessage() || !IsWindowVisible(window)) return false;
  const DWORD pos = GetMessagePos();
  POINT at{static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
  if (!ScreenToClient(window, &at)) return false;
  return at.x == static_cast<LONG>(LOWORD(lParam)) && at.y == 0;
}
}  // namespace

// The shell reads only the first version's 64-byte field, whatever size the headers give
// it; its last byte stays zero so the tip is always ended.
void FillTrayTip(NOTIFYICONDATAA& record, const std::wstring& tip) {
  constexpr size_t kTipBytes = 64;
  static_assert(sizeof record.szTip >= kTipBytes);
  auto* field = reinterpret_cast<unsigned char*>(record.szTip);
  CopyStringToBytes(field, kTipBytes, tip);
  field[kTipBytes - 1] = 0;
  // In a double-byte code page the cut can part a lead byte from its trail byte; a lone
  // lead byte would swallow the terminating zero when the shell reads the tip.
  for (size_t k = 0; k < kTipBytes - 1 && field[k] != 0; ++k) {
    if (!IsDBCSLeadByte(field[k])) continue;
    if (field[k + 1] == 0) {
      field[k] = 0;
      break;
    }
    ++k;
  }
}

frmVelmoraSkytrove::frmVelmoraSkytrove(HINSTANCE instance) : instance_(instance) {}

frmVelmoraSkytrove::~frmVelmoraSkytrove() {
  if (hwnd_ != nullptr) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

int frmVelmoraSkytrove::Twips(int twips, bool horizontal) const {
  HDC dc = GetDC(hwnd_);
  const int dpi = dc ? GetDeviceCaps(dc, horizontal ? LOGPIXELSX : LOGPIXELSY) : 96;
  if (dc) ReleaseDC(hwnd_, dc);
  return MulDiv(twips, dpi > 0 ? dpi : 96, 1440);
}

bool frmVelmoraSkytrove::Create() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &frmVelmoraSkytrove::WndProc;
  wc.hInstance = instance_;
  wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(1));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kMainWindowClass;
  RegisterClassExW(&wc);

  const DWORD style = WS_OVERLAPPEDWINDOW;
  hwnd_ = CreateWindowExW(0, kMainWindowClass, L"", style, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr,
                          nullptr, instance_, this);
  if (hwnd_ == nullptr) return false;
  RECT r{0, 0, Twips(kClientWidthTwips, true), Twips(kClientHeightTwips, false)};
  AdjustWindowRectEx(&r, style, FALSE, 0);
  SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  CreateControls();
  Form_Load();
  return hwnd_ != nullptr;
}

void frmVelmoraSkytrove::CreateControls() {
  HDC dc = GetDC(hwnd_);
  const int height = -MulDiv(825, dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96, 7200);  // 8.25 pt
  if (dc) ReleaseDC(hwnd_, dc);
  font_.reset(CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));

  auto make = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int l, int t, int w, int h) {
    HWND c = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, Twips(l, true), Twips(t, false),
                             Twips(w, true), Twips(h, false), hwnd_, nullptr, instance_, nullptr);
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    return c;
  };
  lblCurrentFileDesc_ = make(L"STATIC", L"Current Download:", SS_LEFT, 120, 120, 1365, 195);
  lblCurrentFile_ = make(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 120, 360, 6195, 285);
  prgProgress_.Attach(make(PROGRESS_CLASSW, L"", 0, 120, 660, 6195, 75));
  SendMessageW(prgProgress_.hwnd(), PBM_SETRANGE32, 0, 100);
  lblFilesDesc_ = make(L"STATIC", L"Pending Downloads:", SS_LEFT, 120, 780, 1500, 195);
  txtQueued_ = make(L"EDIT", L"", WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 120,
                    1020, 6195, 1695);
  SendMessageW(txtQueued_, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
  AttachPendingListMenu(txtQueued_, this);
  statusBar1_.Attach(make(STATUSCLASSNAMEW, L"", 0, 0, 4410, 6435, 315));
  SendMessageW(statusBar1_.hwnd(), SB_SIMPLE, TRUE, 0);
  statusBar1_.SetText(kApplicationTitle);
  WidenToText(lblCurrentFileDesc_, font_.get());
  WidenToText(lblFilesDesc_, font_.get());

  tmrUpdateList_.Attach(hwnd_, kTimerUpdateList, 750);
  tmrDownloadFiles_.Attach(hwnd_, kTimerDownloadFiles, 1000);
  tmrWatch_.Attach(hwnd_, kTimerWatch, static_cast<UINT>(offthread::kAbandonPollMs));
  outbox_.Attach(hwnd_, kReplyOutboxMessage);
  // The window was sized before its controls existed; the pending list reaches down to
  // the status bar from the first time the window is seen.
  Form_Resize();
}

LRESULT CALLBACK frmVelmoraSkytrove::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<frmVelmoraSkytrove*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<frmVelmoraSkytrove*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  try {
    return self->HandleMessage(message, wParam, lParam);
  } catch (const std::exception& e) {
    LogEscaped("window procedure", e.what());
  } catch (...) {
    LogEscaped("window procedure", "unknown error");
  }
  return 0;
}

LRESULT frmVelmoraSkytrove::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COPYDATA:
      CopyDataReceivedEx(reinterpret_cast<const COPYDATASTRUCT*>(lParam), wParam);
      return TRUE;
    case kReplyOutboxMessage:
      outbox_.Pump();
      return 0;
    case kFastStartMessage:
      fastStartPosted_ = false;
      // What runs next may have changed since the post: a request of the design's pace
      // waits for its tick as ever.
      if (!dispatcher_.Busy() && FastAtHead()) tmrDownloadFiles_Timer();
      return 0;
    case kPendingListMessage:
      if (wParam == kListCancelRequest) {
        CancelRequest(static_cast<uint64_t>(lParam));
      } else {
        ShowListMenu(CaretSequence(), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      }
      return 0;
    case WM_CONTEXTMENU: {
      // Over the running file's label: "Cancel" is about the running request.
      POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      RECT label{};
      GetWindowRect(lblCurrentFile_, &label);
      const RunningRequest* running = dispatcher_.Running();
      if (PtInRect(&label, pt) && running != nullptr && dispatcher_.Cancellable(running->request.Sequence))
        ShowListMenu(running->request.Sequence, pt.x, pt.y);
      return 0;
    }
    case WM_TIMER:
      if (wParam == kTimerUpdateList) {
        tmrUpdateList_.Disable();
        UpdateQueuedList();
      } else if (wParam == kTimerDownloadFiles) {
        tmrDownloadFiles_Timer();
      } else if (wParam == kTimerWatch) {
        WatchTick();
      }
      return 0;
    case WM_SIZE:
      Form_Resize();
      return 0;
    case WM_WINDOWPOSCHANGED: {
      const LRESULT result = DefWindowProcW(hwnd_, message, wParam, lParam);  // sends WM_SIZE
      // Showing a window that is already minimised changes no size, so no WM_SIZE tells
      // us; it would sit on the taskbar instead of in the tray.
      const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
      if ((pos->flags & SWP_SHOWWINDOW) && IsIconic(hwnd_)) ShowWindow(hwnd_, SW_HIDE);
      return result;
    }
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize.x = Twips(kMinimumTwips, true);
      info->ptMinTrackSize.y = Twips(kMinimumTwips, false);
      return 0;
    }
    case kTrayCallbackMessage:  // also WM_MOUSEMOVE: Form_MouseMove tells them apart
      Form_MouseMove(wParam, lParam);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kMenuRestore) mPopRestore_Click();
      if (LOWORD(wParam) == kMenuExit) mnuExit_Click();
      if (LOWORD(wParam) == kCancelSelectedCommand) CancelRequest(menuSequence_);
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) {
        RequestClose(kCloseByUser);
        return 0;
      }
      break;
    case WM_CLOSE:
      // A WM_CLOSE that did not come through the system menu is another program
      // asking us to end, the way a task manager does.
      RequestClose(kCloseByTaskManager);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // ENDSESSION_CLOSEAPP: the Restart Manager frees our files for an installer, in any
      // session; we end as for a task manager and Windows starts us again afterwards.
      if (wParam) RequestClose((lParam & ENDSESSION_CLOSEAPP) ? kCloseByTaskManager : kCloseByWindows);
      return 0;
    case WM_DESTROY:
      Form_Unload();
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      return 0;
    default:
      if (taskbarCreatedMessage_ != 0 && message == taskbarCreatedMessage_) {
        // The shell restarted and forgot our icon; a tray program without it is lost.
        if (trayAdded_) Shell_NotifyIconA(NIM_ADD, &tray_);
        return 0;
      }
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void frmVelmoraSkytrove::RequestClose(int reason) {
  if (hwnd_ == nullptr) return;
  bool cancel = false;
  Form_QueryUnload(cancel, reason);
  if (!cancel && hwnd_ != nullptr) DestroyWindow(hwnd_);
}

void frmVelmoraSkytrove::Form_Resize() {
  if (hwnd_ == nullptr || statusBar1_.hwnd() == nullptr) return;  // controls not made yet
  if (IsIconic(hwnd_)) {
    ShowWindow(hwnd_, SW_HIDE);  // leaves the taskbar; only the tray icon remains
    return;
  }
  SendMessageW(statusBar1_.hwnd(), WM_SIZE, 0, 0);  // the status bar follows the bottom edge
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int w = client.right - client.left;
  const int h = client.bottom - client.top;
  const int margin = Twips(240, true);
  const int gap = Twips(120, false);
  auto resize = [&](HWND control, int width, int height) {
    if (width <= 0 || height <= 0) return;  // too small: the control keeps its last size
    SetWindowPos(control, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  };
  auto heightOf = [](HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    return r.bottom - r.top;
  };
  resize(lblCurrentFile_, w - margin, heightOf(lblCurrentFile_));
  resize(prgProgress_.hwnd(), w - margin, heightOf(prgProgress_.hwnd()));
  RECT queued{};
  GetWindowRect(txtQueued_, &queued);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&queued), 2);
  resize(txtQueued_, w - margin, h - statusBar1_.Height() - gap - queued.top);
}

void frmVelmoraSkytrove::AddTrayIcon() {
  tray_ = NOTIFYICONDATAA{};
  tray_.cbSize = NOTIFYICONDATAA_V1_SIZE;
  tray_.hWnd = hwnd_;
  tray_.uID = kTrayIconId;
  tray_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  tray_.uCallbackMessage = kTrayCallbackMessage;
  // The small image of the application icon: the shell would only shrink the large one.
  tray_.hIcon = reinterpret_cast<HICON>(GetClassLongPtrW(hwnd_, GCLP_HICONSM));
  if (tray_.hIcon == nullptr) tray_.hIcon = reinterpret_cast<HICON>(GetClassLongPtrW(hwnd_, GCLP_HICON));
  SetTrayTip(StringUtility::Instance().App().productName + std::wstring(1, L'\0'));
  Shell_NotifyIconA(NIM_ADD, &tray_);
  trayAdded_ = true;
  taskbarCreatedMessage_ = RegisterWindowMessageW(L"TaskbarCreated");
}

void frmVelmoraSkytrove::RemoveTrayIcon() {
  if (!trayAdded_) return;
  Shell_NotifyIconA(NIM_DELETE, &tray_);
  trayAdded_ = false;
}

void frmVelmoraSkytrove::SetTrayTip(const std::wstring& tip) { FillTrayTip(tray_, tip); }

void frmVelmoraSkytrove::ShowTrayTip(const std::wstring& suffix) {
  if (!trayAdded_) return;
  const NOTIFYICONDATAA before = tray_;
  SetTrayTip(StringUtility::Instance().App().productName + suffix + std::wstring(1, L'\0'));
  // The tray's owner is another process: the tip it shows already is not sent again (a
  // small file's transfer would spend a tenth of its time on it).
  if (std::memcmp(before.szTip, tray_.szTip, sizeof tray_.szTip) == 0) return;
  Shell_NotifyIconA(NIM_MODIFY, &tray_);
}

void frmVelmoraSkytrove::Form_MouseMove(WPARAM wParam, LPARAM lParam) {
  if (IsPointerMovement(hwnd_, wParam, lParam)) return;
  switch (LOWORD(lParam)) {
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
      mPopRestore_Click();
      break;
    case WM_RBUTTONUP:
      SetForegroundWindow(hwnd_);  // else the menu would not close when the user clicks elsewhere
      ShowTrayMenu();
      break;
    default:
      break;
  }
}

void frmVelmoraSkytrove::ShowTrayMenu() {
  if (!mPopupSys_) {
    mPopupSys_.reset(CreateMenu());
    HMENU items = CreatePopupMenu();
    AppendMenuW(items, MF_STRING, kMenuRestore, L"&Restore");
    AppendMenuW(items, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(items, MF_STRING, kMenuExit, L"E&xit");
    // From here on the "&SysTray" menu owns the popup and destroys it with itself.
    AppendMenuW(mPopupSys_.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(items), L"&SysTray");
  }
  POINT pt{};
  GetCursorPos(&pt);
  ModalScope modal(*this);
  TrackPopupMenu(GetSubMenu(mPopupSys_.get(), 0), TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd_, nullptr);
  PostMessageW(hwnd_, WM_NULL, 0, 0);  // lets the menu close when the user clicks elsewhere
}

void frmVelmoraSkytrove::mPopRestore_Click() {
  if (hwnd_ == nullptr) return;
  ShowWindow(hwnd_, SW_RESTORE);
  // A window minimised from the maximised state comes back maximised; restore means the
  // normal state.
  if (IsZoomed(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
  SetForegroundWindow(hwnd_);
  ShowWindow(hwnd_, SW_SHOW);
}

// A text set before the agent waits (on a server, say) is on screen at once, so what the
// window says is what it does.
void frmVelmoraSkytrove::SetStatusText(const std::wstring& text, bool refresh) {
  statusBar1_.SetText(text);
  if (!refresh) return;
  lastStatusRepaint_ = GetTickCount64();
  statusBar1_.Refresh();
}

// A repaint costs milliseconds (text rendering), more than taking in a request or a
// chunk does; counts that change with every chunk or request are repainted at most once
// every 50 ms, so a burst of requests or a fast transfer is not slowed down by them. A
// count that is not repainted at once is painted when the window is next idle.
std::wstring GroupSeparator() {
  wchar_t buffer[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, buffer, 8) > 0) return buffer;
  return L",";
}

void frmVelmoraSkytrove::SetStatusCount(const std::wstring& text) {
  statusBar1_.SetText(text);
  const ULONGLONG now = GetTickCount64();
  if (now - lastStatusRepaint_ < 50) return;
  lastStatusRepaint_ = now;
  statusBar1_.Refresh();
}

void frmVelmoraSkytrove::SetCurrentFile(const std::wstring& text) {
  SetWindowTextW(lblCurrentFile_, text.c_str());
  RedrawWindow(lblCurrentFile_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void frmVelmoraSkytrove::SetQueuedText(const std::wstring& text) { SetWindowTextW(txtQueued_, text.c_str()); }

}  // namespace velmora
