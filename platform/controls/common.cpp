#include <mutex>
#include <string>

#include "platform/controls/controls.h"
#include "platform/controls/controls_api.h"
#include "platform/gdi/gdi_api.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

void registerControlClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    registerStatic();
    registerButton();
    registerEdit();
    registerComboBox();
  });
}

HBRUSH controlColours(HWND control, HDC dc, UINT message) {
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  const HWND parent = GetParent(control);
  const auto brush = parent == nullptr ? 0
                                       : SendMessageW(parent, message, reinterpret_cast<WPARAM>(dc),
                                                      reinterpret_cast<LPARAM>(control));
  return brush != 0 ? reinterpret_cast<HBRUSH>(brush)
                    : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
}

void notifyParent(HWND control, WORD code) {
  const HWND parent = GetParent(control);
  if (parent == nullptr) return;
  SendMessageW(parent, WM_COMMAND, MAKEWPARAM(WORD(GetWindowLongW(control, GWL_ID)), code),
               reinterpret_cast<LPARAM>(control));
}

std::u16string windowText(HWND hwnd) {
  std::u16string text(size_t(GetWindowTextLengthW(hwnd)) + 1, u'\0');
  text.resize(size_t(GetWindowTextW(hwnd, text.data(), int(text.size()))));
  return text;
}

}  // namespace zenta::platform

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
  return init != nullptr ? TRUE : FALSE;
}
