// The real window in this process: messages that no other process could deliver under
// Wine, and what the window shows: layout, hiding in the tray and coming back, the tray
// menu (Wine keeps menus per process, so only this process can read it back).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "support/components.h"
#include "win_test_support.h"

using namespace velmora;
using testing_support::Pump;

namespace {

class InProcessWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    AppInfo app{L"Z:\\test.exe", L"test", kApplicationTitle, kApplicationTitle};
    StringUtility::Instance().HandOver(app);
  }
};

TEST_F(InProcessWindow, SixteenMebibyteRequestIsReadWithoutHarm) {
  frmVelmoraSkytrove window(GetModuleHandleW(nullptr));
  ASSERT_TRUE(window.Create());
  std::string huge = "GET Type=HTTP SourceFileName=http://127.0.0.1:1/x Reference=" + std::string(16 << 20, 'x');
  COPYDATASTRUCT cds{4, static_cast<DWORD>(huge.size()), huge.data()};
  const DWORD start = GetTickCount();
  // Window 0: read whole and then refused (a window of this process would be refused unread).
  SendMessageW(window.hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
  EXPECT_LT(GetTickCount() - start, 10000u);
  std::string open = "GET Type=HTTP SourceFileName=\"" + std::string(1 << 20, 'y');
  cds = COPYDATASTRUCT{3, static_cast<DWORD>(open.size()), open.data()};
  SendMessageW(window.hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
  EXPECT_TRUE(IsWindow(window.hwnd()));
}

// --- Layout ---------------------------------------------------------------------------

int Px(int twips, bool horizontal) {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, horizontal ? LOGPIXELSX : LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return MulDiv(twips, dpi, 1440);
}

struct Controls {
  HWND currentDesc = nullptr, current = nullptr, progress = nullptr, filesDesc = nullptr, queued = nullptr,
       status = nullptr;
};

BOOL CALLBACK Collect(HWND child, LPARAM out) {
  auto& c = *reinterpret_cast<Controls*>(out);
  wchar_t cls[64] = {}, text[64] = {};
  GetClassNameW(child, cls, 64);
  GetWindowTextW(child, text, 64);
  const std::wstring k = cls, t = text;
  if (k == L"Static" || k == L"STATIC") {
    (t == L"Current Download:" ? c.currentDesc : t == L"Pending Downloads:" ? c.filesDesc : c.current) = child;
  } else if (k == L"Edit" || k == L"EDIT") {
    c.queued = child;
  } else if (k == PROGRESS_CLASSW) {
    c.progress = child;
  } else if (k == STATUSCLASSNAMEW) {
    c.status = child;
  }
  return TRUE;
}

Controls Find(HWND window) {
  Controls c;
  EnumChildWindows(window, Collect, reinterpret_cast<LPARAM>(&c));
  return c;
}

RECT ClientRectOf(HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

void ResizeOuter(HWND window, int dx, int dy) {
  RECT r{};
  GetWindowRect(window, &r);
  SetWindowPos(window, nullptr, 0, 0, Width(r) + dx, Height(r) + dy, SWP_NOMOVE | SWP_NOZORDER);
}

// The rule every size keeps: 120 twips either side of the three wide controls, the
// pending list ending 120 twips above the status bar, everything else where it was made.
void ExpectMargins(HWND window, const Controls& c, const char* when) {
  SCOPED_TRACE(when);
  RECT client{};
  GetClientRect(window, &client);
  const int w = Width(client);
  for (HWND wide : {c.current, c.progress, c.queued}) {
    EXPECT_EQ(ClientRectOf(wide).left, Px(120, true));
    EXPECT_EQ(Width(ClientRectOf(wide)), w - Px(240, true));
  }
  const RECT status = ClientRectOf(c.status);
  EXPECT_EQ(status.bottom, client.bottom);
  EXPECT_EQ(Width(status), w);
  EXPECT_EQ(ClientRectOf(c.queued).top, Px(1020, false));
  EXPECT_EQ(ClientRectOf(c.queued).bottom, status.top - Px(120, false));
  EXPECT_EQ(ClientRectOf(c.current).top, Px(360, false));
  EXPECT_EQ(Height(ClientRectOf(c.current)), Px(285, false));
  EXPECT_EQ(ClientRectOf(c.progress).top, Px(660, false));
  EXPECT_EQ(Height(ClientRectOf(c.progress)), Px(75, false));
  EXPECT_EQ(ClientRectOf(c.filesDesc).top, Px(780, false));
}

void Restore(HWND window) { SendMessageW(window, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONUP); }

TEST_F(InProcessWindow, LayoutKeepsItsMarginsWiderTallerAndAtTheMinimum) {
  frmVelmoraSkytrove window(GetModuleHandleW(nullptr));
  ASSERT_TRUE(window.Create());
  const HWND h = window.hwnd();
  Restore(h);  // starts in the tray
  const Controls c = Find(h);
  ASSERT_TRUE(c.currentDesc && c.current && c.progress && c.filesDesc && c.queued && c.status);

  RECT client{};
  GetClientRect(h, &client);
  EXPECT_EQ(Width(client), Px(6435, true));
  EXPECT_EQ(Height(client), Px(4725, false));
  EXPECT_EQ(ClientRectOf(c.currentDesc).left, Px(120, true));
  EXPECT_EQ(ClientRectOf(c.currentDesc).top, Px(120, false));
  EXPECT_GE(Width(ClientRectOf(c.currentDesc)), Px(1365, true));
  EXPECT_GE(Width(ClientRectOf(c.filesDesc)), Px(1500, true));
  wchar_t text[64] = {};
  SendMessageW(c.status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, L"Velmora Skytrove v4");
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(c.queued, WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_STREQ(font.lfFaceName, L"Tahoma");
  EXPECT_EQ(font.lfHeight, -MulDiv(825, Px(1440, false), 7200));
  ExpectMargins(h, c, "as created");

  const RECT descBefore = ClientRectOf(c.currentDesc);
  const int queuedHeight = Height(ClientRectOf(c.queued));
  ResizeOuter(h, 200, 0);
  ExpectMargins(h, c, "wider");
  EXPECT_EQ(Height(ClientRectOf(c.queued)), queuedHeight);  // only the widths follow
  ResizeOuter(h, 0, 150);
  ExpectMargins(h, c, "taller");
  EXPECT_EQ(Height(ClientRectOf(c.queued)), queuedHeight + 150);
  const RECT descAfter = ClientRectOf(c.currentDesc);
  EXPECT_TRUE(EqualRect(&descBefore, &descAfter));

  // Below the minimum: the window stops at 3000 x 3000 twips, the margins still hold.
  MINMAXINFO info{};
  SendMessageW(h, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, Px(3000, true));
  EXPECT_EQ(info.ptMinTrackSize.y, Px(3000, false));
  SetWindowPos(h, nullptr, 0, 0, 20, 20, SWP_NOMOVE | SWP_NOZORDER);
  RECT outer{};
  GetWindowRect(h, &outer);
  EXPECT_EQ(Width(outer), Px(3000, true));
  EXPECT_EQ(Height(outer), Px(3000, false));
  ExpectMargins(h, c, "at the minimum");
  EXPECT_TRUE(IsWindow(h));
}

// --- Tray ------------------------------------------------------------------------------

TEST_F(InProcessWindow, TrayRecordAndTipTexts) {
  frmVelmoraSkytrove window(GetModuleHandleW(nullptr));
  ASSERT_TRUE(window.Create());
  const NOTIFYICONDATAA& tray = window.TrayRecord();
  // The first version of the record: 88 bytes with 32-bit handles, 104 with 64-bit ones.
  EXPECT_EQ(tray.cbSize, sizeof(void*) == 4 ? 88u : 104u);
  EXPECT_EQ(tray.cbSize, offsetof(NOTIFYICONDATAA, szTip) + 64);
  EXPECT_EQ(tray.hWnd, window.hwnd());
  EXPECT_EQ(tray.uID, 1u);
  EXPECT_EQ(tray.uFlags, 7u);
  EXPECT_EQ(tray.uCallbackMessage, 0x200u);
  EXPECT_EQ(tray.hIcon, reinterpret_cast<HICON>(GetClassLongPtrW(window.hwnd(), GCLP_HICONSM)));
  EXPECT_EQ(std::string(tray.szTip, 64), std::string("Velmora Skytrove v4") + std::string(64 - 19, '\0'));

  // A 70-character status after the product name: the field keeps the first 63
  // characters of the whole text and ends with a zero.
  const std::wstring status = L" Downloaded 1,234,567 bytes" + std::wstring(43, L'.');
  ASSERT_EQ(status.size(), 70u);
  NOTIFYICONDATAA record{};
  std::fill(std::begin(record.szTip), std::end(record.szTip), 'x');
  FillTrayTip(record, L"Velmora Skytrove v4" + status + L'\0');
  const std::string whole = "Velmora Skytrove v4 Downloaded 1,234,567 bytes" + std::string(43, '.');
  EXPECT_EQ(std::string(record.szTip), whole.substr(0, 63));
  EXPECT_EQ(record.szTip[63], '\0');
  // A short text leaves zeros to the end of the field; what lies past it is not touched.
  FillTrayTip(record, L"ab");
  EXPECT_EQ(std::string(record.szTip, 64), std::string("ab") + std::string(62, '\0'));
  EXPECT_EQ(record.szTip[64], 'x');
}

// Reads the tray menu while it is open (its modal loop runs this thread's timers), then
// picks an item by its mnemonic, or closes the menu when `pick` is 0.
struct MenuProbe {
  static inline MenuProbe* current = nullptr;
  wchar_t pick = 0;
  bool seen = false;
  std::vector<std::wstring> items;
  std::vector<UINT> ids, states;

  explicit MenuProbe(wchar_t key) : pick(key) {
    current = this;
    SetTimer(nullptr, 0, 100, &MenuProbe::Tick);
  }
  ~MenuProbe() { current = nullptr; }
  static HWND OpenMenu() {
    HWND menu = FindWindowW(L"#32768", nullptr);
    return menu && IsWindowVisible(menu) && GetWindowThreadProcessId(menu, nullptr) == GetCurrentThreadId() ? menu
                                                                                                             : nullptr;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    MenuProbe* self = current;
    HWND menu = OpenMenu();
    if (self == nullptr || menu == nullptr) return;
    self->seen = true;
    HMENU m = reinterpret_cast<HMENU>(SendMessageW(menu, 0x01E1 /* MN_GETHMENU */, 0, 0));
    for (int i = 0; i < GetMenuItemCount(m); ++i) {
      wchar_t text[64] = {};
      GetMenuStringW(m, i, text, 64, MF_BYPOSITION);
      self->items.push_back(text);
      self->ids.push_back(GetMenuItemID(m, i));
      self->states.push_back(GetMenuState(m, i, MF_BYPOSITION));
    }
    if (self->pick) PostMessageW(menu, WM_CHAR, self->pick, 0);
    else EndMenu();
  }
};

class Foreign {  // another top-level window, in front before each click on the icon
 public:
  Foreign() {
    hwnd_ = CreateWindowExW(0, L"STATIC", L"foreign", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100, nullptr,
                            nullptr, nullptr, nullptr);
  }
  ~Foreign() { DestroyWindow(hwnd_); }
  void ToFront() { SetForegroundWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_;
};

bool Hidden(HWND h) { return !IsWindowVisible(h) && IsIconic(h); }

TEST_F(InProcessWindow, TrayEventsRestoreInFrontOrOpenTheMenuAndNothingElse) {
  frmVelmoraSkytrove window(GetModuleHandleW(nullptr));
  ASSERT_TRUE(window.Create());
  const HWND h = window.hwnd();
  ASSERT_TRUE(Hidden(h));  // start-up minimised it into the tray
  Foreign other;

  // Every other mouse event over the icon, a right-button press included, does nothing.
  for (UINT event : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_RBUTTONDBLCLK, WM_MBUTTONDOWN, WM_MBUTTONUP,
                     WM_MBUTTONDBLCLK, WM_MOUSEWHEEL}) {
    MenuProbe probe(0);
    SendMessageW(h, kTrayCallbackMessage, kTrayIconId, event);
    Pump(150);
    EXPECT_TRUE(Hidden(h)) << std::hex << event;
    EXPECT_FALSE(probe.seen) << std::hex << event;
  }
  // A left click and a double-click bring the window back, in front, in the normal state.
  for (UINT event : {WM_LBUTTONUP, WM_LBUTTONDBLCLK}) {
    ShowWindow(h, SW_MINIMIZE);
    other.ToFront();
    ASSERT_TRUE(Hidden(h));
    SendMessageW(h, kTrayCallbackMessage, kTrayIconId, event);
    EXPECT_TRUE(IsWindowVisible(h)) << std::hex << event;
    EXPECT_FALSE(IsIconic(h) || IsZoomed(h)) << std::hex << event;
    EXPECT_EQ(GetForegroundWindow(), h) << std::hex << event;
  }
  // A window minimised while maximised comes back normal, too.
  ShowWindow(h, SW_MAXIMIZE);
  ShowWindow(h, SW_MINIMIZE);
  Restore(h);
  EXPECT_FALSE(IsIconic(h) || IsZoomed(h));

  // A right click opens "&Restore", a separator and "E&xit"; "&Restore" acts like a left click.
  ShowWindow(h, SW_MINIMIZE);
  other.ToFront();
  {
    MenuProbe probe(L'r');
    SendMessageW(h, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONUP);
    Pump(200);
    ASSERT_TRUE(probe.seen);
    EXPECT_EQ(probe.items, (std::vector<std::wstring>{L"&Restore", L"", L"E&xit"}));
    ASSERT_EQ(probe.states.size(), 3u);
    EXPECT_TRUE(probe.states[1] & MF_SEPARATOR);
    EXPECT_FALSE((probe.states[0] | probe.states[2]) & (MF_GRAYED | MF_DISABLED));
    EXPECT_EQ(probe.ids[0], 101u);
    EXPECT_EQ(probe.ids[2], 102u);
  }
  EXPECT_TRUE(IsWindowVisible(h));
  EXPECT_FALSE(IsIconic(h));
  EXPECT_EQ(GetForegroundWindow(), h);
}

TEST_F(InProcessWindow, EveryWayOfMinimisingEndsInTheTray) {
  frmVelmoraSkytrove window(GetModuleHandleW(nullptr));
  ASSERT_TRUE(window.Create());
  const HWND h = window.hwnd();
  const std::map<std::string, void (*)(HWND)> ways = {
      {"title-bar button", [](HWND w) { SendMessageW(w, WM_SYSCOMMAND, SC_MINIMIZE, 0); }},
      {"SW_MINIMIZE", [](HWND w) { ShowWindow(w, SW_MINIMIZE); }},
      {"SW_SHOWMINNOACTIVE", [](HWND w) { ShowWindow(w, SW_SHOWMINNOACTIVE); }},
      {"CloseWindow", [](HWND w) { CloseWindow(w); }},
  };
  for (const auto& [name, minimise] : ways) {
    Restore(h);
    ASSERT_TRUE(IsWindowVisible(h)) << name;
    minimise(h);
    Pump(50);
    EXPECT_TRUE(Hidden(h)) << name;
  }
}

// The callback's number is WM_MOUSEMOVE's. A pointer movement with the left button held,
// on the top client row exactly as many pixels in as WM_RBUTTONUP's number, has the
// callback's very shape; only where the pointer really is tells them apart.
TEST_F(InProcessWindow, PointerMovementOverTheWindowIsNoTrayClick) {
  frmVelmoraSkytrove window(GetModuleHandleW(nullptr));
  ASSERT_TRUE(window.Create());
  const HWND h = window.hwnd();
  Restore(h);
  SetWindowPos(h, nullptr, 0, 0, 700, 400, SWP_NOZORDER);
  const LPARAM shape = MAKELPARAM(WM_RBUTTONUP, 0);
  POINT onWindow{WM_RBUTTONUP, 0};
  ClientToScreen(h, &onWindow);
  {
    ASSERT_TRUE(SetCursorPos(onWindow.x, onWindow.y));
    MenuProbe probe(0);
    PostMessageW(h, WM_MOUSEMOVE, MK_LBUTTON, shape);
    Pump(300);
    EXPECT_FALSE(probe.seen);
  }
  {
    // The same message posted while the pointer is elsewhere (on the icon) is the click.
    ASSERT_TRUE(SetCursorPos(onWindow.x, onWindow.y + 200));
    MenuProbe probe(0);
    PostMessageW(h, WM_MOUSEMOVE, MK_LBUTTON, shape);
    Pump(300);
    EXPECT_TRUE(probe.seen);
  }
  // Ordinary movements (no button, or positions off the top row) never restore or open.
  ShowWindow(h, SW_MINIMIZE);
  for (LPARAM at : {MAKELPARAM(10, 10), MAKELPARAM(WM_LBUTTONUP, 3)}) {
    MenuProbe probe(0);
    SendMessageW(h, WM_MOUSEMOVE, 0, at);
    SendMessageW(h, WM_MOUSEMOVE, MK_LBUTTON, at);
    Pump(150);
    EXPECT_FALSE(probe.seen);
    EXPECT_TRUE(Hidden(h));
  }
}

}  // namespace
