#include "tests/support/jpeg_file.h"

#include <cstdio>

#include <jpeglib.h>

namespace zenta::testing {

std::optional<JpegImage> readJpegFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  JpegImage image{int(info.output_width), int(info.output_height), {}};
  std::vector<uint8_t> row(size_t(info.output_width) * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&info, rows, 1);
    for (size_t x = 0; x < info.output_width; ++x)
      image.pixels.push_back(uint32_t(row[3 * x]) << 16 | uint32_t(row[3 * x + 1]) << 8 |
                             row[3 * x + 2]);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::fclose(file);
  return image;
}

}  // namespace zenta::testing
