// Drawing objects, device contexts and the drawing calls. Every call is
// whole: it holds the DC's lock and the surfaces' locks while it works, so
// threads drawing on one DC interleave call by call.
#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/gdi/dc.h"
#include "platform/gdi/gdi_api.h"
#include "platform/gdi/text.h"
#include "platform/screen/screen.h"
#include "platform/screen/surface.h"

namespace zenta::platform {

namespace {

std::atomic<WindowClipSource> windowClipSource{nullptr};

enum class Kind { Bitmap, Brush, Pen, Font };

struct GdiObject {
  explicit GdiObject(Kind k) : kind(k) {}
  virtual ~GdiObject() = default;
  Kind kind;
  bool stock = false;
};

struct BitmapObject : GdiObject {
  explicit BitmapObject(std::unique_ptr<Surface> s)
      : GdiObject(Kind::Bitmap), surface(std::move(s)) {}
  std::unique_ptr<Surface> surface;
};

struct BrushObject : GdiObject {
  BrushObject(COLORREF c, bool h) : GdiObject(Kind::Brush), colour(c), hollow(h) {}
  COLORREF colour;
  bool hollow;
};

struct PenObject : GdiObject {
  PenObject(COLORREF c, int w, bool n) : GdiObject(Kind::Pen), colour(c), width(w), none(n) {}
  COLORREF colour;
  int width;
  bool none;
};

struct FontObject : GdiObject {
  explicit FontObject(int px) : GdiObject(Kind::Font), pixelSize(px) {}
  int pixelSize;
};

struct DeviceContext {
  std::mutex lock;
  bool memory = false;
  bool wholeWindow = false;
  HWND window = nullptr;
  std::optional<RECT> paint;  // client coordinates
  std::shared_ptr<GdiObject> bitmap, brush, pen, font;
  HGDIOBJ bitmapHandle = nullptr, brushHandle = nullptr, penHandle = nullptr, fontHandle = nullptr;
  COLORREF text = RGB(0, 0, 0);
  COLORREF background = RGB(255, 255, 255);
  int mode = OPAQUE;
};

template <typename T>
class Table {
 public:
  uintptr_t add(std::shared_ptr<T> object) {
    std::lock_guard guard(lock_);
    next_ += 4;
    objects_[next_] = std::move(object);
    return next_;
  }
  std::shared_ptr<T> get(const void* handle) const {
    std::lock_guard guard(lock_);
    const auto it = objects_.find(reinterpret_cast<uintptr_t>(handle));
    return it == objects_.end() ? nullptr : it->second;
  }
  bool remove(const void* handle) {
    std::lock_guard guard(lock_);
    return objects_.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
  }

  explicit Table(uintptr_t first) : next_(first) {}

