// Reading a JPEG file back for the tests: its size and its pixels.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zenta::testing {

struct JpegImage {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB, rows top-down
};

std::optional<JpegImage> readJpegFile(const std::string& path);

}  // namespace zenta::testing
