#include "tests/support/bitmap_file.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace zenta::testing {

namespace {
template <typename T>
T read(const std::vector<uint8_t>& b, size_t at) {
  T v{};
  if (at + sizeof v <= b.size()) std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}
}  // namespace

std::optional<BitmapFile> readBitmapFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  BitmapFile f;
  f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (f.bytes.size() < 54 || f.bytes[0] != 'B' || f.bytes[1] != 'M') return std::nullopt;
  f.pixelOffset = read<uint32_t>(f.bytes, 10);
  f.width = read<int32_t>(f.bytes, 18);
  f.height = read<int32_t>(f.bytes, 22);
  f.bitCount = read<uint16_t>(f.bytes, 28);
  f.colours = read<uint32_t>(f.bytes, 46);
  for (uint32_t i = 0; i < f.colours; ++i) {
    const uint32_t bgr = read<uint32_t>(f.bytes, 54 + 4 * i);
    f.palette.push_back((bgr & 0xFF) << 16 | (bgr & 0xFF00) | (bgr >> 16 & 0xFF));
  }
  return f;
}

uint32_t BitmapFile::pixel(int x, int y) const {
  const size_t stride = (size_t(width) * bitCount + 31) / 32 * 4;
  const size_t row = pixelOffset + stride * size_t(height - 1 - y);
  if (bitCount == 24) {
    const size_t at = row + size_t(x) * 3;
    return uint32_t(bytes[at + 2]) << 16 | uint32_t(bytes[at + 1]) << 8 | bytes[at];
  }
  const uint8_t index = bitCount == 8 ? bytes[row + size_t(x)]
                                      : uint8_t(bytes[row + size_t(x) / 2] >> (x % 2 ? 0 : 4) & 15);
  return index < palette.size() ? palette[index] : 0;
}

}  // namespace zenta::testing
