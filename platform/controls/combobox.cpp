// The drop-down combo box: an edit field, an arrow, and a list that drops
// down below it on a tap or click of the arrow (or F4, Alt+Down) and closes
// on a pick, a tap elsewhere, Enter or Escape.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/base/text.h"
#include "platform/controls/controls.h"
#include "platform/controls/controls_api.h"
#include "platform/gdi/gdi_api.h"
#include "platform/gdi/text.h"
#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {

constexpr int kArrow = 16;
constexpr int kEditId = 1001;
constexpr UINT kF4 = VK_F1 + 3;
constexpr char16_t kListClass[] = u"ComboLBox";

struct ComboState {
  std::vector<std::u16string> items;
  int selection = -1;
  HWND edit = nullptr;
  HWND list = nullptr;  // while dropped down
  // The press on the arrow that opened the list: its release over the arrow
  // leaves the list open (a click), a release over an item picks it (a drag).
  bool pressOpened = false;
  int hot = -1;              // the row under the pointer
  int selectionAtDrop = -1;  // what Escape goes back to
  bool settingText = false;
};

ComboState* comboStateOf(HWND hwnd) {
  return reinterpret_cast<ComboState*>(GetWindowLongW(hwnd, 0));
}

int itemHeight() {
  return lineHeight(kSystemFontPixels) + 2;
}

void setEditText(ComboState& s, const std::u16string& text) {
  s.settingText = true;
  SetWindowTextW(s.edit, text.c_str());
  s.settingText = false;
}

void closeList(HWND combo, ComboState& s, bool notify) {
  if (s.list == nullptr) return;
  const HWND list = s.list;
  s.list = nullptr;
  s.pressOpened = false;
  s.hot = -1;
  ReleaseCapture();
  DestroyWindow(list);
  if (notify) notifyParent(combo, CBN_CLOSEUP);
}

void select(HWND combo, ComboState& s, int index, bool notify) {
  s.selection = index;
  if (index >= 0) setEditText(s, s.items[size_t(index)]);
  if (notify) notifyParent(combo, CBN_SELCHANGE);
}

// The list row under a point of the list's client area, or -1.
int rowAt(HWND list, const ComboState& s, LPARAM lParam) {
  RECT client;
  GetClientRect(list, &client);
  const POINT p{int16_t(LOWORD(lParam)), int16_t(HIWORD(lParam))};
  if (!PtInRect(&client, p)) return -1;
  const int index = (p.y - 1) / itemHeight();
  return index >= 0 && index < int(s.items.size()) ? index : -1;
}

