// Window classes: registered by name (compared without case), looked up
// when windows are made.
#include "platform/wm/window_manager.h"

#include <unistd.h>
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/base/files.h"
#include "platform/base/text.h"
#include "platform/screen/screen.h"
#include "platform/wm/peers.h"
#include "platform/wm/state.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

HBRUSH classBrush(HWND hwnd) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  return w == nullptr ? nullptr : w->cls->wc.hbrBackground;
}

}  // namespace zenta::platform

namespace zenta::platform {

void registerSystemClass(const char16_t* name, WNDPROC proc, int extraSlots, HBRUSH background) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.cbWndExtra = extraSlots * int(sizeof(LONG_PTR));
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  wc.style = CS_GLOBALCLASS;
  RegisterClassW(&wc);
}

}  // namespace zenta::platform

using namespace zenta::platform;

ATOM RegisterClassW(const WNDCLASSW* wc) {
  if (wc == nullptr || wc->lpszClassName == nullptr || wc->lpfnWndProc == nullptr) return 0;
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const std::u16string key = foldCase(wc->lpszClassName);
  if (s.classes.count(key) != 0) return 0;
  auto cls = std::make_shared<WindowClass>();
  cls->name = wc->lpszClassName;
  cls->wc = *wc;
  cls->wc.lpszClassName = cls->name.c_str();
  cls->wc.lpszMenuName = nullptr;
  cls->atom = ++s.nextAtom;
  s.classes[key] = cls;
  return cls->atom;
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
  if (className == nullptr) return FALSE;
  auto& s = wm();
  std::lock_guard guard(s.lock);
  return s.classes.erase(foldCase(className)) != 0 ? TRUE : FALSE;
}

BOOL GetClassInfoW(HINSTANCE, LPCWSTR className, WNDCLASSW* wc) {
  if (className == nullptr || wc == nullptr) return FALSE;
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const auto it = s.classes.find(foldCase(className));
  if (it == s.classes.end()) return FALSE;
  *wc = it->second->wc;
  return TRUE;
}
