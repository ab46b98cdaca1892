// Splitting a raw H.263 elementary stream into its coded pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zenta::video {

// The pictures of a stream: each begins at a byte-aligned picture start code
// (0x00 0x00, then a byte whose top six bits are 100000) and runs to the
// next one. Bytes before the first start code are dropped.
std::vector<std::span<const uint8_t>> splitPictures(std::span<const uint8_t> stream);

}  // namespace zenta::video
