// Modal dialogs from templates in the device's binary format, and the
// dialog manager's default behaviour: the DWL_ slots, focus moves with Tab,
// Enter and Escape, the caption's OK button.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/metrics.h"
#include "platform/controls/controls.h"
#include "platform/controls/controls_api.h"
#include "platform/dialogs/dialog_template.h"
#include "platform/dialogs/dialogs.h"
#include "platform/dialogs/dialogs_api.h"
#include "platform/gdi/gdi_api.h"
#include "platform/gdi/text.h"
#include "platform/resources/resources.h"
#include "platform/screen/screen.h"
#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {

constexpr char16_t kDialogClass[] = u"Dialog";

struct DialogState {
  bool ended = false;
  INT_PTR result = 0;
};

std::mutex dialogsLock;
std::map<HWND, DialogState>& dialogs() {
  static std::map<HWND, DialogState> d;
  return d;
}

// Dialog units in pixels: horizontal units are a quarter of the font's
// average character width, vertical ones an eighth of its height.
struct BaseUnits {
  int x, y;
};
BaseUnits baseUnits() {
  const SIZE letters =
      measureLine(u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", kSystemFontPixels);
  return BaseUnits{int((letters.cx / 26 + 1) / 2), lineHeight(kSystemFontPixels)};
}

bool returnsDirectly(UINT message) {
  return message == WM_CTLCOLORMSGBOX || message == WM_CTLCOLOREDIT ||
         message == WM_CTLCOLORLISTBOX || message == WM_CTLCOLORBTN || message == WM_CTLCOLORDLG ||
         message == WM_CTLCOLORSCROLLBAR || message == WM_CTLCOLORSTATIC ||
         message == WM_COMPAREITEM || message == WM_VKEYTOITEM || message == WM_CHARTOITEM ||
         message == WM_QUERYDRAGICON || message == WM_INITDIALOG;
}

// The controls of a dialog in their order (the order of creation).
std::vector<HWND> controlsOf(HWND dialog) {
  std::vector<HWND> out;
  for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
    out.push_back(c);
  std::reverse(out.begin(), out.end());  // children are kept front first: the newest first
  return out;
}

bool isTabStop(HWND control) {
  const auto style = DWORD(GetWindowLongW(control, GWL_STYLE));
  return (style & WS_TABSTOP) && (style & WS_VISIBLE) && !(style & WS_DISABLED);
}

// The control of the dialog that holds `focus` (itself or an ancestor).
HWND controlHolding(HWND dialog, HWND focus) {
  for (HWND w = focus; w != nullptr; w = GetParent(w)) {
    if (GetParent(w) == dialog) return w;
  }
  return nullptr;
}

void moveFocus(HWND dialog, bool backwards) {
  const auto controls = controlsOf(dialog);
  if (controls.empty()) return;
  const HWND current = controlHolding(dialog, GetFocus());
  const auto it = std::find(controls.begin(), controls.end(), current);
  const size_t n = controls.size();
  size_t index = it == controls.end() ? (backwards ? 0 : n - 1) : size_t(it - controls.begin());
  for (size_t step = 0; step < n; ++step) {
    index = backwards ? (index + n - 1) % n : (index + 1) % n;
    if (isTabStop(controls[index])) {
      SetFocus(controls[index]);
      // An edit field reached with Tab selects its whole text, so typing
      // replaces it; other controls ignore the message.
      SendMessageW(controls[index], EM_SETSEL, 0, -1);
      return;
    }
  }
}

bool shiftDown = false;

// The dialog manager's keys: Tab and Shift-Tab move the focus, Enter is
// IDOK, Escape IDCANCEL. Returns whether the message was used.
bool dialogKey(HWND dialog, const MSG& msg) {
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_SHIFT) shiftDown = true;
  if (msg.message == WM_KEYUP && msg.wParam == VK_SHIFT) shiftDown = false;
  if (msg.hwnd != dialog && GetParent(msg.hwnd) != dialog &&
      controlHolding(dialog, msg.hwnd) == nullptr)
    return false;
  // A control that wants every key (a combo box with its list open) gets
  // Enter and Escape itself.
  const HWND holder = controlHolding(dialog, msg.hwnd);
  if (holder != nullptr && (SendMessageW(holder, WM_GETDLGCODE, 0, 0) & DLGC_WANTALLKEYS) != 0 &&
      msg.wParam != VK_TAB && msg.wParam != u'\t')
    return false;
  if (msg.message == WM_CHAR && (msg.wParam == u'\t' || msg.wParam == u'\r' || msg.wParam == 0x1B))
    return true;
  if (msg.message != WM_KEYDOWN) return false;
  switch (msg.wParam) {
    case VK_TAB:
      moveFocus(dialog, shiftDown);
      return true;
    case VK_RETURN:
      SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
      return true;
    case VK_ESCAPE:
      SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
      return true;
    default:
      return false;
  }
}

}  // namespace

