// The single-line edit control.
#include <algorithm>
#include <string>

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
  int scroll = 0;  // pixels of text scrolled out on the left
  size_t limit = 30000;
};

EditState* stateOf(HWND hwnd) {
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

void paint(HWND hwnd, EditState& s) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  FillRect(dc, &client, controlColours(hwnd, dc, WM_CTLCOLOREDIT));
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
  if (GetFocus() == hwnd) {
    const int x = kMargin + widthOf(std::u16string_view(look).substr(0, s.caret)) - s.scroll;
    RECT caret{x, 3, x + 1, client.bottom - 3};
    FillRect(dc, &caret, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  }
  EndPaint(hwnd, &ps);
}

LRESULT editProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  EditState* s = stateOf(hwnd);
  switch (message) {
    case WM_CREATE: {
      auto* state = new EditState;
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      if (create->lpszName != nullptr) state->text = create->lpszName;
      state->caret = state->text.size();
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
    case WM_SETTEXT: {
      const auto* text = reinterpret_cast<LPCWSTR>(lParam);
      s->text = text == nullptr ? u"" : text;
      s->caret = s->text.size();
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
      if (c == u'\b') {
        if (s->caret == 0) return 0;
        s->text.erase(--s->caret, 1);
        changed(hwnd, *s);
      } else if (c >= 0x20 && c != 0x7F) {
        if (s->text.size() >= s->limit) return 0;
        std::u16string next = s->text;
        next.insert(s->caret, 1, c);
        if (!fits(hwnd, next)) return 0;
        s->text = std::move(next);
        ++s->caret;
        changed(hwnd, *s);
      }
      return 0;
    }
    case WM_KEYDOWN:
      switch (wParam) {
        case VK_DELETE:
          if (s->caret < s->text.size()) {
            s->text.erase(s->caret, 1);
            changed(hwnd, *s);
          }
          return 0;
        case VK_HOME:
          s->caret = 0;
          break;
        case VK_END:
          s->caret = s->text.size();
          break;
        case VK_LEFT:
          s->caret -= s->caret > 0 ? 1 : 0;
          break;
        case VK_RIGHT:
          s->caret += s->caret < s->text.size() ? 1 : 0;
          break;
        default:
          return 0;
      }
      scrollToCaret(hwnd, *s);
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case EM_LIMITTEXT:
      s->limit = wParam == 0 ? 30000 : size_t(wParam);
      return 0;
    case EM_SETSEL: {
      // A caret only: the end of the range given (-1: the end).
      const auto end = intptr_t(lParam);
      s->caret = end < 0 ? s->text.size() : std::min(size_t(end), s->text.size());
      scrollToCaret(hwnd, *s);
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case EM_GETSEL:
      return MAKELPARAM(WORD(s->caret), WORD(s->caret));
    case WM_LBUTTONDOWN: {
      SetFocus(hwnd);
      const int x = int16_t(LOWORD(lParam)) - kMargin + s->scroll;
      const std::u16string look = shown(hwnd, *s);
      size_t caret = 0;
      while (caret < look.size() && widthOf(std::u16string_view(look).substr(0, caret + 1)) <= x)
        ++caret;
      s->caret = caret;
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
