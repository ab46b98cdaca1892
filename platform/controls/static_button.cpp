// Static text, push buttons and automatic check boxes.
#include <algorithm>
#include <string>

#include "platform/controls/controls.h"
#include "platform/controls/controls_api.h"
#include "platform/gdi/gdi_api.h"
#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {

// Window slots of a button: its check state and whether it is held down.
constexpr int kCheck = 0;
constexpr int kPressed = int(sizeof(LONG_PTR));

LRESULT staticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      RECT client;
      GetClientRect(hwnd, &client);
      FillRect(dc, &client, controlColours(hwnd, dc, WM_CTLCOLORSTATIC));
      const DWORD style = DWORD(GetWindowLongW(hwnd, GWL_STYLE));
      const UINT align = (style & 3) == SS_CENTER  ? DT_CENTER
                         : (style & 3) == SS_RIGHT ? DT_RIGHT
                                                   : DT_LEFT;
      SetBkMode(dc, TRANSPARENT);
      const std::u16string text = windowText(hwnd);
      DrawTextW(dc, text.c_str(), int(text.size()), &client, align | DT_TOP);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_SETTEXT: {
      const LRESULT r = DefWindowProcW(hwnd, message, wParam, lParam);
      InvalidateRect(hwnd, nullptr, TRUE);
      return r;
    }
    case WM_LBUTTONUP:
      if (DWORD(GetWindowLongW(hwnd, GWL_STYLE)) & SS_NOTIFY) notifyParent(hwnd, 0);
      return 0;
    case WM_SETFONT:
    case WM_GETFONT:
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

bool isCheckBox(HWND hwnd) {
  const DWORD type = DWORD(GetWindowLongW(hwnd, GWL_STYLE)) & BS_TYPEMASK;
  return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX;
}

void paintButton(HWND hwnd) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  RECT client;
  GetClientRect(hwnd, &client);
  const std::u16string text = windowText(hwnd);
  const bool pressed = GetWindowLongW(hwnd, kPressed) != 0;
  const bool focused = GetFocus() == hwnd;
  if (isCheckBox(hwnd)) {
    FillRect(dc, &client, controlColours(hwnd, dc, WM_CTLCOLORSTATIC));
    const int box = 11, top = (client.bottom - box) / 2;
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    SelectObject(dc, GetStockObject(BLACK_PEN));
    Rectangle(dc, 0, top, box, top + box);
    if (GetWindowLongW(hwnd, kCheck) == BST_CHECKED) {
      RECT mark{3, top + 3, box - 3, top + box - 3};
      FillRect(dc, &mark, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
    RECT label{box + 4, 0, client.right, client.bottom};
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text.c_str(), int(text.size()), &label, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    if (focused) {
      // The focus mark: a frame round the label.
      SIZE extent{};
      GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
      const int right = std::min<int>(client.right, label.left + extent.cx + 3);
      const int labelTop = std::max<int>(0, (client.bottom - extent.cy) / 2 - 1);
      const int labelBottom = std::min<int>(client.bottom, labelTop + extent.cy + 2);
      SelectObject(dc, GetStockObject(NULL_BRUSH));
      Rectangle(dc, label.left - 2, labelTop, right, labelBottom);
    }
  } else {
    controlColours(hwnd, dc, WM_CTLCOLORBTN);
    SelectObject(dc, GetStockObject(pressed ? BLACK_BRUSH : LTGRAY_BRUSH));
    SelectObject(dc, GetStockObject(BLACK_PEN));
    Rectangle(dc, 0, 0, client.right, client.bottom);
    if (focused) {
      SelectObject(dc, GetStockObject(NULL_BRUSH));
      Rectangle(dc, 2, 2, client.right - 2, client.bottom - 2);
    }
    SetTextColor(dc, GetSysColor(pressed ? COLOR_HIGHLIGHTTEXT : COLOR_BTNTEXT));
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text.c_str(), int(text.size()), &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  EndPaint(hwnd, &paint);
}

LRESULT buttonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      paintButton(hwnd);
      return 0;
    case WM_LBUTTONDOWN:
      SetWindowLongW(hwnd, kPressed, 1);
      SetCapture(hwnd);
      SetFocus(hwnd);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_LBUTTONUP: {
      if (GetWindowLongW(hwnd, kPressed) == 0) return 0;
      SetWindowLongW(hwnd, kPressed, 0);
      ReleaseCapture();
      InvalidateRect(hwnd, nullptr, FALSE);
      RECT client;
      GetClientRect(hwnd, &client);
      const POINT p{int16_t(LOWORD(lParam)), int16_t(HIWORD(lParam))};
      if (!PtInRect(&client, p)) return 0;  // released outside: no click
      if ((DWORD(GetWindowLongW(hwnd, GWL_STYLE)) & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
        SendMessageW(hwnd, BM_SETCHECK,
                     GetWindowLongW(hwnd, kCheck) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
      }
      notifyParent(hwnd, BN_CLICKED);
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == ' ') {
        SendMessageW(hwnd, WM_LBUTTONDOWN, 0, 0);
        SendMessageW(hwnd, WM_LBUTTONUP, 0, 0);
      }
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case BM_GETCHECK:
      return GetWindowLongW(hwnd, kCheck);
    case BM_SETCHECK:
      SetWindowLongW(hwnd, kCheck, LONG_PTR(wParam == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED));
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_SETTEXT: {
      const LRESULT r = DefWindowProcW(hwnd, message, wParam, lParam);
      InvalidateRect(hwnd, nullptr, TRUE);
      return r;
    }
    case WM_SETFONT:
    case WM_GETFONT:
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace

void registerStatic() {
  registerSystemClass(u"STATIC", staticProc, 0);
}

void registerButton() {
  registerSystemClass(u"BUTTON", buttonProc, 2);
}

}  // namespace zenta::platform