 private:
  mutable std::mutex lock_;
  std::map<uintptr_t, std::shared_ptr<T>> objects_;
  uintptr_t next_;
};

Table<GdiObject>& objects() {
  static Table<GdiObject> table(0x200000);
  return table;
}

Table<DeviceContext>& contexts() {
  static Table<DeviceContext> table(0x400000);
  return table;
}

// The stock objects, made once.
struct Stock {
  HGDIOBJ handles[SYSTEM_FONT + 1] = {};
  HGDIOBJ defaultBitmap = nullptr;
  Stock() {
    const auto add = [](std::shared_ptr<GdiObject> o) {
      o->stock = true;
      return reinterpret_cast<HGDIOBJ>(objects().add(std::move(o)));
    };
    handles[WHITE_BRUSH] = add(std::make_shared<BrushObject>(RGB(255, 255, 255), false));
    handles[LTGRAY_BRUSH] = add(std::make_shared<BrushObject>(RGB(192, 192, 192), false));
    handles[GRAY_BRUSH] = add(std::make_shared<BrushObject>(RGB(128, 128, 128), false));
    handles[DKGRAY_BRUSH] = add(std::make_shared<BrushObject>(RGB(64, 64, 64), false));
    handles[BLACK_BRUSH] = add(std::make_shared<BrushObject>(RGB(0, 0, 0), false));
    handles[NULL_BRUSH] = add(std::make_shared<BrushObject>(0, true));
    handles[WHITE_PEN] = add(std::make_shared<PenObject>(RGB(255, 255, 255), 1, false));
    handles[BLACK_PEN] = add(std::make_shared<PenObject>(RGB(0, 0, 0), 1, false));
    handles[NULL_PEN] = add(std::make_shared<PenObject>(0, 1, true));
    handles[SYSTEM_FONT] = add(std::make_shared<FontObject>(kSystemFontPixels));
    defaultBitmap = add(std::make_shared<BitmapObject>(std::make_unique<Surface>(1, 1, 32, true)));
  }
};

const Stock& stock() {
  static const Stock s;
  return s;
}

HDC newContext(bool memory, HWND window, const RECT* paint) {
  auto dc = std::make_shared<DeviceContext>();
  dc->memory = memory;
  dc->window = window;
  if (paint != nullptr) dc->paint = *paint;
  const Stock& s = stock();
  dc->brushHandle = s.handles[WHITE_BRUSH];
  dc->penHandle = s.handles[BLACK_PEN];
  dc->fontHandle = s.handles[SYSTEM_FONT];
  dc->brush = objects().get(dc->brushHandle);
  dc->pen = objects().get(dc->penHandle);
  dc->font = objects().get(dc->fontHandle);
  if (memory) {
    dc->bitmapHandle = s.defaultBitmap;
    dc->bitmap = objects().get(s.defaultBitmap);
  }
  return reinterpret_cast<HDC>(contexts().add(std::move(dc)));
}

// Where a DC draws: its surface, the surface position of its logical
// origin, and the visible part in surface coordinates.
struct Target {
  Surface* surface = nullptr;
  POINT origin{0, 0};
  ClipList clip;
  bool onScreen = false;
};

Target targetOf(const DeviceContext& dc) {
  Target t;
  if (dc.memory) {
    auto* bitmap = static_cast<BitmapObject*>(dc.bitmap.get());
    t.surface = bitmap->surface.get();
    t.clip = {RECT{0, 0, t.surface->width(), t.surface->height()}};
    return t;
  }
  t.surface = &screen();
  t.onScreen = true;
  if (dc.window == nullptr) {
    t.clip = {RECT{0, 0, t.surface->width(), t.surface->height()}};
    return t;
  }
  const WindowClipSource source = windowClipSource.load();
  const bool found = source != nullptr && source(dc.window, dc.wholeWindow, t.origin, t.clip);
  if (!found) t.clip.clear();
  if (dc.paint) {
    RECT p = *dc.paint;
    p = RECT{p.left + t.origin.x, p.top + t.origin.y, p.right + t.origin.x, p.bottom + t.origin.y};
    ClipList limited;
    for (const RECT& c : t.clip) {
      const RECT r = intersect(c, p);
      if (!empty(r)) limited.push_back(r);
    }
    t.clip = std::move(limited);
  }
  return t;
}

// Holds one or two surfaces' locks for the length of a call.
class SurfaceLocks {
 public:
  SurfaceLocks(const Surface* a, const Surface* b) {
    if (a == b || b == nullptr) {
      one_.emplace(a->lock());
    } else {
      two_.emplace(a->lock(), b->lock());
    }
  }

