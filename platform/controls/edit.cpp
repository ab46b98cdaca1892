// The single-line edit control.
#include <algorithm>
#include <string>

#include "platform/base/clipboard.h"
#include "platform/controls/controls.h"
#include "platform/controls/controls_api.h"
#include "platform/gdi/gdi_api.h"
#include "platform/gdi/text.h"
#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {

constexpr int kMargin = 2;

struct EditState {
  std::u16string text;
  size_t caret = 0;
  size_t anchor = 0;  // the other end of the selection (the caret's own place: none)
  int scroll = 0;     // pixels of text scrolled out on the left
  size_t limit = 30000;
};

EditState* editStateOf(HWND hwnd) {
  return reinterpret_cast<EditState*>(GetWindowLongW(hwnd, 0));
}

std::u16string shown(HWND hwnd, const EditState& s) {
  if (DWORD(GetWindowLongW(hwnd, GWL_STYLE)) & ES_PASSWORD)
    return std::u16string(s.text.size(), u'*');
  return s.text;
}

int widthOf(std::u16string_view text) {
  return int(measureLine(text, kSystemFontPixels).cx);
}

// Keeps the caret inside the visible part (with ES_AUTOHSCROLL).
void scrollToCaret(HWND hwnd, EditState& s) {
  RECT client;
  GetClientRect(hwnd, &client);
  const int visible = std::max(1, int(client.right) - 2 * kMargin);
  const int x = widthOf(std::u16string_view(shown(hwnd, s)).substr(0, s.caret));
  if (x - s.scroll > visible) s.scroll = x - visible;
  if (x < s.scroll) s.scroll = std::max(0, x - visible / 3);
}

// Whether `text` may stand in the control: without ES_AUTOHSCROLL the text
// must fit its width.
bool fits(HWND hwnd, const std::u16string& text) {
  const DWORD style = DWORD(GetWindowLongW(hwnd, GWL_STYLE));
  if (style & ES_AUTOHSCROLL) return true;
  RECT client;
  GetClientRect(hwnd, &client);
  const std::u16string look = (style & ES_PASSWORD) ? std::u16string(text.size(), u'*') : text;
  return widthOf(look) <= int(client.right) - 2 * kMargin;
}

void changed(HWND hwnd, EditState& s) {
  scrollToCaret(hwnd, s);
  InvalidateRect(hwnd, nullptr, TRUE);
  notifyParent(hwnd, EN_CHANGE);
}

size_t selectionStart(const EditState& s) {
  return std::min(s.caret, s.anchor);
}
size_t selectionEnd(const EditState& s) {
  return std::max(s.caret, s.anchor);
}

void collapse(EditState& s, size_t at) {
  s.caret = s.anchor = at;
}

