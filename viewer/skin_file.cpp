#include "viewer/skin_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zenta::viewer {

namespace {

// One decimal integer after white space, as a C stream's "%d" reads it;
// false at the end or at anything else.
class IntegerReader {
 public:
  explicit IntegerReader(std::string_view text) : text_(text) {}

  bool next(int32_t& value) {
    while (at_ < text_.size() && isSpace(text_[at_]))
      ++at_;
    size_t i = at_;
    bool negative = false;
    if (i < text_.size() && (text_[i] == '+' || text_[i] == '-')) negative = text_[i++] == '-';
    if (i >= text_.size() || text_[i] < '0' || text_[i] > '9') return false;
    int64_t v = 0;
    for (; i < text_.size() && text_[i] >= '0' && text_[i] <= '9'; ++i) {
      // Out-of-range numbers saturate rather than wrap.
      v = std::min<int64_t>(v * 10 + (text_[i] - '0'), int64_t{1} << 32);
    }
    at_ = i;
    v = negative ? -v : v;
    value = int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                        std::numeric_limits<int32_t>::max()));
    return true;
  }

  bool next(int16_t& value) {
    int32_t wide = 0;
    if (!next(wide)) return false;
    value = int16_t(std::clamp<int32_t>(wide, -32768, 32767));
    return true;
  }

 private:
  static bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  }
  std::string_view text_;
  size_t at_ = 0;
};

template <typename T>
T read(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

bool hit(const SkinRecord& r, int x, int y) {
  return int64_t(r.dstX) <= x && x < int64_t(r.dstX) + r.width && int64_t(r.dstY) <= y &&
         y < int64_t(r.dstY) + r.height;
}

void readSkinText(std::string_view text, bool layoutValues, SkinGeometry& g) {
  IntegerReader in(text);
  for (SkinRecord& r : g.records) {
    for (int32_t* field : {&r.srcX, &r.srcY, &r.width, &r.height, &r.dstX, &r.dstY}) {
      if (!in.next(*field)) return;
    }
  }
  if (!layoutValues) return;
  for (int16_t& v : g.statusRect) {
    if (!in.next(v)) return;
  }
  for (int16_t* v :
       {&g.pictureRect.x, &g.pictureRect.y, &g.pictureRect.width, &g.pictureRect.height,
        &g.fullScreenWidth, &g.fullScreenHeight, &g.fullPictureRect.x, &g.fullPictureRect.y,
        &g.fullPictureRect.width, &g.fullPictureRect.height}) {
    if (!in.next(*v)) return;
  }
  // Four groups of four: every quadrant's x, then every y, width, height.
  for (auto* quads : {&g.quadRects, &g.fullQuadRects}) {
    for (int16_t Place::*field : {&Place::x, &Place::y, &Place::width, &Place::height}) {
      for (Place& q : *quads) {
        if (!in.next(q.*field)) return;
      }
    }
  }
}

std::optional<SkinBitmapHeader> readSkinBitmapHeader(const uint8_t* data, size_t size) {
  if (data == nullptr || size < kSkinHeaderBytes) return std::nullopt;
  const uint8_t* info = data + 14;
  SkinBitmapHeader h;
  const uint32_t infoSize = read<uint32_t>(info);
  h.width = read<int32_t>(info + 4);
  h.height = read<int32_t>(info + 8);
  const uint16_t planes = read<uint16_t>(info + 12);
  h.bitCount = read<uint16_t>(info + 14);
  const uint32_t compression = read<uint32_t>(info + 16);
  h.imageSize = read<uint32_t>(info + 20);
  const uint32_t colours = read<uint32_t>(info + 32);
  if (infoSize != 40 || planes != 1 || compression != 0 || colours != 0) return std::nullopt;
  if (h.bitCount != 24 && h.bitCount != 16) return std::nullopt;
  if (h.width <= 0 || h.width > 4096 || h.height == 0 || h.height < -4096 || h.height > 4096)
    return std::nullopt;
  const size_t rows = size_t(h.height < 0 ? -int64_t(h.height) : h.height);
  const size_t stride = (size_t(h.width) * h.bitCount + 31) / 32 * 4;
  h.pixelBytes = stride * rows;
  h.bytesToRead = h.imageSize == 0 ? h.pixelBytes : std::min<size_t>(h.imageSize, h.pixelBytes);
  return h;
}

}  // namespace zenta::viewer
