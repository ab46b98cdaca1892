// Splitting a raw H.263 elementary stream into its coded pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "video/h263/decoder.h"

namespace zenta::video {

// The offset of the first byte-aligned picture start code at or after
// `from`, or `length` when there is none.
size_t pictureStartFrom(const uint8_t* payload, size_t length, size_t from);

// What decodeFirstPicture found in a payload.
struct FirstPicture {
  int offset = -1;        // where the decoded picture starts; -1: none decoded
  bool sawStart = false;  // the payload holds a picture start code
};

// Decodes a payload as a receiver of a recorder's stream takes it: the
// picture at its start or, when the decoder rejects that one (broken bytes
// from an encoder), the first one it takes at a later picture start code,
// trying at most eight. A rejected picture changes nothing in the decoder,
// so the next pictures are still predicted from the last good one.
FirstPicture decodeFirstPicture(H263DecoderHandle& handle, PlanarFrame** output,
                                const uint8_t* payload, size_t length);

// The pictures of a stream: each begins at a byte-aligned picture start code
// (0x00 0x00, then a byte whose top six bits are 100000) and runs to the
// next one. Bytes before the first start code are dropped.
std::vector<std::span<const uint8_t>> splitPictures(std::span<const uint8_t> stream);

}  // namespace zenta::video
