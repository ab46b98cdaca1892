// libavcodec's H.263 decoder, one thread and bit-exact, as the oracle that
// our decoder is measured against; and the ffmpeg command line for making
// test streams from synthetic sources.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zenta::testing {

struct YuvPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> y, cb, cr;  // tightly packed planes
};

class ReferenceH263Decoder {
 public:
  ReferenceH263Decoder();
  ~ReferenceH263Decoder();
  ReferenceH263Decoder(const ReferenceH263Decoder&) = delete;
  ReferenceH263Decoder& operator=(const ReferenceH263Decoder&) = delete;

  // Decodes one coded picture; nothing when libavcodec produced no frame.
  std::optional<YuvPicture> decode(std::span<const uint8_t> picture);
  // Decodes without copying the picture out (for timing).
  bool decodeOnly(std::span<const uint8_t> picture);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Y-PSNR in dB of two pictures of the same size (99 for identical ones).
double psnr(const uint8_t* a, const uint8_t* b, size_t count);

// A test stream made by the ffmpeg command line from a panning synthetic
// source, and the source pictures it was made from.
struct TestStream {
  std::vector<uint8_t> coded;      // raw H.263 elementary stream
  std::vector<YuvPicture> source;  // the uncompressed pictures
};

struct StreamRecipe {
  std::string codec = "h263";  // or "h263p"
  int width = 352;
  int height = 288;
  std::string rate = "30000/1001";
  int frames = 30;
  int gop = 12;
  std::string bitrate = "300k";
  std::string extra;    // further encoder options
  std::string filters;  // further filters after the crop
};

// Empty `coded` when ffmpeg is missing or failed.
TestStream makeStream(const StreamRecipe& recipe);

}  // namespace zenta::testing
