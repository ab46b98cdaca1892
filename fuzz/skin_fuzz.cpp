// The skin's readers on arbitrary bytes: the text file in both variants and
// the bitmap file's header with the pixel read that follows it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "viewer/skin_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zenta::viewer;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const bool layoutValues : {false, true}) {
    SkinGeometry geometry;
    readSkinText(text, layoutValues, geometry);
    // Taps at a record's corners, wherever the numbers put them.
    for (const SkinRecord& r : geometry.records) {
      const auto at = [](int64_t v) {
        return int(std::clamp<int64_t>(v, std::numeric_limits<int>::min(),
                                       std::numeric_limits<int>::max()));
      };
      if (!hit(r, r.dstX, r.dstY) && r.width > 0 && r.height > 0 && r.dstX < INT32_MAX - r.width &&
          r.dstY < INT32_MAX - r.height) {
        std::abort();  // a record holds its own top-left corner
      }
      const int64_t right = int64_t(r.dstX) + r.width;
      if (right <= std::numeric_limits<int>::max() && hit(r, int(right), r.dstY))
        std::abort();  // the right edge lies outside
      (void)hit(r, at(int64_t(r.dstX) + r.width - 1), at(int64_t(r.dstY) + r.height - 1));
    }
  }
  if (const auto header = readSkinBitmapHeader(data, size)) {
    if (header->bytesToRead > header->pixelBytes) std::abort();
    // The pixels go straight into a bitmap of pixelBytes; keep the fuzzer's
    // memory small by reading only into modest ones.
    if (header->pixelBytes <= (1u << 20)) {
      std::vector<uint8_t> bitmap(header->pixelBytes);
      const size_t available = size - kSkinHeaderBytes;
      std::memcpy(bitmap.data(), data + kSkinHeaderBytes,
                  std::min({available, header->bytesToRead, bitmap.size()}));
    }
  }
  return 0;
}
