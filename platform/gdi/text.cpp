#include "platform/gdi/text.h"
#include "platform/gdi/gdi_api.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace zenta::platform {

namespace {

constexpr const char* kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct Glyph {
  int left = 0, top = 0;  // bitmap offset from the pen position and the baseline
  int width = 0, rows = 0, pitch = 0;
  int advance = 0;
  std::vector<uint8_t> bits;  // one bit per pixel, most significant first
};

struct Metrics {
  int ascender = 0, height = 0;
};

// FreeType faces are not thread-safe: rendering happens under this lock,
// and rendered glyphs are kept (they never change) for later calls.
class GlyphCache {
 public:
  static GlyphCache& instance() {
    static GlyphCache cache;
    return cache;
  }

  const Glyph& glyph(int size, char16_t c) {
    std::lock_guard guard(lock_);
    auto& slot = glyphs_[{size, c}];
    if (!slot) slot = render(size, c);
    return *slot;
  }

  Metrics metrics(int size) {
    std::lock_guard guard(lock_);
    auto it = metrics_.find(size);
    if (it != metrics_.end()) return it->second;
    Metrics m{size, size + size / 4};
    if (face_ != nullptr && FT_Set_Pixel_Sizes(face_, 0, FT_UInt(size)) == 0) {
      m.ascender = int(face_->size->metrics.ascender >> 6);
      m.height = int((face_->size->metrics.ascender - face_->size->metrics.descender) >> 6);
    }
    metrics_[size] = m;
    return m;
  }

 private:
  GlyphCache() {
    if (FT_Init_FreeType(&library_) == 0 && FT_New_Face(library_, kFontPath, 0, &face_) != 0) {
      face_ = nullptr;
    }
  }

  std::unique_ptr<Glyph> render(int size, char16_t c) {
    auto g = std::make_unique<Glyph>();
    g->advance = size / 2;
    if (face_ == nullptr || FT_Set_Pixel_Sizes(face_, 0, FT_UInt(size)) != 0) return g;
    if (FT_Load_Char(face_, FT_ULong(c),
                     FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) != 0) {
      return g;
    }
    const FT_GlyphSlot slot = face_->glyph;
    g->left = slot->bitmap_left;
    g->top = slot->bitmap_top;
    g->width = int(slot->bitmap.width);
    g->rows = int(slot->bitmap.rows);
    g->pitch = std::abs(slot->bitmap.pitch);
    g->advance = int(slot->advance.x >> 6);
    g->bits.assign(slot->bitmap.buffer, slot->bitmap.buffer + size_t(g->pitch) * size_t(g->rows));
    return g;
  }

  std::mutex lock_;
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
  std::map<std::pair<int, char16_t>, std::unique_ptr<Glyph>> glyphs_;
  std::map<int, Metrics> metrics_;
};

std::vector<std::u16string_view> lines(std::u16string_view text, bool single) {
  std::vector<std::u16string_view> out;
  if (single) {
    out.push_back(text);
    return out;
  }
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == u'\n') {
      std::u16string_view line = text.substr(start, i - start);
      if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
      out.push_back(line);
      start = i + 1;
    }
  }
  return out;
}

}  // namespace

SIZE measureLine(std::u16string_view text, int pixelSize) {
  GlyphCache& cache = GlyphCache::instance();
  LONG width = 0;
  for (const char16_t c : text)
    width += cache.glyph(pixelSize, c).advance;
  return SIZE{width, cache.metrics(pixelSize).height};
}

int lineHeight(int pixelSize) {
  return GlyphCache::instance().metrics(pixelSize).height;
}

int layoutText(Surface* dst, std::u16string_view text, RECT& rect, UINT format,
               const TextStyle& style, const ClipList& clip) {
  GlyphCache& cache = GlyphCache::instance();
  const Metrics metrics = cache.metrics(style.pixelSize);
  const auto parts = lines(text, (format & DT_SINGLELINE) != 0);
  const int total = metrics.height * int(parts.size());
  if (format & DT_CALCRECT) {
    LONG widest = 0;
    for (const auto line : parts)
      widest = std::max(widest, measureLine(line, style.pixelSize).cx);
    rect.right = rect.left + widest;
    rect.bottom = rect.top + total;
    return total;
  }
  if (dst == nullptr) return total;
  int y = rect.top;
  if ((format & DT_SINGLELINE) && (format & DT_VCENTER)) {
    y = rect.top + (rect.bottom - rect.top - metrics.height) / 2;
  } else if ((format & DT_SINGLELINE) && (format & DT_BOTTOM)) {
    y = rect.bottom - metrics.height;
  }
  // Clipped to the rectangle unless told otherwise.
  ClipList limited;
  for (const RECT& c : clip) {
    const RECT r = (format & DT_NOCLIP) ? c : intersect(c, rect);
    if (!empty(r)) limited.push_back(r);
  }
  for (const auto line : parts) {
    const SIZE size = measureLine(line, style.pixelSize);
    int x = rect.left;
    if (format & DT_CENTER) {
      x = rect.left + (rect.right - rect.left - size.cx) / 2;
    } else if (format & DT_RIGHT) {
      x = rect.right - size.cx;
    }
    if (style.opaque)
      fillRect(*dst, RECT{x, y, x + size.cx, y + size.cy}, style.background, limited);
    const int baseline = y + metrics.ascender;
    for (const char16_t c : line) {
      const Glyph& g = cache.glyph(style.pixelSize, c);
      if (!g.bits.empty()) {
        drawMask(*dst, x + g.left, baseline - g.top, g.bits.data(), g.width, g.rows, g.pitch,
                 style.colour, limited);
      }
      x += g.advance;
    }
    y += metrics.height;
  }
  return total;
}

}  // namespace zenta::platform
