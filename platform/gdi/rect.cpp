// The rectangle calls: plain arithmetic on RECT and POINT.
#include <algorithm>

#include "platform/gdi/gdi_api.h"
#include "platform/screen/surface.h"

using namespace zenta::platform;

BOOL SetRect(RECT* rect, int left, int top, int right, int bottom) {
  if (rect == nullptr) return FALSE;
  *rect = RECT{left, top, right, bottom};
  return TRUE;
}

BOOL SetRectEmpty(RECT* rect) {
  return SetRect(rect, 0, 0, 0, 0);
}

BOOL IsRectEmpty(const RECT* rect) {
  return rect == nullptr || empty(*rect) ? TRUE : FALSE;
}

BOOL PtInRect(const RECT* rect, POINT p) {
  return rect != nullptr && p.x >= rect->left && p.x < rect->right && p.y >= rect->top &&
                 p.y < rect->bottom
             ? TRUE
             : FALSE;
}

BOOL IntersectRect(RECT* out, const RECT* a, const RECT* b) {
  if (out == nullptr || a == nullptr || b == nullptr) return FALSE;
  *out = intersect(*a, *b);
  if (empty(*out)) {
    *out = RECT{0, 0, 0, 0};
    return FALSE;
  }
  return TRUE;
}

BOOL UnionRect(RECT* out, const RECT* a, const RECT* b) {
  if (out == nullptr || a == nullptr || b == nullptr) return FALSE;
  if (empty(*a)) {
    *out = *b;
  } else if (empty(*b)) {
    *out = *a;
  } else {
    *out = RECT{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
                std::max(a->bottom, b->bottom)};
  }
  return empty(*out) ? FALSE : TRUE;
}

BOOL OffsetRect(RECT* rect, int dx, int dy) {
  if (rect == nullptr) return FALSE;
  *rect = RECT{rect->left + dx, rect->top + dy, rect->right + dx, rect->bottom + dy};
  return TRUE;
}

BOOL InflateRect(RECT* rect, int dx, int dy) {
  if (rect == nullptr) return FALSE;
  *rect = RECT{rect->left - dx, rect->top - dy, rect->right + dx, rect->bottom + dy};
  return TRUE;
}
