// One H.263 decoder for one stream of pictures, as every receiver of a
// recorder's stream uses it: the handle is owned (made on construction,
// released on destruction), its size limit is set once and holds for the
// decoder's whole life, and a payload whose first picture is rejected is
// decoded from a later picture start code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "video/h263/decoder.h"

namespace zenta::video {

// The largest picture a recorder sends (4CIF).
inline constexpr int64_t kRecorderMaxPixels = 704 * 576;

struct DecodedPicture {
  const PlanarFrame* planes = nullptr;  // the decoder's own, valid until its next decode
  int width = 0, height = 0;
  size_t offset = 0;  // where in the payload the decoded picture starts
};

class PictureDecoder {
 public:
  // `maxPixels` 0: any size the syntax allows.
  explicit PictureDecoder(int64_t maxPixels = 0);
  ~PictureDecoder();
  PictureDecoder(const PictureDecoder&) = delete;
  PictureDecoder& operator=(const PictureDecoder&) = delete;

  // Whether the decoder could be made (it holds memory of its own).
  bool valid() const { return valid_; }

  // Decodes the payload's first picture, or the first one the decoder
  // takes at a later start code (at most eight tried). Nothing when none
  // was taken; `sawStart` then tells whether the payload held a start code
  // at all (one that held none is no picture, and the last one stands).
  std::optional<DecodedPicture> decode(std::span<const uint8_t> payload, bool* sawStart = nullptr);

  // Forgets the pictures decoded so far (a new stream begins); the size
  // limit stays.
  void reset();

 private:
  H263DecoderHandle handle_{};
  int64_t maxPixels_ = 0;
  bool valid_ = false;
};

}  // namespace zenta::video
