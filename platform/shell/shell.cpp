// The Pocket PC shell: the task bar across the top of the screen, menu bars
// at the bottom, full-screen switching, the input panel's report, and
// message boxes.
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gdi/text.h"
#include "platform/screen/screen.h"
#include "platform/windows.h"

namespace zenta::platform {

namespace {

constexpr char16_t kMenuBarClass[] = u"menu_worker";
constexpr char16_t kTaskBarClass[] = u"HHTaskBar";
constexpr char16_t kMessageBoxClass[] = u"MessageBox";
constexpr int kButtonWidth = 26;

struct MenuButton {
  int image;
  UINT command;
};

struct MenuBar {
  HWND hwnd = nullptr;
  HWND owner = nullptr;
  HBITMAP images = nullptr;
  std::vector<MenuButton> buttons;
  COLORREF background = 0;
  int pressed = -1;
};

std::mutex barsLock;
std::vector<MenuBar>& menuBars() {
  static std::vector<MenuBar> bars;
  return bars;
}

MenuBar* barOf(HWND hwnd) {
  for (MenuBar& b : menuBars()) {
    if (b.hwnd == hwnd) return &b;
  }
  return nullptr;
}

void updateMenuBarState() {
  bool any = false;
  {
    std::lock_guard guard(barsLock);
    for (const MenuBar& b : menuBars())
      any = any || IsWindowVisible(b.hwnd);
  }
  ShellBars bars = shellBars();
  bars.menuBar = any;
  setShellBars(bars);
}

constexpr COLORREF kButtonFace = RGB(192, 192, 192);

void paintMenuBar(HWND hwnd) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  MenuBar bar;
  {
    std::lock_guard guard(barsLock);
    if (const MenuBar* b = barOf(hwnd)) bar = *b;
  }
  RECT client;
  GetClientRect(hwnd, &client);
  HBRUSH back = CreateSolidBrush(RGB(206, 206, 206));
  FillRect(dc, &client, back);
  DeleteObject(back);
  HDC images = CreateCompatibleDC(dc);
  HGDIOBJ old = bar.images != nullptr ? SelectObject(images, bar.images) : nullptr;
  for (size_t i = 0; i < bar.buttons.size(); ++i) {
    const int x = int(i) * kButtonWidth;
    if (int(i) == bar.pressed) {
      RECT r{x, 0, x + kButtonWidth, client.bottom};
      FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    }
    if (bar.images == nullptr) continue;
    // Button images keep the standard button face, silver, where the bar's
    // own colour shows through.
    for (int v = 0; v < 16; ++v) {
      for (int u = 0; u < 16; ++u) {
        const COLORREF c = GetPixel(images, bar.buttons[i].image * 16 + u, v);
        if (c != kButtonFace && c != CLR_INVALID) SetPixel(dc, x + 5 + u, 5 + v, c);
      }
    }
  }
  if (old != nullptr) SelectObject(images, old);
  DeleteDC(images);
  EndPaint(hwnd, &paint);
}

LRESULT menuBarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      paintMenuBar(hwnd);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: {
      const int x = int16_t(LOWORD(lParam)), y = int16_t(HIWORD(lParam));
      RECT client;
      GetClientRect(hwnd, &client);
      const int index = x >= 0 && y >= 0 && y < client.bottom ? x / kButtonWidth : -1;
      HWND owner = nullptr;
      UINT command = 0;
      {
        std::lock_guard guard(barsLock);
        MenuBar* bar = barOf(hwnd);
        if (bar == nullptr) return 0;
        const bool onButton = index >= 0 && index < int(bar->buttons.size());
        if (message == WM_LBUTTONDOWN) {
          bar->pressed = onButton ? index : -1;
        } else {
          if (onButton && bar->pressed == index) {
            owner = bar->owner;
            command = bar->buttons[size_t(index)].command;
          }
          bar->pressed = -1;
        }
      }
      if (message == WM_LBUTTONDOWN) SetCapture(hwnd);
      if (message == WM_LBUTTONUP) ReleaseCapture();
      InvalidateRect(hwnd, nullptr, FALSE);
      if (owner != nullptr)
        SendMessageW(owner, WM_COMMAND, MAKEWPARAM(WORD(command), 0),
                     reinterpret_cast<LPARAM>(hwnd));
      return 0;
    }
    case WM_DESTROY: {
      {
        std::lock_guard guard(barsLock);
        auto& bars = menuBars();
        for (auto it = bars.begin(); it != bars.end(); ++it) {
          if (it->hwnd == hwnd) {
            if (it->images != nullptr) DeleteObject(it->images);
            bars.erase(it);
            break;
          }
        }
      }
      updateMenuBarState();
      return 0;
    }
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

LRESULT taskBarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcW(hwnd, message, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  RECT client;
  GetClientRect(hwnd, &client);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  int left = 6;
  if (shellBars().startIcon) {
    HBRUSH flag = CreateSolidBrush(RGB(0, 120, 215));
    RECT mark{6, 5, 22, 21};
    FillRect(dc, &mark, flag);
    DeleteObject(flag);
    left = 28;
  }
  char16_t title[64] = {};
  const HWND front = GetForegroundWindow();
  if (front != nullptr && front != hwnd) GetWindowTextW(front, title, 64);
  RECT text{left, 0, client.right - 4, client.bottom};
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, title, -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  EndPaint(hwnd, &paint);
  return 0;
}

struct MessageBoxState {
  bool done = false;
  std::u16string text;
  UINT type = 0;
};

constexpr int kBoxButton = 60;

LRESULT messageBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<MessageBoxState*>(GetWindowLongW(hwnd, GWL_USERDATA));
  switch (message) {
    case WM_CREATE:
      SetWindowLongW(
          hwnd, GWL_USERDATA,
          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      RECT client;
      GetClientRect(hwnd, &client);
      FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      int textLeft = 8;
      if (state != nullptr && (state->type & 0xF0) != 0) {
        HBRUSH icon = CreateSolidBrush((state->type & 0xF0) == MB_ICONHAND ? RGB(204, 0, 0)
                                                                           : RGB(0, 80, 200));
        RECT mark{8, 8, 28, 28};
        FillRect(dc, &mark, icon);
        DeleteObject(icon);
        textLeft = 36;
      }
      RECT text{textLeft, 8, client.right - 8, client.bottom - 34};
      SetTextColor(dc, RGB(0, 0, 0));
      SetBkMode(dc, TRANSPARENT);
      if (state != nullptr) DrawTextW(dc, state->text.c_str(), -1, &text, DT_LEFT | DT_TOP);
      const int left = (client.right - kBoxButton) / 2;
      SelectObject(dc, GetStockObject(LTGRAY_BRUSH));
      Rectangle(dc, left, client.bottom - 30, left + kBoxButton, client.bottom - 8);
      RECT ok{left, client.bottom - 30, left + kBoxButton, client.bottom - 8};
      DrawTextW(dc, u"OK", 2, &ok, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_LBUTTONUP: {
      RECT client;
      GetClientRect(hwnd, &client);
      const int x = int16_t(LOWORD(lParam)), y = int16_t(HIWORD(lParam));
      const int left = (client.right - kBoxButton) / 2;
      if (state != nullptr && x >= left && x < left + kBoxButton && y >= client.bottom - 30 &&
          y < client.bottom - 8) {
        state->done = true;
      }
      return 0;
    }
    case WM_KEYDOWN:
      if (state != nullptr && (wParam == 0x0D || wParam == 0x1B)) state->done = true;
      return 0;
    case WM_CLOSE:
      if (state != nullptr) state->done = true;
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

void registerShellClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = menuBarProc;
    wc.lpszClassName = kMenuBarClass;
    RegisterClassW(&wc);
    wc.lpfnWndProc = taskBarProc;
    wc.lpszClassName = kTaskBarClass;
    RegisterClassW(&wc);
    wc.lpfnWndProc = messageBoxProc;
    wc.lpszClassName = kMessageBoxClass;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&wc);
  });
}

}  // namespace

