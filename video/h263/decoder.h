// The channel-facing interface of the H.263 decoder: a small handle that each
// channel record holds, and the operations on it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zenta::video {

struct H263Decoder;

// One decoded YUV 4:2:0 picture: three planes in one block. The stride is
// the width rounded up to whole macroblocks; chroma rows are stride / 2.
struct PlanarFrame {
  uint8_t* y = nullptr;
  uint8_t* cb = nullptr;
  uint8_t* cr = nullptr;
  int32_t stride = 0;
};

// Per-channel handle. The channel code zero-fills it before each create;
// width and height are those of the last decoded picture.
struct H263DecoderHandle {
  int32_t width = 0;
  int32_t height = 0;
  int32_t reserved[2] = {0, 0};
  H263Decoder* context = nullptr;
};

// Gives the handle a fresh, zero-filled context. Returns 0, or -1 when the
// context cannot be allocated (the context then stays null).
int h263Create(H263DecoderHandle& handle);

// Decodes one coded picture. Returns the payload bytes consumed and points
// `output` at the decoded picture, valid until the next decode or destroy;
// or returns -1 when no picture was produced (output is left unchanged).
int h263Decode(H263DecoderHandle& handle, PlanarFrame** output, const uint8_t* payload,
               size_t length);

// The coding type of the picture a payload starts: 1 intra, 2 inter, 0 when
// it starts no picture that this decoder could decode on its own header
// (an extended header that relies on an earlier one counts as 0).
int h263PictureType(const uint8_t* payload, size_t length);

// Puts the context back in the state of a fresh one, as h263Create leaves
// it, but keeps its buffers, cleared as new ones are: the next picture of
// the same size allocates nothing. For a caller that runs many streams
// one after the other. Returns 0, or -1 for a handle without a context.
int h263Reset(H263DecoderHandle& handle);

// Limits the pictures the context takes to `pixels` (width times height);
// a larger one is rejected as a malformed header is, and leaves everything
// as it was. 0 takes every size the syntax can carry (up to 2048 x 1152).
// The limit outlives h263Reset. Returns 0, or -1 for a handle without a
// context or a negative limit.
int h263SetMaxPixels(H263DecoderHandle& handle, int64_t pixels);

// Releases every buffer the context holds and then the context itself.
// The context pointer is left as it is; the caller zero-fills the handle
// before the next create. Accepts a handle without a context.
void h263Destroy(H263DecoderHandle& handle);

}  // namespace zenta::video
