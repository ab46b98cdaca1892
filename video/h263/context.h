// The decoder context, its bit reader and its aligned allocations. Private
// to the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "video/h263/decoder.h"

namespace zenta::video {

// Reads the payload most significant bit first, through a 64-bit window
// that always holds at least 32 unread bits. Never reads outside the
// payload: past its end it yields zero bits.
class BitReader {
 public:
  BitReader() = default;
  BitReader(const uint8_t* data, size_t length) : data_(data), length_(length) { refill(); }

  // The next n bits (1 to 32), without consuming them.
  uint32_t peek(int n) const { return static_cast<uint32_t>(window_ >> (64 - n)); }
  // Consumes n bits (0 to 32).
  void skip(int n) {
    window_ = n == 0 ? window_ : window_ << n;
    available_ -= n;
    position_ += static_cast<size_t>(n);
    if (available_ < 32) refill();
  }
  uint32_t read(int n) {
    const uint32_t value = peek(n);
    skip(n);
    return value;
  }
  bool readBit() { return read(1) != 0; }
  int bitsToByteBoundary() const { return static_cast<int>((8 - (position_ & 7)) & 7); }
  // Whether the reader has run well past the payload (only zeros follow).
  bool exhausted() const { return position_ > length_ * 8 + 64; }
  // Bytes read, a partly read byte counting as read; at most the length.
  size_t bytesConsumed() const {
    const size_t bytes = (position_ + 7) / 8;
    return bytes < length_ ? bytes : length_;
  }

 private:
  void refill() {
    if (next_ + 8 <= length_) {
      uint64_t word = 0;
      std::memcpy(&word, data_ + next_, 8);
      // Bits below the whole bytes taken are those of the following byte;
      // the next refill ORs the same bits in again.
      window_ |= __builtin_bswap64(word) >> available_;
      const int bytes = (63 - available_) >> 3;
      next_ += static_cast<size_t>(bytes);
      available_ += 8 * bytes;
      return;
    }
    while (available_ <= 56) {
      const uint64_t byte = next_ < length_ ? data_[next_] : 0;
      window_ |= byte << (56 - available_);
      ++next_;
      available_ += 8;
    }
  }

  const uint8_t* data_ = nullptr;
  size_t length_ = 0;
  size_t next_ = 0;      // next payload byte to enter the window
  uint64_t window_ = 0;  // unread bits, left-aligned
  int available_ = 0;    // valid bits in the window
  size_t position_ = 0;  // bits consumed from the payload's start
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
  int64_t maxPixels = 0;   // largest picture area taken; 0 takes any size
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