// The list that drops down: a top-level window below the combo box, which
// holds the capture so that a tap anywhere reaches it.
LRESULT listProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto combo = reinterpret_cast<HWND>(GetWindowLongW(hwnd, GWL_USERDATA));
  ComboState* s = combo != nullptr ? comboStateOf(combo) : nullptr;
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT client;
      GetClientRect(hwnd, &client);
      FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      SelectObject(dc, GetStockObject(NULL_BRUSH));
      Rectangle(dc, 0, 0, client.right, client.bottom);
      if (s != nullptr) {
        for (size_t i = 0; i < s->items.size(); ++i) {
          RECT row{1, 1 + int(i) * itemHeight(), client.right - 1, 1 + int(i + 1) * itemHeight()};
          const bool picked = int(i) == (s->hot >= 0 ? s->hot : s->selection);
          if (picked) FillRect(dc, &row, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
          SetTextColor(dc, GetSysColor(picked ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
          SetBkMode(dc, TRANSPARENT);
          RECT text = row;
          text.left += 2;
          DrawTextW(dc, s->items[i].c_str(), -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
        }
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_MOUSEMOVE: {
      if (s == nullptr) return 0;
      const int row = rowAt(hwnd, *s, lParam);
      if (row != s->hot) {
        s->hot = row;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    }
    case WM_LBUTTONDOWN:
      if (s != nullptr) s->pressOpened = false;
      return 0;
    case WM_LBUTTONUP: {
      if (s == nullptr) return 0;
      const int row = rowAt(hwnd, *s, lParam);
      if (row >= 0) {
        select(combo, *s, row, true);
        closeList(combo, *s, true);
        return 0;
      }
      // The release of the press that opened the list keeps it open; any
      // other tap outside the items closes it without a pick.
      if (s->pressOpened) {
        s->pressOpened = false;
        return 0;
      }
      closeList(combo, *s, true);
      return 0;
    }
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

void dropDown(HWND combo, ComboState& s) {
  if (s.list != nullptr) {
    closeList(combo, s, true);
    return;
  }
  notifyParent(combo, CBN_DROPDOWN);
  s.selectionAtDrop = s.selection;
  s.hot = -1;
  RECT r;
  GetWindowRect(combo, &r);
  const int rows = std::max<int>(1, int(std::min<size_t>(s.items.size(), 8)));
  s.list = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, kListClass, u"", WS_POPUP | WS_VISIBLE,
                           r.left, r.bottom, r.right - r.left, rows * itemHeight() + 2, nullptr,
                           nullptr, nullptr, nullptr);
  SetWindowLongW(s.list, GWL_USERDATA, reinterpret_cast<LONG_PTR>(combo));
  SetCapture(s.list);
}

// The keys of a combo box, seen first by its edit part (which holds the
// focus): F4 and Alt+Down open or close the list, Up and Down step through
// the items, Enter picks and Escape closes an open list.
// The edit class's own procedure, behind every combo box's edit part.
WNDPROC editClassProc = nullptr;

LRESULT editHook(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND combo = GetParent(edit);
  ComboState* s = combo != nullptr ? comboStateOf(combo) : nullptr;
  // The combo box goes first when the dialog ends: the edit part still
  // gets its own messages (its WM_DESTROY frees what it holds).
  if (s == nullptr) return CallWindowProcW(editClassProc, edit, message, wParam, lParam);
  if (message == WM_KEYDOWN) {
    const bool alt = GetKeyState(VK_MENU) < 0;
    if (wParam == kF4 || (alt && (wParam == VK_DOWN || wParam == VK_UP))) {
      dropDown(combo, *s);
      return 0;
    }
    if ((wParam == VK_DOWN || wParam == VK_UP) && !s->items.empty()) {
      const int last = int(s->items.size()) - 1;
      const int from = s->list != nullptr && s->hot >= 0 ? s->hot : s->selection;
      const int to = wParam == VK_DOWN ? std::min(from + 1, last) : std::max(from - 1, 0);
      s->hot = -1;
      if (to != s->selection) select(combo, *s, to, true);
      if (s->list != nullptr) InvalidateRect(s->list, nullptr, FALSE);
      return 0;
    }
    if (s->list != nullptr && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
      if (wParam == VK_ESCAPE && s->selection != s->selectionAtDrop) {
        s->selection = s->selectionAtDrop;
        if (s->selection >= 0) setEditText(*s, s->items[size_t(s->selection)]);
        notifyParent(combo, CBN_SELCHANGE);
      }
      closeList(combo, *s, true);
      return 0;
    }
  }
  if (message == WM_CHAR && s->list != nullptr && (wParam == u'\r' || wParam == 0x1B)) return 0;
  return CallWindowProcW(editClassProc, edit, message, wParam, lParam);
}

void paintCombo(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  SelectObject(dc, GetStockObject(LTGRAY_BRUSH));
  SelectObject(dc, GetStockObject(BLACK_PEN));
  Rectangle(dc, client.right - kArrow, 0, client.right, client.bottom);
  // The arrow: a small triangle pointing down.
  const int cx = int(client.right) - kArrow / 2, cy = int(client.bottom) / 2 - 2;
  for (int row = 0; row < 4; ++row) {
    RECT line{cx - 3 + row, cy + row, cx + 4 - row, cy + row + 1};
    FillRect(dc, &line, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  }
  EndPaint(hwnd, &ps);
}

LRESULT comboProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  ComboState* s = comboStateOf(hwnd);
  if (message == WM_CREATE) {
    auto* state = new ComboState;
    SetWindowLongW(hwnd, 0, reinterpret_cast<LONG_PTR>(state));
    RECT client;
    GetClientRect(hwnd, &client);
    // A drop-down combo box's given height includes its list: what shows is
    // one field as tall as a 14-unit edit; the list drops below it.
    const int field = (14 * lineHeight(kSystemFontPixels) + 4) / 8;
    if (client.bottom > field) {
      SetWindowPos(hwnd, nullptr, 0, 0, client.right, field,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      client.bottom = field;
    }
    state->edit = CreateWindowExW(0, u"EDIT", u"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0,
                                  client.right - kArrow, client.bottom, hwnd,
                                  reinterpret_cast<HMENU>(uintptr_t(kEditId)), nullptr, nullptr);
    editClassProc = reinterpret_cast<WNDPROC>(
        SetWindowLongW(state->edit, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(editHook)));
    return 0;
  }
  if (message == WM_DESTROY) {
    if (s != nullptr) closeList(hwnd, *s, false);
    delete s;
    SetWindowLongW(hwnd, 0, 0);
    return 0;
  }
  if (s == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  const auto index = intptr_t(wParam);
  const auto text = reinterpret_cast<LPCWSTR>(lParam);
  switch (message) {
    case WM_PAINT:
      paintCombo(hwnd);
      return 0;
    case WM_LBUTTONDOWN: {
      RECT client;
      GetClientRect(hwnd, &client);
      if (int16_t(LOWORD(lParam)) >= client.right - kArrow) {
        dropDown(hwnd, *s);
        s->pressOpened = s->list != nullptr;
      }
      return 0;
    }
    case WM_COMMAND:
      // From the edit part.
      if (LOWORD(wParam) == kEditId) {
        if (HIWORD(wParam) == EN_CHANGE && !s->settingText) notifyParent(hwnd, CBN_EDITCHANGE);
        if (HIWORD(wParam) == EN_SETFOCUS) notifyParent(hwnd, CBN_SETFOCUS);
        if (HIWORD(wParam) == EN_KILLFOCUS) notifyParent(hwnd, CBN_KILLFOCUS);
      }
      return 0;
    case WM_SETFOCUS:
      SetFocus(s->edit);
      return 0;
    case WM_SETTEXT:
      setEditText(*s, text == nullptr ? u"" : text);
      return TRUE;
    case WM_GETTEXT:
      return SendMessageW(s->edit, WM_GETTEXT, wParam, lParam);
    case WM_GETTEXTLENGTH:
      return SendMessageW(s->edit, WM_GETTEXTLENGTH, 0, 0);
    case WM_CHAR:
    case WM_KEYDOWN:
      return SendMessageW(s->edit, message, wParam, lParam);
    case CB_LIMITTEXT:
      return SendMessageW(s->edit, EM_LIMITTEXT, wParam, 0);
    case CB_ADDSTRING:
      if (text == nullptr) return CB_ERR;
      s->items.emplace_back(text);
      return LRESULT(s->items.size() - 1);
    case CB_INSERTSTRING: {
      if (text == nullptr || index > intptr_t(s->items.size())) return CB_ERR;
      const size_t at = index < 0 ? s->items.size() : size_t(index);
      s->items.insert(s->items.begin() + ptrdiff_t(at), text);
      if (s->selection >= int(at)) ++s->selection;
      return LRESULT(at);
    }
    case CB_DELETESTRING:
      if (index < 0 || index >= intptr_t(s->items.size())) return CB_ERR;
      s->items.erase(s->items.begin() + index);
      if (s->selection == int(index)) {
        s->selection = -1;
      } else if (s->selection > int(index)) {
        --s->selection;
      }
      return LRESULT(s->items.size());
    case CB_GETCOUNT:
      return LRESULT(s->items.size());
    case CB_GETCURSEL:
      return s->selection;
    case CB_SETCURSEL:
      if (index < 0 || index >= intptr_t(s->items.size())) {
        s->selection = -1;
        setEditText(*s, u"");
        return CB_ERR;
      }
      select(hwnd, *s, int(index), false);
      return index;
    case CB_GETLBTEXT: {
      if (index < 0 || index >= intptr_t(s->items.size()) || lParam == 0) return CB_ERR;
      const std::u16string& item = s->items[size_t(index)];
      auto* out = reinterpret_cast<LPWSTR>(lParam);
      std::copy(item.begin(), item.end(), out);
      out[item.size()] = 0;
      return LRESULT(item.size());
    }
    case CB_GETLBTEXTLEN:
      if (index < 0 || index >= intptr_t(s->items.size())) return CB_ERR;
      return LRESULT(s->items[size_t(index)].size());
    case CB_FINDSTRINGEXACT:
    case CB_FINDSTRING:
    case CB_SELECTSTRING: {
      // From the item after `index` (-1: from the start), wrapping round,
      // without regard to case: whole text, or the start of it.
      if (text == nullptr || s->items.empty()) return CB_ERR;
      const std::u16string wanted = foldCase(text);
      const size_t n = s->items.size();
      const size_t start = index < 0 || index >= intptr_t(n) ? 0 : size_t(index) + 1;
      for (size_t step = 0; step < n; ++step) {
        const size_t i = (start + step) % n;
        const std::u16string item = foldCase(s->items[i]);
        const bool hit =
            message == CB_FINDSTRINGEXACT ? item == wanted : item.rfind(wanted, 0) == 0;
        if (!hit) continue;
        if (message == CB_SELECTSTRING) select(hwnd, *s, int(i), false);
        return LRESULT(i);
      }
      return CB_ERR;
    }
    case CB_RESETCONTENT:
      s->items.clear();
      s->selection = -1;
      return 0;
    case CB_SHOWDROPDOWN:
      if ((wParam != 0) != (s->list != nullptr)) dropDown(hwnd, *s);
      return TRUE;
    case CB_GETDROPPEDSTATE:
      return s->list != nullptr;
    case WM_GETDLGCODE:
      // An open list takes Enter and Escape from the dialog.
      return s->list != nullptr ? DLGC_WANTALLKEYS : 0;
    case WM_SETFONT:
    case WM_GETFONT:
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace

void registerComboBox() {
  registerSystemClass(u"COMBOBOX", comboProc, 1);
  registerSystemClass(kListClass, listProc, 0);
}

}  // namespace zenta::platform
