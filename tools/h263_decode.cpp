// h263-decode: decodes a raw H.263 elementary stream with the viewer's own
// decoder and writes the pictures as raw YUV 4:2:0 or as Y4M, saves one
// picture as a JPEG snapshot the way the viewer does, or prints the MD5 of
// each picture's planes (one line a picture, for checksums kept with test
// streams).
//
//   h263-decode [--yuv FILE | --y4m FILE | --jpeg FILE --frame N [--rotate] | --md5]
//               [INPUT | -]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "video/colour/canvas.h"
#include "video/h263/decoder.h"
#include "video/h263/stream_split.h"
#include "video/snapshot/jpeg_writer.h"

namespace {

int usage(const char* message) {
  std::cerr << "h263-decode: " << message << "\n"
            << "usage: h263-decode [--yuv FILE | --y4m FILE | --jpeg FILE --frame N [--rotate] |"
               " --md5] [INPUT | -]\n";
  return 2;
}

// Saves a decoded picture as the viewer saves a snapshot: converted into a
// canvas (and turned, if asked), the area on screen at quality 90. That area
// is 360 columns of a 368-wide picture and 320 of others (never more than
// the picture has), and the picture's height. A picture larger than the
// canvas is saved whole at its own size (turned, as the viewer's full-screen
// view shows it: scaled down into the canvas).
bool saveSnapshot(const std::string& path, const zenta::video::PlanarFrame& frame, int width,
                  int height, bool rotate) {
  using namespace zenta::video;
  const int factor = canvasScaleFactor(width, height);
  if (factor > 1 && !rotate)
    return JpegSnapshotOfPicture(path.c_str(), frame, width, height, 90) == 1;
  std::vector<uint8_t> canvas(kCanvasBytes, 0);
  unsigned shownWidth = 0, shownHeight = 0;
  if (factor > 1) {
    ScaledPlanes scaled;
    scalePlanesDown(scaled, frame.y, frame.cb, frame.cr, width, height, frame.stride, factor);
    ConvertPlanarToCanvas(canvas.data(), scaled.y(), scaled.cb(), scaled.cr(), scaled.width,
                          scaled.height, scaled.width);
    shownWidth = unsigned(scaled.width);
    shownHeight = unsigned(scaled.height);
  } else {
    ConvertPlanarToCanvas(canvas.data(), frame.y, frame.cb, frame.cr, width, height, frame.stride);
    shownWidth = unsigned(shownColumns(width));
    shownHeight = unsigned(height);
  }
  if (!rotate) {
    const uint8_t* rows = canvas.data() + size_t(kCanvasHeight - shownHeight) * kCanvasStride;
    return JpegSnapshotWriter(path.c_str(), rows, kCanvasWidth, shownWidth, shownHeight, 90) == 1;
  }
  // The turned picture: shownHeight columns and shownWidth rows, which are
  // the lowest-addressed rows of the rotated frame.
  std::vector<uint8_t> rotated(kCanvasBytes, 0);
  RotateCanvas(rotated.data(), canvas.data());
  return JpegSnapshotWriter(path.c_str(), rotated.data(), kCanvasHeight, shownHeight, shownWidth,
                            90) == 1;
}

void writePlane(std::ostream& out, const uint8_t* plane, int stride, int width, int height) {
  for (int y = 0; y < height; ++y) {
    out.write(reinterpret_cast<const char*>(plane + static_cast<ptrdiff_t>(y) * stride), width);
  }
}

// The MD5 of a picture's planes, packed (Y, then Cb, then Cr), in hex.
std::string planesMd5(const zenta::video::PlanarFrame& frame, int width, int height) {
  EVP_MD_CTX* md5 = EVP_MD_CTX_new();
  EVP_DigestInit_ex(md5, EVP_md5(), nullptr);
  const auto plane = [&](const uint8_t* p, int stride, int w, int h) {
    for (int y = 0; y < h; ++y)
      EVP_DigestUpdate(md5, p + static_cast<ptrdiff_t>(y) * stride, size_t(w));
  };
  plane(frame.y, frame.stride, width, height);
  plane(frame.cb, frame.stride / 2, width / 2, height / 2);
  plane(frame.cr, frame.stride / 2, width / 2, height / 2);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(md5, digest, &length);
  EVP_MD_CTX_free(md5);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 15]);
  }
  return hex;
}

}  // namespace

