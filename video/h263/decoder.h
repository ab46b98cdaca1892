// The channel-facing interface of the H.263 decoder: a small handle that each
// channel record holds, and the operations that give it a decoder context.
#pragma once

#include <cstdint>

namespace zenta::video {

struct H263Decoder;

// One decoded YUV 4:2:0 picture: three planes in one block, no borders.
struct PlanarFrame {
  uint8_t* y = nullptr;
  uint8_t* cb = nullptr;
  uint8_t* cr = nullptr;
  int32_t stride = 0;  // luma row stride; chroma rows are stride / 2
};

// Per-channel handle. The channel code zero-fills it before each create;
// width and height are those of the last decoded picture's buffers.
struct H263DecoderHandle {
  int32_t width = 0;
  int32_t height = 0;
  int32_t reserved[2] = {0, 0};
  H263Decoder* context = nullptr;
};

// Gives the handle a fresh, zero-filled context. Returns 0, or -1 when the
// context cannot be allocated (the context then stays null).
int h263Create(H263DecoderHandle& handle);

// Releases every buffer the context holds and then the context itself.
// The context pointer is left as it is; the caller zero-fills the handle
// before the next create. Accepts a handle without a context.
void h263Destroy(H263DecoderHandle& handle);

}  // namespace zenta::video
