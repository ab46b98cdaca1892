#include "video/snapshot/jpeg_planes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "video/snapshot/jpeg_errors.h"

namespace zenta::video {

namespace {

// The decoder's planes are studio range (luma 16 to 235, chroma 16 to 240
// about 128); a JPEG's YCbCr is full range. Each sample goes through a
// table to its full-range value.
struct RangeTables {
  std::array<uint8_t, 256> luma{}, chroma{};
  RangeTables() {
    for (int v = 0; v < 256; ++v) {
      luma[size_t(v)] = uint8_t(std::clamp(std::lround((v - 16) * 255.0 / 219.0), 0L, 255L));
      chroma[size_t(v)] =
          uint8_t(std::clamp(std::lround(128 + (v - 128) * 255.0 / 224.0), 0L, 255L));
    }
  }
};

const RangeTables& rangeTables() {
  static const RangeTables tables;
  return tables;
}

void expand(const uint8_t* from, uint8_t* to, int count, const std::array<uint8_t, 256>& table) {
  for (int i = 0; i < count; ++i)
    to[i] = table[from[i]];
}

// Only plain data lives here, so the jump back from an error skips no
// destructor; the library's buffer is handed back through `data`.
bool compress(const PlanarFrame& p, int width, int height, int quality, unsigned char*& data,
              unsigned long& size, uint8_t* rows) {
  jpeg_compress_struct info{};
  JpegErrorJump errors;
  useErrorJump(info, errors);
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &data, &size);
  info.image_width = JDIMENSION(width);
  info.image_height = JDIMENSION(height);
  info.input_components = 3;
  info.in_color_space = JCS_YCbCr;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  info.raw_data_in = TRUE;
  info.comp_info[0].h_samp_factor = 2;
  info.comp_info[0].v_samp_factor = 2;
  info.comp_info[1].h_samp_factor = info.comp_info[1].v_samp_factor = 1;
  info.comp_info[2].h_samp_factor = info.comp_info[2].v_samp_factor = 1;
  info.dct_method = JDCT_ISLOW;
  jpeg_start_compress(&info, TRUE);
  JSAMPROW yRows[16], cbRows[8], crRows[8];
  JSAMPARRAY planes[3] = {yRows, cbRows, crRows};
  const int chromaStride = p.stride / 2;
  const RangeTables& range = rangeTables();
  while (info.next_scanline < info.image_height) {
    // Sixteen luma rows and eight of each chroma a call, in full range; the
    // planes hold whole macroblocks, so the rows below the picture exist.
    const int top = int(info.next_scanline);
    uint8_t* to = rows;
    for (int i = 0; i < 16; ++i, to += p.stride) {
      expand(p.y + size_t(top + i) * size_t(p.stride), to, p.stride, range.luma);
      yRows[i] = to;
    }
    for (int i = 0; i < 8; ++i, to += 2 * chromaStride) {
      expand(p.cb + size_t(top / 2 + i) * size_t(chromaStride), to, chromaStride, range.chroma);
      expand(p.cr + size_t(top / 2 + i) * size_t(chromaStride), to + chromaStride, chromaStride,
             range.chroma);
      cbRows[i] = to;
      crRows[i] = to + chromaStride;
    }
    jpeg_write_raw_data(&info, planes, 16);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

}  // namespace

bool JpegOfPlanes(const PlanarFrame& picture, int width, int height, int quality,
                  std::vector<uint8_t>& out) {
  out.clear();
  if (picture.y == nullptr || picture.cb == nullptr || picture.cr == nullptr || width < 2 ||
      height < 2 || width > picture.stride || picture.stride % 16 != 0) {
    return false;
  }
  unsigned char* data = nullptr;
  unsigned long size = 0;
  // One macroblock row of the three planes, in full range.
  std::vector<uint8_t> rows(size_t(picture.stride) * 24);
  const bool ok = compress(picture, width, height, quality, data, size, rows.data());
  if (ok && data != nullptr) out.assign(data, data + size);
  std::free(data);
  return ok && !out.empty();
}

}  // namespace zenta::video
