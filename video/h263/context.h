// The decoder context, its bit reader and its aligned allocations. Private
// to the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "video/h263/decoder.h"

namespace zenta::video {

// Reads the payload most significant bit first. Never reads outside the
// payload: past its end it yields zero bits.
struct BitReader {
  const uint8_t* data = nullptr;
  size_t length = 0;
  size_t position = 0;  // in bits from the payload's first byte

  // The next n bits (1 to 32), without consuming them.
  uint32_t peek(int n) const {
    const size_t byte = position >> 3;
    uint64_t word = 0;
    if (byte + 8 <= length) {
      std::memcpy(&word, data + byte, 8);
      word = __builtin_bswap64(word);
    } else {
      for (size_t i = 0; i < 8; ++i)
        word = (word << 8) | (byte + i < length ? data[byte + i] : 0);
    }
    return static_cast<uint32_t>((word << (position & 7)) >> (64 - n));
  }
  void skip(int n) { position += static_cast<size_t>(n); }
  uint32_t read(int n) {
    const uint32_t value = peek(n);
    skip(n);
    return value;
  }
  bool readBit() { return read(1) != 0; }
  int bitsToByteBoundary() const { return static_cast<int>((8 - (position & 7)) & 7); }
  // Whether the reader has run well past the payload (only zeros follow).
  bool exhausted() const { return position > length * 8 + 64; }
  // Bytes read, a partly read byte counting as read; at most the length.
  size_t bytesConsumed() const {
    const size_t bytes = (position + 7) / 8;
    return bytes < length ? bytes : length;
  }
};

struct MotionVector {
  int16_t x = 0;  // half-sample units
  int16_t y = 0;
};

// Allocated by h263Create zero-filled and aligned to 64 bytes.
struct alignas(64) H263Decoder {
  int32_t width = 0;  // from the latest picture header
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

  // Options of the extended header that the decoder honours.
  int32_t rounding = 0;        // rounding type of the current P picture
  int32_t customClock = 0;     // a custom picture clock is in use (ETR present)
  int32_t extendedFormat = 0;  // an extended header with UFEP 1 has set the size
  // Buffers: two frame records, their planes padded to whole macroblocks.
  PlanarFrame* frameRecords = nullptr;
  int32_t paddedWidth = 0;
  int32_t paddedHeight = 0;
  int32_t gobTopRow = -1;  // first row of the GOB whose header was read last
};

// A block aligned to 64 bytes, obtained from malloc with room for the
// alignment and one 32-bit word: the distance back to the raw start is kept
// in the word just before the usable block. alignedFree(nullptr) is a no-op.
void* alignedAlloc(size_t bytes);
void alignedFree(void* block);

// Frees every buffer that exists; accepts a context that never had any.
void releaseBuffers(H263Decoder& decoder);
// Allocates the buffers for the context's size. False when memory runs out.
bool allocateBuffers(H263Decoder& decoder);

// The picture header (0, or -1 when rejected) and the macroblock layer.
int parsePictureHeader(H263Decoder& decoder);
void decodeMacroblocks(H263Decoder& decoder);

}  // namespace zenta::video
