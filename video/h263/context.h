// The decoder context and its aligned allocations. Private to the decoder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "video/h263/decoder.h"

namespace zenta::video {

// Reads the payload most significant bit first, a 32-bit word at a time.
struct BitReader {
  uint32_t current = 0;
  uint32_t next = 0;
  int32_t consumed = 0;  // bits of `current` already taken, 0 to 31
  const uint8_t* word = nullptr;
  const uint8_t* start = nullptr;
  int32_t length = 0;
};

struct MotionVector {
  int16_t x = 0;  // half-sample units
  int16_t y = 0;
};

// Allocated by h263Create zero-filled and aligned to 64 bytes.
struct alignas(64) H263Decoder {
  int32_t width = 0;
  int32_t height = 0;
  int32_t unrestrictedMv = 0;
  int32_t qp = 0;
  int32_t pictureType = 0;  // 1 = I, 2 = P
  PlanarFrame* output = nullptr;
  PlanarFrame* reference = nullptr;
  PlanarFrame* currentFrame = nullptr;
  BitReader bits;
  int16_t* workBlock = nullptr;
  int16_t* blocks[6] = {};
  MotionVector* motionVectors = nullptr;
  MotionVector* mvCursor = nullptr;
  int32_t mbColumns = 0;
  int32_t mbRows = 0;
  int32_t mbColumn = 0;
  int32_t mbRow = 0;
  int32_t mbType = 0;
  int32_t mbIntra = 0;

  // Raw blocks behind the frame records, so that release frees them.
  PlanarFrame* frameRecords = nullptr;
};

// A block aligned to 64 bytes, obtained from malloc with room for the
// alignment and one 32-bit word: the distance back to the raw start is kept
// in the word just before the usable block. alignedFree(nullptr) is a no-op.
void* alignedAlloc(size_t bytes);
void alignedFree(void* block);

// Frees every buffer that exists; accepts a context that never had any.
void releaseBuffers(H263Decoder& decoder);

}  // namespace zenta::video