void createTaskBar() {
  registerShellClasses();
  const Surface& s = screen();
  CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, kTaskBarClass, u"",
                  WS_POPUP | (shellBars().taskBar ? WS_VISIBLE : 0), 0, 0, s.width(),
                  kTaskBarHeight, nullptr, nullptr, nullptr, nullptr);
}

void refreshTaskBar() {
  const HWND bar = FindWindowW(kTaskBarClass, nullptr);
  if (bar == nullptr) return;
  const bool shown = shellBars().taskBar;
  if ((IsWindowVisible(bar) != FALSE) != shown) ShowWindow(bar, shown ? SW_SHOW : SW_HIDE);
  InvalidateRect(bar, nullptr, TRUE);
}

}  // namespace zenta::platform

using namespace zenta::platform;

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
  if (info == nullptr || info->hwndParent == nullptr || !IsWindow(info->hwndParent)) return FALSE;
  registerShellClasses();
  // The menu-bar resource: menu number, button count, then seven words a
  // button (image, command, state, style, string, 0, 2).
  const HRSRC found = FindResourceW(info->hInstRes, MAKEINTRESOURCEW(info->nToolBarId), RT_RCDATA);
  const auto* words =
      static_cast<const uint16_t*>(LockResource(LoadResource(info->hInstRes, found)));
  const size_t count = SizeofResource(info->hInstRes, found) / 2;
  if (words == nullptr || count < 2 || count < 2 + size_t(words[1]) * 7) return FALSE;
  MenuBar bar;
  bar.owner = info->hwndParent;
  bar.background = info->clrBk;
  for (size_t i = 0; i < words[1]; ++i) {
    const uint16_t* b = words + 2 + 7 * i;
    bar.buttons.push_back(MenuButton{b[0], b[1]});
  }
  if (info->nBmpId != 0)
    bar.images = LoadBitmapW(info->hInstRes, MAKEINTRESOURCEW(uintptr_t(info->nBmpId)));
  const Surface& s = screen();
  const int width = s.width(), top = s.height() - kMenuBarHeight;
  HWND hwnd =
      CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, kMenuBarClass, u"", WS_POPUP, 0, top, width,
                      kMenuBarHeight, info->hwndParent, nullptr, info->hInstRes, nullptr);
  if (hwnd == nullptr) {
    if (bar.images != nullptr) DeleteObject(bar.images);
    return FALSE;
  }
  bar.hwnd = hwnd;
  {
    std::lock_guard guard(barsLock);
    menuBars().push_back(bar);
  }
  ShowWindow(hwnd, SW_SHOW);
  updateMenuBarState();
  info->hwndMB = hwnd;
  return TRUE;
}

