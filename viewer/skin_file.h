// The skin's two files as data: the text file of integers that places the
// skin records and the picture rectangles, and the bitmap file's header.
// Pure functions, with no drawing, so that tests and fuzzers reach them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zenta::viewer {

// Six integers: where a piece lies in the skin bitmap, its size, and where
// it is drawn in the window.
struct SkinRecord {
  int32_t srcX = 0, srcY = 0, width = 0, height = 0, dstX = 0, dstY = 0;
};

enum SkinRecordId : int {
  kMainArea,
  kConnectA,
  kConnectB,
  k1SplitA,
  k1SplitB,
  k4SplitA,
  k4SplitB,
  kPrevA,
  kPrevB,
  kNextA,
  kNextB,
  kSkinRecordCount
};

// x, y, width, height.
struct Place {
  int16_t x, y, width, height;
};

struct SkinGeometry {
  std::array<SkinRecord, kSkinRecordCount> records{};
  // left, top, right, bottom
  std::array<int16_t, 4> statusRect{7, 23, 233, 37};
  Place pictureRect{0, 46, 240, 178};
  int16_t fullScreenWidth = 240, fullScreenHeight = 320;
  Place fullPictureRect{0, 0, 240, 320};
  // Quadrants 0 to 3: upper left, upper right, lower left, lower right in
  // the skin view; in the full-screen view of a tall screen the pictures are
  // turned, so quadrant 0 is lower left, 1 upper left, 2 lower right, 3
  // upper right.
  std::array<Place, 4> quadRects{
      {{0, 46, 120, 88}, {121, 46, 119, 88}, {0, 135, 120, 88}, {121, 135, 119, 88}}};
  std::array<Place, 4> fullQuadRects{
      {{0, 160, 119, 159}, {0, 0, 119, 159}, {120, 160, 119, 159}, {120, 0, 119, 159}}};
};

// Left and top edges inside, right and bottom edges outside.
bool hit(const SkinRecord& record, int x, int y);

// Reads the text file: decimal integers separated by any white space, up
// to the first item that is not one. The records come first; only the
// short-screen variant (`layoutValues`) goes on with the layout values.
// Values not read keep what they held.
void readSkinText(std::string_view text, bool layoutValues, SkinGeometry& geometry);

// The bitmap file: a 14-byte file header (unused), a 40-byte information
// header, then the pixels at once; no colour table, no masks.
inline constexpr size_t kSkinHeaderBytes = 54;

struct SkinBitmapHeader {
  int32_t width = 0;
  int32_t height = 0;  // negative: rows top-down
  uint16_t bitCount = 0;
  uint32_t imageSize = 0;
  // Bytes of pixels that the bitmap holds (whole 32-bit words a row).
  size_t pixelBytes = 0;
  // Bytes to read into it: the header's image size when it gives one, never
  // more than the bitmap holds.
  size_t bytesToRead = 0;
};

// The header when the file can be a skin: 24- or 16-bit RGB, at most
// 4096 x 4096 pixels. Nothing for anything else.
std::optional<SkinBitmapHeader> readSkinBitmapHeader(const uint8_t* data, size_t size);

}  // namespace zenta::viewer