void registerDialogClass() {
  registerSystemClass(kDialogClass, DefDlgProcW, 3,
                      static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

}  // namespace zenta::platform

using namespace zenta::platform;

LRESULT DefDlgProcW(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto proc = reinterpret_cast<DLGPROC>(GetWindowLongW(dialog, DWL_DLGPROC));
  if (proc != nullptr) {
    SetWindowLongW(dialog, DWL_MSGRESULT, 0);
    const INT_PTR answer = proc(dialog, message, wParam, lParam);
    if (returnsDirectly(message) && (answer != 0 || message == WM_INITDIALOG)) return answer;
    if (answer != 0) return GetWindowLongW(dialog, DWL_MSGRESULT);
  }
  switch (message) {
    case WM_CLOSE:
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
      return 0;
    case WM_NEXTDLGCTL:
      if (LOWORD(lParam) != 0) {
        SetFocus(reinterpret_cast<HWND>(wParam));
      } else {
        moveFocus(dialog, wParam != 0);
      }
      return 0;
    case WM_LBUTTONUP: {
      // The caption's OK button (caption taps come with y above the client).
      const int x = int16_t(LOWORD(lParam)), y = int16_t(HIWORD(lParam));
      RECT client;
      GetClientRect(dialog, &client);
      const RECT ok = captionOkBox(client.right);
      if ((DWORD(GetWindowLongW(dialog, GWL_EXSTYLE)) & WS_EX_CAPTIONOKBTN) && y < 0 &&
          y >= -kCaptionHeight && x >= ok.left && x < ok.right) {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
      }
      return 0;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_INITDIALOG:
      return 0;
    default:
      return DefWindowProcW(dialog, message, wParam, lParam);
  }
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, const DLGTEMPLATE* dialog, HWND owner,
                                DLGPROC proc, LPARAM init) {
  ParsedTemplate t;
  // A template from the program's resources is read within the resource;
  // any other within 64 KiB, the most a template can hold.
  const auto* bytes = reinterpret_cast<const uint8_t*>(dialog);
  if (dialog == nullptr || !parseDialogTemplate(bytes, resourceBytesFrom(bytes).value_or(65536), t))
    return -1;
  const BaseUnits units = baseUnits();
  const auto px = [&](int v) { return v * units.x / 4; };
  const auto py = [&](int v) { return v * units.y / 8; };
  const DWORD style = (t.style & ~WS_VISIBLE & ~WS_CHILD) | WS_POPUP;
  const int extraTop = (style & WS_CAPTION) == WS_CAPTION ? kCaptionHeight
                       : (style & WS_BORDER)              ? 2
                                                          : 0;
  const int extraSide = (style & WS_CAPTION) != WS_CAPTION && (style & WS_BORDER) ? 2 : 0;
  POINT origin{0, workArea().top};
  if (owner != nullptr) {
    origin = POINT{0, 0};
    ClientToScreen(owner, &origin);
  }
  HWND hwnd = CreateWindowExW(t.exStyle, kDialogClass, t.title.c_str(), style, origin.x + px(t.x),
                              origin.y + py(t.y), px(t.cx) + extraSide, py(t.cy) + extraTop, owner,
                              nullptr, instance, nullptr);
  if (hwnd == nullptr) return -1;
  {
    std::lock_guard guard(dialogsLock);
    dialogs()[hwnd] = DialogState{};
  }
  SetWindowLongW(hwnd, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(proc));
  const HGDIOBJ font = GetStockObject(SYSTEM_FONT);
  HWND firstTab = nullptr;
  for (const ItemTemplate& item : t.items) {
    HWND control =
        CreateWindowExW(item.exStyle, item.className.c_str(), item.text.c_str(),
                        item.style | WS_CHILD, px(item.x), py(item.y), px(item.cx), py(item.cy),
                        hwnd, reinterpret_cast<HMENU>(uintptr_t(item.id)), instance, nullptr);
    if (control == nullptr) continue;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    if (firstTab == nullptr && isTabStop(control)) firstTab = control;
  }
  // The font comes before WM_INITDIALOG, as the device's dialog manager does.
  if (t.style & DS_SETFONT) SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
  const bool ownerEnabled = owner != nullptr && IsWindowEnabled(owner);
  if (ownerEnabled) EnableWindow(owner, FALSE);
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  if (SendMessageW(hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTab), init) != 0 &&
      firstTab != nullptr) {
    SetFocus(firstTab);
  }
  MSG msg;
  for (;;) {
    {
      std::lock_guard guard(dialogsLock);
      if (dialogs()[hwnd].ended) break;
    }
    if (!IsWindow(hwnd)) break;
    if (!GetMessageW(&msg, nullptr, 0, 0)) {
      PostQuitMessage(int(msg.wParam));  // for the loop outside
      break;
    }
    if (!dialogKey(hwnd, msg)) DispatchMessageW(&msg);
  }
  INT_PTR result = 0;
  {
    std::lock_guard guard(dialogsLock);
    result = dialogs()[hwnd].result;
    dialogs().erase(hwnd);
  }
  if (ownerEnabled) EnableWindow(owner, TRUE);
  if (IsWindow(hwnd)) DestroyWindow(hwnd);
  if (owner != nullptr && IsWindow(owner)) SetForegroundWindow(owner);
  return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  std::lock_guard guard(dialogsLock);
  const auto it = dialogs().find(dialog);
  if (it == dialogs().end()) return FALSE;
  it->second.ended = true;
  it->second.result = result;
  return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
  for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    if (GetWindowLongW(c, GWL_ID) == id) return c;
  }
  return nullptr;
}

int GetDlgCtrlID(HWND control) {
  return int(GetWindowLongW(control, GWL_ID));
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  const HWND control = GetDlgItem(dialog, id);
  return control != nullptr && SetWindowTextW(control, text) ? TRUE : FALSE;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int size) {
  const HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) {
    if (buffer != nullptr && size > 0) buffer[0] = 0;
    return 0;
  }
  return UINT(GetWindowTextW(control, buffer, size));
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND control = GetDlgItem(dialog, id);
  return control == nullptr ? 0 : SendMessageW(control, message, wParam, lParam);
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  return SendDlgItemMessageW(dialog, id, BM_SETCHECK, check, 0), GetDlgItem(dialog, id) != nullptr;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  return UINT(SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0));
}
