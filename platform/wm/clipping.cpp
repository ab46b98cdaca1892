// What of a window is visible: its rectangle less the windows in front of
// it and, for the client area, its caption and border.
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

namespace {

// Removes `cut` from every rectangle of the list.
void subtract(ClipList& list, const RECT& cut) {
  if (empty(cut)) return;
  ClipList out;
  for (const RECT& r : list) {
    const RECT i = intersect(r, cut);
    if (empty(i)) {
      out.push_back(r);
      continue;
    }
    if (r.top < i.top) out.push_back(RECT{r.left, r.top, r.right, i.top});
    if (i.bottom < r.bottom) out.push_back(RECT{r.left, i.bottom, r.right, r.bottom});
    if (r.left < i.left) out.push_back(RECT{r.left, i.top, i.left, i.bottom});
    if (i.right < r.right) out.push_back(RECT{i.right, i.top, r.right, i.bottom});
  }
  list = std::move(out);
}

}  // namespace

ClipList WindowManagerState::visibleRects(const Window* w, bool clientOnly) const {
  for (const Window* a = w; a != nullptr; a = a->parent) {
    if (!(a->style & WS_VISIBLE)) return {};
  }
  RECT area = clientOnly ? clientScreenRect(w) : screenRect(w);
  for (const Window* a = w->parent; a != nullptr; a = a->parent)
    area = intersect(area, clientScreenRect(a));
  const Surface& s = screen();
  area = intersect(area, RECT{0, 0, s.width(), s.height()});
  ClipList clip{area};
  if (empty(area)) return {};
  // Windows in front: earlier siblings at every level up to the top.
  for (const Window* level = w; level != nullptr; level = level->parent) {
    const auto& list = level->parent != nullptr ? level->parent->children : topLevel;
    for (const Window* sibling : list) {
      if (sibling == level) break;
      if (sibling->style & WS_VISIBLE) subtract(clip, screenRect(sibling));
    }
  }
  // Children cover their parent's client area.
  for (const Window* child : w->children) {
    if (child->style & WS_VISIBLE) subtract(clip, screenRect(child));
  }
  return clip;
}

bool clientClip(HWND hwnd, POINT& origin, ClipList& clip) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  if (w == nullptr) return false;
  origin = s.clientOrigin(w);
  clip = s.visibleRects(w, true);
  return true;
}

bool windowClip(HWND hwnd, POINT& origin, ClipList& clip) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  if (w == nullptr) return false;
  const RECT r = s.screenRect(w);
  origin = POINT{r.left, r.top};
  clip = s.visibleRects(w, false);
  return true;
}

}  // namespace zenta::platform
