// Message boxes: a captioned window with the text, an icon for the kinds
// that have one, and an OK button; modal, with its own message loop.
#include <algorithm>
#include <mutex>
#include <string>

#include "platform/dialogs/dialogs.h"
#include "platform/dialogs/dialogs_api.h"
#include "platform/gdi/gdi_api.h"
#include "platform/gdi/text.h"
#include "platform/screen/screen.h"
#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {

constexpr char16_t kMessageBoxClass[] = u"MessageBox";

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
        // The icons are art of their own: red for errors, blue for the rest.
        HBRUSH icon = CreateSolidBrush((state->type & 0xF0) == MB_ICONHAND ? RGB(204, 0, 0)
                                                                           : RGB(0, 80, 200));
        RECT mark{8, 8, 28, 28};
        FillRect(dc, &mark, icon);
        DeleteObject(icon);
        textLeft = 36;
      }
      RECT text{textLeft, 8, client.right - 8, client.bottom - 34};
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
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

}  // namespace

void registerMessageBoxClass() {
  registerSystemClass(kMessageBoxClass, messageBoxProc, 0,
                      static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

}  // namespace zenta::platform

using namespace zenta::platform;

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  registerMessageBoxClass();
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
