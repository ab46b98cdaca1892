#include "platform/screen/png.h"
#include "platform/base/types.h"

#include <array>
#include <cstdio>
#include <vector>

namespace zenta::platform {

namespace {

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i)
    crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void putBig(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(uint8_t(v >> shift));
}

void chunk(std::vector<uint8_t>& file, const char* type, const std::vector<uint8_t>& data) {
  putBig(file, uint32_t(data.size()));
  const size_t start = file.size();
  file.insert(file.end(), type, type + 4);
  file.insert(file.end(), data.begin(), data.end());
  putBig(file, crc32(file.data() + start, file.size() - start));
}

}  // namespace

bool savePng(const Surface& surface, const std::string& path) {
  const int w = surface.width(), h = surface.height();
  std::vector<uint8_t> raw;
  raw.reserve(size_t(h) * (size_t(w) * 3 + 1));
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < w; ++x) {
      const COLORREF c = surface.pixel(x, y);
      raw.push_back(GetRValue(c));
      raw.push_back(GetGValue(c));
      raw.push_back(GetBValue(c));
    }
  }
  // zlib stream of stored blocks.
  std::vector<uint8_t> z{0x78, 0x01};
  uint32_t a = 1, b = 0;
  for (const uint8_t v : raw) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  for (size_t at = 0; at < raw.size() || raw.empty(); at += 65535) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    z.push_back(at + n >= raw.size() ? 1 : 0);
    z.push_back(uint8_t(n));
    z.push_back(uint8_t(n >> 8));
    z.push_back(uint8_t(~n));
    z.push_back(uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + ptrdiff_t(at), raw.begin() + ptrdiff_t(at + n));
    if (raw.empty()) break;
  }
  putBig(z, (b << 16) | a);

  std::vector<uint8_t> file{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  putBig(header, uint32_t(w));
  putBig(header, uint32_t(h));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB
  chunk(file, "IHDR", header);
  chunk(file, "IDAT", z);
  chunk(file, "IEND", {});
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return std::fclose(out) == 0 && written;
}

}  // namespace zenta::platform
