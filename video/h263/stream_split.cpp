#include "video/h263/stream_split.h"

namespace zenta::video {

namespace {
constexpr int kMaxStartCodesTried = 8;
}

size_t pictureStartFrom(const uint8_t* p, size_t length, size_t from) {
  for (size_t i = from; i + 2 < length; ++i) {
    if (p[i] == 0 && p[i + 1] == 0 && (p[i + 2] & 0xFC) == 0x80) return i;
  }
  return length;
}

FirstPicture decodeFirstPicture(H263DecoderHandle& handle, PlanarFrame** output,
                                const uint8_t* payload, size_t length) {
  FirstPicture found;
  size_t at = pictureStartFrom(payload, length, 0);
  for (int tries = 0; at < length && tries < kMaxStartCodesTried; ++tries) {
    found.sawStart = true;
    PlanarFrame* out = nullptr;
    if (h263Decode(handle, &out, payload + at, length - at) >= 0 && out != nullptr) {
      *output = out;
      found.offset = int(at);
      return found;
    }
    at = pictureStartFrom(payload, length, at + 1);
  }
  return found;
}

std::vector<std::span<const uint8_t>> splitPictures(std::span<const uint8_t> stream) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 2 < stream.size(); ++i) {
    if (stream[i] == 0 && stream[i + 1] == 0 && (stream[i + 2] & 0xFC) == 0x80) starts.push_back(i);
  }
  std::vector<std::span<const uint8_t>> pictures;
  for (size_t n = 0; n < starts.size(); ++n) {
    const size_t end = n + 1 < starts.size() ? starts[n + 1] : stream.size();
    pictures.push_back(stream.subspan(starts[n], end - starts[n]));
  }
  return pictures;
}

}  // namespace zenta::video
