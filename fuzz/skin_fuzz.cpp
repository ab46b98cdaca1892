// The skin's readers on arbitrary bytes: the text file in both variants and
// the bitmap file's header with the pixel read that follows it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "viewer/skin_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zenta::viewer;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const bool layoutValues : {false, true}) {
    SkinGeometry geometry;
    readSkinText(text, layoutValues, geometry);
    for (const SkinRecord& r : geometry.records)
      (void)hit(r, r.dstX + r.width - 1, r.dstY);
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
