// Reading the bitmap files that the build makes, for the tests: the header
// fields and the pixels of 4-, 8- and 24-bit files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zenta::testing {

struct BitmapFile {
  uint32_t pixelOffset = 0;
  int32_t width = 0, height = 0;
  uint16_t bitCount = 0;
  uint32_t colours = 0;  // colour table entries
  std::vector<uint32_t> palette;
  std::vector<uint8_t> bytes;
  // 0xRRGGBB at (x, y), y counted from the top.
  uint32_t pixel(int x, int y) const;
};

std::optional<BitmapFile> readBitmapFile(const std::string& path);

}  // namespace zenta::testing
