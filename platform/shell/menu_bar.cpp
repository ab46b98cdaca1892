// Menu bars: a strip of image buttons across the bottom of the screen,
// made from a menu-bar resource, that send their commands to the owner.
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gdi/gdi_api.h"
#include "platform/resources/resources_api.h"
#include "platform/screen/screen.h"
#include "platform/shell/bars.h"
#include "platform/shell/shell.h"
#include "platform/shell/shell_api.h"
#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {

constexpr char16_t kMenuBarClass[] = u"menu_worker";
constexpr char16_t kTipClass[] = u"menu_tip";
constexpr int kButtonWidth = 26;
// A button's name shows once the mouse has rested on it this long.
constexpr UINT_PTR kTipTimer = 1;
constexpr UINT kTipDelayMs = 500;

struct MenuButton {
  int image;
  UINT command;
  bool checked = false;
};

struct MenuBar {
  HWND hwnd = nullptr;
  HWND owner = nullptr;
  HBITMAP images = nullptr;
  std::vector<MenuButton> buttons;
  COLORREF background = 0;
  int pressed = -1;
  std::vector<std::u16string> tips;  // one a button, empty for none
  int hovered = -1;                  // the button a mouse rests on
  HWND tip = nullptr;                // the name's window, made when first shown
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
  HBRUSH back = CreateSolidBrush(GetSysColor(COLOR_MENU));
  FillRect(dc, &client, back);
  DeleteObject(back);
  HDC images = CreateCompatibleDC(dc);
  HGDIOBJ old = bar.images != nullptr ? SelectObject(images, bar.images) : nullptr;
  for (size_t i = 0; i < bar.buttons.size(); ++i) {
    const int x = int(i) * kButtonWidth;
    if (int(i) == bar.pressed) {
      RECT r{x, 0, x + kButtonWidth, client.bottom};
      FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    } else if (bar.buttons[i].checked) {
      // Held down: a sunken face, dark above and left, light below and right.
      RECT face{x + 1, 1, x + kButtonWidth - 1, client.bottom - 1};
      FillRect(dc, &face, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
      SelectObject(dc, GetStockObject(BLACK_PEN));
      SelectObject(dc, GetStockObject(NULL_BRUSH));
      Rectangle(dc, x + 1, 1, x + kButtonWidth - 1, client.bottom - 1);
      RECT light{x + 2, client.bottom - 3, x + kButtonWidth - 2, client.bottom - 2};
      FillRect(dc, &light, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    if (bar.images == nullptr) continue;
    // Button images keep the standard button face, silver, where the bar's
    // own colour shows through.
    for (int v = 0; v < 16; ++v) {
      for (int u = 0; u < 16; ++u) {
        const COLORREF c = GetPixel(images, bar.buttons[i].image * 16 + u, v);
        if (c != GetSysColor(COLOR_BTNFACE) && c != CLR_INVALID) SetPixel(dc, x + 5 + u, 5 + v, c);
      }
    }
  }
  if (old != nullptr) SelectObject(images, old);
  DeleteDC(images);
  EndPaint(hwnd, &paint);
}

// A button's name: dark text on a pale box with a frame.
LRESULT tipProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcW(hwnd, message, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  RECT r;
  GetClientRect(hwnd, &r);
  HBRUSH back = CreateSolidBrush(RGB(255, 255, 225));
  FillRect(dc, &r, back);
  DeleteObject(back);
  SelectObject(dc, GetStockObject(BLACK_PEN));
  SelectObject(dc, GetStockObject(NULL_BRUSH));
  Rectangle(dc, 0, 0, r.right, r.bottom);
  char16_t text[64] = {};
  GetWindowTextW(hwnd, text, 64);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  DrawTextW(dc, text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  EndPaint(hwnd, &paint);
  return 0;
}

void hideTip(HWND bar) {
  KillTimer(bar, kTipTimer);
  HWND tip = nullptr;
  {
    std::lock_guard guard(barsLock);
    if (MenuBar* b = barOf(bar)) {
      b->hovered = -1;
      tip = b->tip;
    }
  }
  if (tip != nullptr) ShowWindow(tip, SW_HIDE);
}

// The name of the button the mouse rests on, above the bar beside the
// button, within the screen.
void showTip(HWND bar) {
  KillTimer(bar, kTipTimer);
  std::u16string text;
  HWND tip = nullptr;
  int index = -1;
  {
    std::lock_guard guard(barsLock);
    const MenuBar* b = barOf(bar);
    if (b == nullptr || b->hovered < 0 || size_t(b->hovered) >= b->tips.size()) return;
    index = b->hovered;
    text = b->tips[size_t(index)];
    tip = b->tip;
  }
  if (text.empty()) return;
  if (tip == nullptr) {
    tip = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, kTipClass, u"", WS_POPUP, 0, 0, 1, 1,
                          bar, nullptr, nullptr, nullptr);
    if (tip == nullptr) return;
    std::lock_guard guard(barsLock);
    if (MenuBar* b = barOf(bar)) b->tip = tip;
  }
  SetWindowTextW(tip, text.c_str());
  SIZE size{};
  HDC dc = GetDC(tip);
  GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
  ReleaseDC(tip, dc);
  RECT place;
  GetWindowRect(bar, &place);
  const int width = size.cx + 8, height = size.cy + 4;
  const int screenWidth = screen().width();
  const int x =
      std::clamp(int(place.left) + index * kButtonWidth, 0, std::max(0, screenWidth - width));
  const int y = std::max(0, int(place.top) - height - 2);
  SetWindowPos(tip, HWND_TOPMOST, x, y, width, height, SWP_NOACTIVATE);
  ShowWindow(tip, SW_SHOWNA);
  InvalidateRect(tip, nullptr, TRUE);
}

LRESULT menuBarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      paintMenuBar(hwnd);
      return 0;
    case WM_MOUSEMOVE: {
      if ((wParam & MK_LBUTTON) != 0) return 0;
      const int x = int16_t(LOWORD(lParam));
      int index = x >= 0 ? x / kButtonWidth : -1;
      bool changed = false, named = false;
      {
        std::lock_guard guard(barsLock);
        MenuBar* bar = barOf(hwnd);
        if (bar == nullptr) return 0;
        if (index >= int(bar->buttons.size())) index = -1;
        changed = index != bar->hovered;
        named = index >= 0 && size_t(index) < bar->tips.size() && !bar->tips[size_t(index)].empty();
      }
      if (!changed) return 0;
      hideTip(hwnd);
      {
        std::lock_guard guard(barsLock);
        if (MenuBar* bar = barOf(hwnd)) bar->hovered = index;
      }
      if (named) SetTimer(hwnd, kTipTimer, kTipDelayMs, nullptr);
      return 0;
    }
    case WM_TIMER:
      if (wParam == kTipTimer) showTip(hwnd);
      return 0;
    case WM_MOUSELEAVE:
      hideTip(hwnd);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: {
      if (message == WM_LBUTTONDOWN) hideTip(hwnd);
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
    case TB_CHECKBUTTON:
    case TB_ISBUTTONCHECKED: {
      bool found = false, checked = false;
      {
        std::lock_guard guard(barsLock);
        if (MenuBar* bar = barOf(hwnd)) {
          for (MenuButton& b : bar->buttons) {
            if (b.command != UINT(wParam)) continue;
            if (message == TB_CHECKBUTTON) b.checked = lParam != 0;
            found = true;
            checked = b.checked;
          }
        }
      }
      if (message == TB_CHECKBUTTON && found) InvalidateRect(hwnd, nullptr, FALSE);
      return message == TB_CHECKBUTTON ? LRESULT(found) : LRESULT(checked);
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

}  // namespace

void registerMenuBarClass() {
  registerSystemClass(kMenuBarClass, menuBarProc, 0);
  registerSystemClass(kTipClass, tipProc, 0);
}

}  // namespace zenta::platform

using namespace zenta::platform;

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
  if (info == nullptr || info->hwndParent == nullptr || !IsWindow(info->hwndParent)) return FALSE;
  registerMenuBarClass();
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
    bar.buttons.push_back(MenuButton{b[0], b[1], false});
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

BOOL CommandBar_AddToolTips(HWND bar, UINT count, const LPCWSTR* tips) {
  std::lock_guard guard(barsLock);
  MenuBar* b = barOf(bar);
  if (b == nullptr || (count > 0 && tips == nullptr)) return FALSE;
  b->tips.clear();
  for (UINT i = 0; i < count; ++i)
    b->tips.emplace_back(tips[i] != nullptr ? tips[i] : u"");
  return TRUE;
}

BOOL CommandBar_Show(HWND bar, BOOL show) {
  {
    std::lock_guard guard(barsLock);
    if (barOf(bar) == nullptr) return FALSE;
  }
  if (!show) hideTip(bar);
  ShowWindow(bar, show ? SW_SHOW : SW_HIDE);
  updateMenuBarState();
  return TRUE;
}