 private:
  std::optional<std::lock_guard<std::mutex>> one_;
  std::optional<std::scoped_lock<std::mutex, std::mutex>> two_;
};

// Tells the display what a call on the screen may have changed: the part
// of `area` (logical coordinates; everything without one) that the clip
// lets through.
void markChanged(const Target& t, const RECT* area) {
  if (!t.onScreen || t.clip.empty()) return;
  RECT bounds = t.clip.front();
  for (const RECT& c : t.clip) {
    bounds = RECT{std::min(bounds.left, c.left), std::min(bounds.top, c.top),
                  std::max(bounds.right, c.right), std::max(bounds.bottom, c.bottom)};
  }
  if (area != nullptr) {
    const RECT a{std::min(area->left, area->right), std::min(area->top, area->bottom),
                 std::max(area->left, area->right), std::max(area->top, area->bottom)};
    bounds = intersect(bounds, RECT{a.left + t.origin.x, a.top + t.origin.y, a.right + t.origin.x,
                                    a.bottom + t.origin.y});
  }
  markScreenChanged(bounds);
}

// Runs `draw` with the DC locked and its surface locked; `area` bounds
// what it may change, in the DC's coordinates.
template <typename Draw>
bool withTarget(HDC hdc, Draw draw, const RECT* area = nullptr) {
  const auto dc = contexts().get(hdc);
  if (!dc) return false;
  std::lock_guard guard(dc->lock);
  Target t = targetOf(*dc);
  {
    SurfaceLocks locks(t.surface, nullptr);
    draw(*dc, t);
  }
  markChanged(t, area);
  return true;
}

RECT offset(const RECT& r, POINT o) {
  return RECT{r.left + o.x, r.top + o.y, r.right + o.x, r.bottom + o.y};
}

}  // namespace

void setWindowClipSource(WindowClipSource source) {
  windowClipSource = source;
}

HDC openWindowDC(HWND hwnd, const RECT* paint) {
  if (hwnd != nullptr) {
    const WindowClipSource source = windowClipSource.load();
    POINT origin{};
    ClipList clip;
    if (source == nullptr || !source(hwnd, false, origin, clip)) return nullptr;
  }
  return newContext(false, hwnd, paint);
}

HDC openWholeWindowDC(HWND hwnd) {
  HDC hdc = openWindowDC(hwnd, nullptr);
  if (const auto dc = contexts().get(hdc)) {
    std::lock_guard guard(dc->lock);
    dc->wholeWindow = true;
  }
  return hdc;
}

void closeWindowDC(HDC hdc) {
  contexts().remove(hdc);
}

}  // namespace zenta::platform

using namespace zenta::platform;

HDC CreateCompatibleDC(HDC) {
  return newContext(true, nullptr, nullptr);
}

BOOL DeleteDC(HDC hdc) {
  return contexts().remove(hdc) ? TRUE : FALSE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ handle) {
  const auto dc = contexts().get(hdc);
  const auto object = objects().get(handle);
  if (!dc || !object) return nullptr;
  std::lock_guard guard(dc->lock);
  const auto swap = [&](std::shared_ptr<GdiObject>& slot, HGDIOBJ& slotHandle) {
    slot = object;
    return std::exchange(slotHandle, handle);
  };
  switch (object->kind) {
    case Kind::Bitmap:
      return dc->memory ? swap(dc->bitmap, dc->bitmapHandle) : nullptr;
    case Kind::Brush:
      return swap(dc->brush, dc->brushHandle);
    case Kind::Pen:
      return swap(dc->pen, dc->penHandle);
    case Kind::Font:
      return swap(dc->font, dc->fontHandle);
  }
  return nullptr;
}

BOOL DeleteObject(HGDIOBJ handle) {
  const auto object = objects().get(handle);
  if (!object) return FALSE;
  if (object->stock) return TRUE;
  // A DC that still has it selected keeps it alive until it lets go.
  return objects().remove(handle) ? TRUE : FALSE;
}

HGDIOBJ GetStockObject(int index) {
  if (index < 0 || index > SYSTEM_FONT) return nullptr;
  return stock().handles[index];
}

int GetObjectW(HGDIOBJ handle, int size, LPVOID buffer) {
  const auto object = objects().get(handle);
  if (!object || object->kind != Kind::Bitmap) return 0;
  if (buffer == nullptr) return int(sizeof(BITMAP));
  if (size < int(sizeof(BITMAP))) return 0;
  const Surface& s = *static_cast<BitmapObject*>(object.get())->surface;
  auto* out = static_cast<BITMAP*>(buffer);
  *out = BITMAP{0,
                s.width(),
                s.height(),
                LONG(s.stride()),
                1,
                WORD(s.bitsPerPixel()),
                const_cast<Surface&>(s).bits()};
  return int(sizeof(BITMAP));
}

int GetDeviceCaps(HDC, int index) {
  const Surface& s = screen();
  switch (index) {
    case HORZRES:
      return s.width();
    case VERTRES:
      return s.height();
    case BITSPIXEL:
      return s.bitsPerPixel();
    default:
      return 0;
  }
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT, void** bits, HANDLE, DWORD) {
  if (bits != nullptr) *bits = nullptr;
  if (info == nullptr) return nullptr;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  const int bpp = h.biBitCount;
  if (h.biWidth <= 0 || h.biHeight == 0 || (bpp != 16 && bpp != 24 && bpp != 32)) return nullptr;
  if (int64_t(h.biWidth) * (h.biHeight < 0 ? -int64_t(h.biHeight) : h.biHeight) > (1 << 26))
    return nullptr;
  auto surface = std::make_unique<Surface>(h.biWidth, h.biHeight < 0 ? -h.biHeight : h.biHeight,
                                           bpp, h.biHeight < 0);
  if (bits != nullptr) *bits = surface->bits();
  return reinterpret_cast<HBITMAP>(
      objects().add(std::make_shared<BitmapObject>(std::move(surface))));
}