// Puts `insert` in place of the selection, as much of it as the limit and
// the width allow; false (nothing changed) when none of it fits.
bool replaceSelection(HWND hwnd, EditState& s, std::u16string_view insert) {
  const size_t from = selectionStart(s), to = selectionEnd(s);
  const std::u16string kept = s.text.substr(0, from) + s.text.substr(to);
  const auto with = [&](size_t count) {
    std::u16string next = kept;
    next.insert(from, insert.substr(0, count));
    return next;
  };
  // The longest start of `insert` that fits: fitting only gets harder with
  // more characters, so a binary search finds it in a few measurements
  // whatever the size of a paste.
  size_t lo = 0, hi = std::min(insert.size(), s.limit > kept.size() ? s.limit - kept.size() : 0);
  while (lo < hi) {
    const size_t mid = lo + (hi - lo + 1) / 2;
    if (fits(hwnd, with(mid))) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  if (lo == 0 && from == to) return false;
  s.text = with(lo);
  collapse(s, from + lo);
  return true;
}

// What a paste may bring into a single line: the first line, printable
// characters only.
std::u16string pastable(std::u16string text) {
  const size_t end = text.find_first_of(u"\r\n");
  if (end != std::u16string::npos) text.resize(end);
  std::erase_if(text, [](char16_t c) { return c < 0x20 || c == 0x7F; });
  return text;
}

bool isPassword(HWND hwnd) {
  return (DWORD(GetWindowLongW(hwnd, GWL_STYLE)) & ES_PASSWORD) != 0;
}

void paint(HWND hwnd, EditState& s) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  // A disabled field is grey, its text too.
  const bool disabled = (DWORD(GetWindowLongW(hwnd, GWL_STYLE)) & WS_DISABLED) != 0;
  const HBRUSH background = controlColours(hwnd, dc, WM_CTLCOLOREDIT);
  FillRect(dc, &client, disabled ? static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)) : background);
  if (disabled) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  SelectObject(dc, GetStockObject(NULL_BRUSH));
  SelectObject(dc, GetStockObject(BLACK_PEN));
  Rectangle(dc, 0, 0, client.right, client.bottom);
  const std::u16string look = shown(hwnd, s);
  // Scrolled: the characters wholly or partly left of the view are skipped,
  // the rest drawn from where the first of them now starts.
  size_t first = 0;
  int skipped = 0;
  while (first < look.size() && skipped < s.scroll)
    skipped += widthOf(std::u16string_view(look).substr(first++, 1));
  RECT text{kMargin + skipped - s.scroll, 1, client.right - kMargin, client.bottom - 1};
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, look.c_str() + first, int(look.size() - first), &text,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  if (s.anchor != s.caret) {
    // The selection: light text on the highlight colour.
    const size_t a = selectionStart(s), b = selectionEnd(s);
    const int x0 = kMargin + widthOf(std::u16string_view(look).substr(0, a)) - s.scroll;
    const int x1 = kMargin + widthOf(std::u16string_view(look).substr(0, b)) - s.scroll;
    RECT band{std::max(x0, 1), 2, std::min<LONG>(x1, client.right - 1), client.bottom - 2};
    HBRUSH highlight = CreateSolidBrush(GetSysColor(COLOR_HIGHLIGHT));
    FillRect(dc, &band, highlight);
    DeleteObject(highlight);
    RECT selected{x0, 1, std::min<LONG>(x1 + 1, client.right - 1), client.bottom - 1};
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    DrawTextW(dc, look.c_str() + a, int(b - a), &selected, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  }
  if (GetFocus() == hwnd) {
    const int x = kMargin + widthOf(std::u16string_view(look).substr(0, s.caret)) - s.scroll;
    RECT caret{x, 3, x + 1, client.bottom - 3};
    FillRect(dc, &caret, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  }
  EndPaint(hwnd, &ps);
}

LRESULT editProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  EditState* s = editStateOf(hwnd);
  switch (message) {
    case WM_CREATE: {
      auto* state = new EditState;
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      if (create->lpszName != nullptr) state->text = create->lpszName;
      state->caret = state->anchor = state->text.size();
      SetWindowLongW(hwnd, 0, reinterpret_cast<LONG_PTR>(state));
      return 0;
    }
    case WM_DESTROY:
      delete s;
      SetWindowLongW(hwnd, 0, 0);
      return 0;
    default:
      break;
  }
  if (s == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_PAINT:
      paint(hwnd, *s);
      return 0;
    case WM_ENABLE:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_SETTEXT: {
      const auto* text = reinterpret_cast<LPCWSTR>(lParam);
      s->text = text == nullptr ? u"" : text;
      collapse(*s, s->text.size());
      s->scroll = 0;
      changed(hwnd, *s);
      return TRUE;
    }
    case WM_GETTEXT: {
      auto* buffer = reinterpret_cast<LPWSTR>(lParam);
      if (buffer == nullptr || wParam == 0) return 0;
      const size_t n = std::min(s->text.size(), size_t(wParam) - 1);
      std::copy_n(s->text.begin(), n, buffer);
      buffer[n] = 0;
      return LRESULT(n);
    }
    case WM_GETTEXTLENGTH:
      return LRESULT(s->text.size());
    case WM_CHAR: {
      const auto c = char16_t(wParam);
      // Characters typed with Ctrl held are its shortcuts, taken as keys.
      if (GetKeyState(VK_CONTROL) < 0) return 0;
      if (c == u'\b') {
        if (s->anchor != s->caret) {
          replaceSelection(hwnd, *s, u"");
        } else {
          if (s->caret == 0) return 0;
          s->text.erase(--s->caret, 1);
          s->anchor = s->caret;
        }
        changed(hwnd, *s);
      } else if (c >= 0x20 && c != 0x7F) {
        const char16_t one[1] = {c};
        if (replaceSelection(hwnd, *s, std::u16string_view(one, 1))) changed(hwnd, *s);
      }
      return 0;
    }
    case WM_KEYDOWN: {
      const bool shift = GetKeyState(VK_SHIFT) < 0, control = GetKeyState(VK_CONTROL) < 0;
      if (control && wParam == 'A') {
        s->anchor = 0;
        s->caret = s->text.size();
      } else if ((control && wParam == 'V') || (shift && wParam == VK_INSERT)) {
        return SendMessageW(hwnd, WM_PASTE, 0, 0);
      } else if ((control && (wParam == 'C' || wParam == VK_INSERT)) ||
                 (control && wParam == 'X')) {
        if (s->anchor == s->caret || isPassword(hwnd)) return 0;
        setClipboardText(s->text.substr(selectionStart(*s), selectionEnd(*s) - selectionStart(*s)));
        if (wParam == 'X' && replaceSelection(hwnd, *s, u"")) changed(hwnd, *s);
        return 0;
      } else if (wParam == VK_DELETE) {
        if (s->anchor != s->caret) {
          replaceSelection(hwnd, *s, u"");
        } else if (s->caret < s->text.size()) {
          s->text.erase(s->caret, 1);
        } else {
          return 0;
        }
        changed(hwnd, *s);
        return 0;
      } else if (wParam == VK_HOME || wParam == VK_END || wParam == VK_LEFT || wParam == VK_RIGHT) {
        size_t to = s->caret;
        if (wParam == VK_HOME) {
          to = 0;
        } else if (wParam == VK_END) {
          to = s->text.size();
        } else if (!shift && s->anchor != s->caret) {
          // An arrow without Shift ends a selection at its side.
          to = wParam == VK_LEFT ? selectionStart(*s) : selectionEnd(*s);
        } else if (wParam == VK_LEFT) {
          to -= to > 0 ? 1 : 0;
        } else {
          to += to < s->text.size() ? 1 : 0;
        }
        s->caret = to;
        if (!shift) s->anchor = to;
      } else {
        return 0;
      }
      scrollToCaret(hwnd, *s);
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case WM_PASTE: {
      const std::u16string text = pastable(clipboardText());
      if (!text.empty() && replaceSelection(hwnd, *s, text)) changed(hwnd, *s);
      return 0;
    }
    case EM_LIMITTEXT:
      s->limit = wParam == 0 ? 30000 : size_t(wParam);
      return 0;
    case EM_SETSEL: {
      // From wParam to lParam, the caret at the end; -1 stands for the end
      // of the text, a start of -1 for no selection.
      const auto start = intptr_t(wParam), end = intptr_t(lParam);
      const auto place = [&](intptr_t at) {
        return at < 0 ? s->text.size() : std::min(size_t(at), s->text.size());
      };
      s->caret = place(end);
      s->anchor = start < 0 ? s->caret : place(start);
      scrollToCaret(hwnd, *s);
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case EM_GETSEL:
      return MAKELPARAM(WORD(selectionStart(*s)), WORD(selectionEnd(*s)));
    case WM_LBUTTONDOWN: {
      SetFocus(hwnd);
      const int x = int16_t(LOWORD(lParam)) - kMargin + s->scroll;
      const std::u16string look = shown(hwnd, *s);
      size_t caret = 0;
      while (caret < look.size() && widthOf(std::u16string_view(look).substr(0, caret + 1)) <= x)
        ++caret;
      s->caret = caret;
      if (GetKeyState(VK_SHIFT) >= 0) s->anchor = caret;
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case WM_SETFOCUS:
      InvalidateRect(hwnd, nullptr, TRUE);
      notifyParent(hwnd, EN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      InvalidateRect(hwnd, nullptr, TRUE);
      notifyParent(hwnd, EN_KILLFOCUS);
      return 0;
    case WM_SETFONT:
    case WM_GETFONT:
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace

void registerEdit() {
  registerSystemClass(u"EDIT", editProc, 1);
}

}  // namespace zenta::platform
