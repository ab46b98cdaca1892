#include "video/snapshot/jpeg_planes.h"

#include <cstdlib>

#include "video/snapshot/jpeg_errors.h"

namespace zenta::video {

namespace {

// Only plain data lives here, so the jump back from an error skips no
// destructor; the library's buffer is handed back through `data`.
bool compress(const PlanarFrame& p, int width, int height, int quality, unsigned char*& data,
              unsigned long& size) {
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
  while (info.next_scanline < info.image_height) {
    // Sixteen luma rows and eight of each chroma a call; the planes hold
    // whole macroblocks, so the rows below the picture exist.
    const int top = int(info.next_scanline);
    for (int i = 0; i < 16; ++i)
      yRows[i] = p.y + size_t(top + i) * size_t(p.stride);
    for (int i = 0; i < 8; ++i) {
      cbRows[i] = p.cb + size_t(top / 2 + i) * size_t(chromaStride);
      crRows[i] = p.cr + size_t(top / 2 + i) * size_t(chromaStride);
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
  const bool ok = compress(picture, width, height, quality, data, size);
  if (ok && data != nullptr) out.assign(data, data + size);
  std::free(data);
  return ok && !out.empty();
}

}  // namespace zenta::video
