#include "video/h263/stream_split.h"

namespace zenta::video {

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