BOOL CommandBar_Show(HWND bar, BOOL show) {
  {
    std::lock_guard guard(barsLock);
    if (barOf(bar) == nullptr) return FALSE;
  }
  ShowWindow(bar, show ? SW_SHOW : SW_HIDE);
  updateMenuBarState();
  return TRUE;
}

BOOL SHFullScreen(HWND hwnd, DWORD state) {
  if (!IsWindow(hwnd)) return FALSE;
  ShellBars bars = shellBars();
  if (state & SHFS_HIDETASKBAR) bars.taskBar = false;
  if (state & SHFS_SHOWTASKBAR) bars.taskBar = true;
  if (state & SHFS_HIDESIPBUTTON) bars.sipButton = false;
  if (state & SHFS_SHOWSIPBUTTON) bars.sipButton = true;
  if (state & SHFS_HIDESTARTICON) bars.startIcon = false;
  if (state & SHFS_SHOWSTARTICON) bars.startIcon = true;
  setShellBars(bars);
  refreshTaskBar();
  return TRUE;
}

BOOL SHSipInfo(UINT action, UINT, void* data, UINT) {
  if (action != SPI_GETSIPINFO || data == nullptr) return FALSE;
  auto* info = static_cast<SIPINFO*>(data);
  const Surface& s = screen();
  // The input panel is off on a desktop: the visible desktop runs from
  // below the task bar to the bottom of the screen.
  info->fdwFlags = 0;
  info->rcVisibleDesktop = RECT{0, shellBars().taskBar ? kTaskBarHeight : 0, s.width(), s.height()};
  info->rcSipRect = RECT{0, 0, 0, 0};
  info->dwImDataSize = 0;
  info->pvImData = nullptr;
  return TRUE;
}

BOOL SHSipPreference(HWND, SIPSTATE) {
  return TRUE;
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
  return init != nullptr ? TRUE : FALSE;
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  registerShellClasses();
  MessageBoxState state;
  state.text = text == nullptr ? u"" : text;
  state.type = type;
  const Surface& s = screen();
  const int width = std::min(s.width() - 16, 224);
  const SIZE extent = measureLine(state.text, kSystemFontPixels);
  const int lines = 1 + int(extent.cx / std::max(1, width - 44));
  const int height = std::min(s.height() - 40, 26 + 50 + lines * lineHeight(kSystemFontPixels));
  const bool ownerEnabled = owner != nullptr && IsWindowEnabled(owner);
  if (ownerEnabled) EnableWindow(owner, FALSE);
  HWND box =
      CreateWindowExW(WS_EX_TOPMOST, kMessageBoxClass, caption == nullptr ? u"Error" : caption,
                      WS_POPUP | WS_CAPTION | WS_VISIBLE, (s.width() - width) / 2,
                      (s.height() - height) / 2, width, height, owner, nullptr, nullptr, &state);
  if (box == nullptr) {
    if (ownerEnabled) EnableWindow(owner, TRUE);
    return 0;
  }
  SetFocus(box);
  MSG msg;
  while (!state.done && IsWindow(box)) {
    if (!GetMessageW(&msg, nullptr, 0, 0)) {
      PostQuitMessage(int(msg.wParam));  // for the outer loop
      break;
    }
    DispatchMessageW(&msg);
  }
  if (ownerEnabled) EnableWindow(owner, TRUE);
  if (IsWindow(box)) DestroyWindow(box);
  if (owner != nullptr && IsWindow(owner)) SetForegroundWindow(owner);
  return IDOK;
}
