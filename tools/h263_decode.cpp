// h263-decode: decodes a raw H.263 elementary stream with the viewer's own
// decoder and writes the pictures as raw YUV 4:2:0 or as Y4M.
//
//   h263-decode [--yuv FILE | --y4m FILE] [INPUT | -]
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "video/h263/decoder.h"
#include "video/h263/stream_split.h"

namespace {

int usage(const char* message) {
  std::cerr << "h263-decode: " << message << "\n"
            << "usage: h263-decode [--yuv FILE | --y4m FILE] [INPUT | -]\n";
  return 2;
}

void writePlane(std::ostream& out, const uint8_t* plane, int stride, int width, int height) {
  for (int y = 0; y < height; ++y) {
    out.write(reinterpret_cast<const char*>(plane + static_cast<ptrdiff_t>(y) * stride), width);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string input = "-", output;
  bool y4m = false, haveInput = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--yuv" || arg == "--y4m") {
      if (i + 1 >= argc) return usage(("missing file after " + arg).c_str());
      if (!output.empty()) return usage("give one output only");
      output = argv[++i];
      y4m = arg == "--y4m";
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
  bool headerWritten = false;
  for (const auto picture : zenta::video::splitPictures(stream)) {
    zenta::video::PlanarFrame* frame = nullptr;
    if (zenta::video::h263Decode(handle, &frame, picture.data(), picture.size()) < 0) {
      ++rejected;
      continue;
    }
    ++decoded;
    if (handle.width != lastWidth || handle.height != lastHeight) {
      std::cout << "picture " << decoded << ": " << handle.width << "x" << handle.height << "\n";
      lastWidth = handle.width;
      lastHeight = handle.height;
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
  std::cout << decoded << " pictures decoded, " << rejected << " rejected\n";
  if (out.is_open() && !out) return usage("writing the output failed");
  return 0;
}