HBITMAP CreateCompatibleBitmap(HDC, int width, int height) {
  if (width <= 0 || height <= 0 || int64_t(width) * height > (1 << 26)) return nullptr;
  return reinterpret_cast<HBITMAP>(objects().add(
      std::make_shared<BitmapObject>(std::make_unique<Surface>(width, height, 32, true))));
}

HBRUSH CreateSolidBrush(COLORREF colour) {
  return reinterpret_cast<HBRUSH>(
      objects().add(std::make_shared<BrushObject>(colour & 0xFFFFFF, false)));
}

HPEN CreatePen(int style, int width, COLORREF colour) {
  constexpr int kNullPenStyle = 5;
  return reinterpret_cast<HPEN>(objects().add(
      std::make_shared<PenObject>(colour & 0xFFFFFF, std::max(width, 1), style == kNullPenStyle)));
}

namespace {

// Runs `copy` with both DCs and both surfaces locked.
template <typename Copy>
BOOL withTwoTargets(HDC dstHandle, HDC srcHandle, const RECT& area, Copy copy) {
  const auto dst = contexts().get(dstHandle);
  const auto src = contexts().get(srcHandle);
  if (!dst || !src) return FALSE;
  std::optional<std::lock_guard<std::mutex>> one;
  std::optional<std::scoped_lock<std::mutex, std::mutex>> two;
  if (dst == src) {
    one.emplace(dst->lock);
  } else {
    two.emplace(dst->lock, src->lock);
  }
  Target d = targetOf(*dst);
  Target s = targetOf(*src);
  {
    SurfaceLocks locks(d.surface, s.surface);
    copy(d, s);
  }
  markChanged(d, &area);
  return TRUE;
}

}  // namespace

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop) {
  if (rop != SRCCOPY && rop != SRCPAINT) return FALSE;
  return withTwoTargets(dst, src, RECT{x, y, x + width, y + height}, [&](Target& d, Target& s) {
    blit(*d.surface, x + d.origin.x, y + d.origin.y, width, height, *s.surface, srcX + s.origin.x,
         srcY + s.origin.y, rop, d.clip);
  });
}

BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY,
                int srcWidth, int srcHeight, DWORD rop) {
  if (rop != SRCCOPY && rop != SRCPAINT) return FALSE;
  return withTwoTargets(dst, src, RECT{x, y, x + width, y + height}, [&](Target& d, Target& s) {
    stretchBlit(*d.surface, x + d.origin.x, y + d.origin.y, width, height, *s.surface,
                srcX + s.origin.x, srcY + s.origin.y, srcWidth, srcHeight, rop, d.clip);
  });
}

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
  if (rect == nullptr) return 0;
  const auto object = objects().get(brush);
  if (!object || object->kind != Kind::Brush) return 0;
  const auto* b = static_cast<BrushObject*>(object.get());
  if (b->hollow) return 1;
  return withTarget(
             hdc,
             [&](DeviceContext&, Target& t) {
               fillRect(*t.surface, offset(*rect, t.origin), b->colour, t.clip);
             },
             rect)
             ? 1
             : 0;
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  const RECT area{left, top, right, bottom};
  return withTarget(
             hdc,
             [&](DeviceContext& dc, Target& t) {
               const RECT r = offset(area, t.origin);
               const auto* pen = static_cast<PenObject*>(dc.pen.get());
               const auto* brush = static_cast<BrushObject*>(dc.brush.get());
               const int w = pen->none ? 0 : pen->width;
               if (!brush->hollow) {
                 fillRect(*t.surface, RECT{r.left + w, r.top + w, r.right - w, r.bottom - w},
                          brush->colour, t.clip);
               }
               if (w > 0) {
                 fillRect(*t.surface, RECT{r.left, r.top, r.right, r.top + w}, pen->colour, t.clip);
                 fillRect(*t.surface, RECT{r.left, r.bottom - w, r.right, r.bottom}, pen->colour,
                          t.clip);
                 fillRect(*t.surface, RECT{r.left, r.top + w, r.left + w, r.bottom - w},
                          pen->colour, t.clip);
                 fillRect(*t.surface, RECT{r.right - w, r.top + w, r.right, r.bottom - w},
                          pen->colour, t.clip);
               }
             },
             &area)
             ? TRUE
             : FALSE;
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF colour) {
  COLORREF result = CLR_INVALID;
  const RECT area{x, y, x + 1, y + 1};
  withTarget(
      hdc,
      [&](DeviceContext&, Target& t) {
        const int sx = x + t.origin.x, sy = y + t.origin.y;
        for (const RECT& c : t.clip) {
          if (sx >= c.left && sx < c.right && sy >= c.top && sy < c.bottom) {
            t.surface->setPixel(sx, sy, colour);
            result = t.surface->pixel(sx, sy);
            return;
          }
        }
      },
      &area);
  return result;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
  COLORREF result = CLR_INVALID;
  const RECT nothing{0, 0, 0, 0};  // reading changes nothing
  withTarget(
      hdc,
      [&](DeviceContext&, Target& t) {
        const int sx = x + t.origin.x, sy = y + t.origin.y;
        for (const RECT& c : t.clip) {
          if (sx >= c.left && sx < c.right && sy >= c.top && sy < c.bottom) {
            result = t.surface->pixel(sx, sy);
            return;
          }
        }
      },
      &nothing);
  return result;
}