int main(int argc, char** argv) {
  std::string input = "-", output, jpeg;
  bool y4m = false, haveInput = false, rotate = false, md5 = false;
  long jpegFrame = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--yuv" || arg == "--y4m") {
      if (i + 1 >= argc) return usage(("missing file after " + arg).c_str());
      if (!output.empty()) return usage("give one output only");
      output = argv[++i];
      y4m = arg == "--y4m";
    } else if (arg == "--jpeg") {
      if (i + 1 >= argc) return usage("missing file after --jpeg");
      jpeg = argv[++i];
    } else if (arg == "--frame") {
      if (i + 1 >= argc) return usage("missing number after --frame");
      char* end = nullptr;
      jpegFrame = std::strtol(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || jpegFrame < 0) return usage("--frame takes a number");
    } else if (arg == "--md5") {
      md5 = true;
    } else if (arg == "--rotate") {
      rotate = true;
    } else if (arg == "-h" || arg == "--help") {
      usage("decodes a raw H.263 stream");
      return 0;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage(("unknown option " + arg).c_str());
    } else if (haveInput) {
      return usage("give one input only");
    } else {
      input = arg;
      haveInput = true;
    }
  }

  if (!jpeg.empty() && !output.empty()) return usage("--jpeg goes without --yuv and --y4m");
  if (jpeg.empty() != (jpegFrame < 0)) return usage("--jpeg and --frame go together");
  if (rotate && jpeg.empty()) return usage("--rotate goes with --jpeg");
  if (md5 && (!jpeg.empty() || !output.empty())) return usage("--md5 goes alone");

  std::vector<uint8_t> stream;
  if (input == "-") {
    stream.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream file(input, std::ios::binary);
    if (!file) return usage(("cannot read " + input + ": " + std::strerror(errno)).c_str());
    stream.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  std::ofstream out;
  if (!output.empty()) {
    out.open(output, std::ios::binary | std::ios::trunc);
    if (!out) return usage(("cannot write " + output + ": " + std::strerror(errno)).c_str());
  }

  zenta::video::H263DecoderHandle handle;
  if (zenta::video::h263Create(handle) != 0) return usage("out of memory");
  int decoded = 0, rejected = 0, lastWidth = 0, lastHeight = 0;
  bool headerWritten = false, snapshotSaved = false;
  for (const auto picture : zenta::video::splitPictures(stream)) {
    zenta::video::PlanarFrame* frame = nullptr;
    if (zenta::video::h263Decode(handle, &frame, picture.data(), picture.size()) < 0) {
      ++rejected;
      continue;
    }
    ++decoded;
    if (md5) {
      std::cout << decoded << " " << handle.width << "x" << handle.height << " "
                << planesMd5(*frame, handle.width, handle.height) << "\n";
      continue;
    }
    if (handle.width != lastWidth || handle.height != lastHeight) {
      std::cout << "picture " << decoded << ": " << handle.width << "x" << handle.height << "\n";
      lastWidth = handle.width;
      lastHeight = handle.height;
    }
    if (!jpeg.empty() && decoded - 1 == jpegFrame) {
      snapshotSaved = saveSnapshot(jpeg, *frame, handle.width, handle.height, rotate);
      if (!snapshotSaved) std::cerr << "h263-decode: could not write " << jpeg << "\n";
    }
    if (!out.is_open()) continue;
    if (y4m) {
      if (!headerWritten) {
        out << "YUV4MPEG2 W" << handle.width << " H" << handle.height
            << " F30000:1001 Ip A1:1 C420jpeg\n";
        headerWritten = true;
      }
      out << "FRAME\n";
    }
    writePlane(out, frame->y, frame->stride, handle.width, handle.height);
    writePlane(out, frame->cb, frame->stride / 2, handle.width / 2, handle.height / 2);
    writePlane(out, frame->cr, frame->stride / 2, handle.width / 2, handle.height / 2);
  }
  zenta::video::h263Destroy(handle);
  (md5 ? std::cerr : std::cout) << decoded << " pictures decoded, " << rejected << " rejected\n";
  if (out.is_open() && !out) return usage("writing the output failed");
  if (!jpeg.empty() && !snapshotSaved) {
    if (decoded <= jpegFrame) std::cerr << "h263-decode: there is no picture " << jpegFrame << "\n";
    return 1;
  }
  return 0;
}
