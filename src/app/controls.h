// Thin wrappers over the window's controls and timers: one line per operation.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace velmora {

class StatusBar {
 public:
  void Attach(HWND h) { h_ = h; }
  HWND hwnd() const { return h_; }
  void SetText(const std::wstring& t) { text_ = t; SendMessageW(h_, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(text_.c_str())); }
  const std::wstring& Text() const { return text_; }
  void Refresh() { RedrawWindow(h_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }
  int Height() const { RECT r{}; GetWindowRect(h_, &r); return r.bottom - r.top; }

 private:
  HWND h_ = nullptr;
  std::wstring text_;
};

class ProgressBar {
 public:
  void Attach(HWND h) { h_ = h; }
  HWND hwnd() const { return h_; }
  void SetValue(int v) { SendMessageW(h_, PBM_SETPOS, static_cast<WPARAM>(v), 0); }

 private:
  HWND h_ = nullptr;
};

// A window timer with the enabled state, interval and text tag of a form timer.
class WindowTimer {
 public:
  void Attach(HWND owner, UINT_PTR id, UINT interval) { owner_ = owner; id_ = id; interval_ = interval; }
  bool Enabled() const { return enabled_; }
  void Enable() { if (!enabled_ && owner_ && SetTimer(owner_, id_, interval_, nullptr)) enabled_ = true; }
  void Disable() { if (enabled_) KillTimer(owner_, id_); enabled_ = false; }
  // Disable then enable: the next tick comes one full interval from now.
  void Restart() { Disable(); Enable(); }

 private:
  HWND owner_ = nullptr;
  UINT_PTR id_ = 0;
  UINT interval_ = 0;
  bool enabled_ = false;
};

}  // namespace velmora