COLORREF SetTextColor(HDC hdc, COLORREF colour) {
  const auto dc = contexts().get(hdc);
  if (!dc) return CLR_INVALID;
  std::lock_guard guard(dc->lock);
  return std::exchange(dc->text, colour & 0xFFFFFF);
}

COLORREF GetTextColor(HDC hdc) {
  const auto dc = contexts().get(hdc);
  if (!dc) return CLR_INVALID;
  std::lock_guard guard(dc->lock);
  return dc->text;
}

COLORREF SetBkColor(HDC hdc, COLORREF colour) {
  const auto dc = contexts().get(hdc);
  if (!dc) return CLR_INVALID;
  std::lock_guard guard(dc->lock);
  return std::exchange(dc->background, colour & 0xFFFFFF);
}

int SetBkMode(HDC hdc, int mode) {
  const auto dc = contexts().get(hdc);
  if (!dc || (mode != OPAQUE && mode != TRANSPARENT)) return 0;
  std::lock_guard guard(dc->lock);
  return std::exchange(dc->mode, mode);
}

namespace {

std::u16string_view textView(LPCWSTR text, int count) {
  if (text == nullptr) return {};
  if (count < 0) return std::u16string_view(text);
  return std::u16string_view(text, size_t(count));
}

}  // namespace

int DrawTextW(HDC hdc, LPCWSTR text, int count, RECT* rect, UINT format) {
  if (rect == nullptr) return 0;
  const std::u16string_view view = textView(text, count);
  int height = 0;
  // Text stays inside its rectangle unless told otherwise; measuring
  // changes nothing.
  const RECT nothing{0, 0, 0, 0};
  const RECT bounds = *rect;
  const RECT* area = (format & DT_CALCRECT) ? &nothing : (format & DT_NOCLIP) ? nullptr : &bounds;
  const bool ok = withTarget(
      hdc,
      [&](DeviceContext& dc, Target& t) {
        const auto* font = static_cast<FontObject*>(dc.font.get());
        const TextStyle style{font->pixelSize, dc.text, dc.background, dc.mode == OPAQUE};
        RECT r = offset(*rect, t.origin);
        height = layoutText((format & DT_CALCRECT) ? nullptr : t.surface, view, r, format, style,
                            t.clip);
        if (format & DT_CALCRECT) {
          rect->right = rect->left + (r.right - r.left);
          rect->bottom = rect->top + (r.bottom - r.top);
        }
      },
      area);
  return ok ? height : 0;
}

BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, SIZE* size) {
  const auto dc = contexts().get(hdc);
  if (!dc || size == nullptr) return FALSE;
  int pixels = kSystemFontPixels;
  {
    std::lock_guard guard(dc->lock);
    pixels = static_cast<FontObject*>(dc->font.get())->pixelSize;
  }
  *size = measureLine(textView(text, count), pixels);
  return TRUE;
}
