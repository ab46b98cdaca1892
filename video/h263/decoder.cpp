#include "video/h263/decoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "video/h263/context.h"
#include "video/h263/kernels.h"
#include "video/h263/tables.h"

namespace zenta::video {

void* alignedAlloc(size_t bytes) {
  constexpr size_t kAlign = 64;
  auto* raw = static_cast<unsigned char*>(std::malloc(bytes + kAlign + sizeof(uint32_t)));
  if (raw == nullptr) return nullptr;
  // First 64-byte boundary lying more than 4 bytes past the raw start.
  auto address = reinterpret_cast<uintptr_t>(raw) + sizeof(uint32_t) + 1;
  address = (address + kAlign - 1) & ~(uintptr_t{kAlign} - 1);
  auto* usable = reinterpret_cast<unsigned char*>(address);
  const auto distance = static_cast<uint32_t>(usable - raw);
  std::memcpy(usable - sizeof(uint32_t), &distance, sizeof distance);
  return usable;
}

void alignedFree(void* block) {
  if (block == nullptr) return;
  auto* usable = static_cast<unsigned char*>(block);
  uint32_t distance = 0;
  std::memcpy(&distance, usable - sizeof(uint32_t), sizeof distance);
  std::free(usable - distance);
}

void releaseBuffers(H263Decoder& decoder) {
  alignedFree(decoder.workBlock);
  if (decoder.frameRecords != nullptr) {
    alignedFree(decoder.frameRecords[0].y);
    alignedFree(decoder.frameRecords[1].y);
  }
  alignedFree(decoder.frameRecords);
  alignedFree(decoder.blocks[0]);
  alignedFree(decoder.motionVectors);
  decoder.workBlock = nullptr;
  decoder.frameRecords = nullptr;
  decoder.output = decoder.reference = decoder.currentFrame = nullptr;
  for (auto& block : decoder.blocks)
    block = nullptr;
  decoder.motionVectors = decoder.mvCursor = nullptr;
  decoder.paddedWidth = decoder.paddedHeight = 0;
}

bool allocateBuffers(H263Decoder& decoder) {
  const int width = decoder.mbColumns * 16;
  const int height = decoder.mbRows * 16;
  const size_t planeBytes = size_t(width) * size_t(height) * 3 / 2;
  decoder.paddedWidth = width;
  decoder.paddedHeight = height;
  decoder.workBlock = static_cast<int16_t*>(alignedAlloc(128));
  decoder.frameRecords = static_cast<PlanarFrame*>(alignedAlloc(2 * sizeof(PlanarFrame)));
  if (decoder.workBlock == nullptr || decoder.frameRecords == nullptr) return false;
  for (int i = 0; i < 2; ++i) {
    PlanarFrame& frame = *new (&decoder.frameRecords[i]) PlanarFrame{};
    frame.y = static_cast<uint8_t*>(alignedAlloc(planeBytes));
    if (frame.y == nullptr) return false;
    // New frames are mid grey, so that P pictures after a size change are
    // predicted from defined content.
    std::memset(frame.y, 128, planeBytes);
    frame.cb = frame.y + size_t(width) * size_t(height);
    frame.cr = frame.cb + size_t(width / 2) * size_t(height / 2);
    frame.stride = width;
  }
  decoder.currentFrame = &decoder.frameRecords[0];
  decoder.reference = &decoder.frameRecords[1];
  auto* coefficients = static_cast<int16_t*>(alignedAlloc(768));
  if (coefficients == nullptr) return false;
  for (int i = 0; i < 6; ++i)
    decoder.blocks[i] = coefficients + 64 * i;
  const size_t vectors = size_t(decoder.mbColumns) * size_t(decoder.mbRows);
  decoder.motionVectors = static_cast<MotionVector*>(alignedAlloc(vectors * sizeof(MotionVector)));
  if (decoder.motionVectors == nullptr) return false;
  std::fill_n(decoder.motionVectors, vectors, MotionVector{});
  h263Tables();
  return true;
}

int h263Create(H263DecoderHandle& handle) {
  void* memory = alignedAlloc(sizeof(H263Decoder));
  if (memory == nullptr) return -1;
  std::memset(memory, 0, sizeof(H263Decoder));
  handle.context = new (memory) H263Decoder{};
  reconKernels();
  return 0;
}

int h263Decode(H263DecoderHandle& handle, PlanarFrame** output, const uint8_t* payload,
               size_t length) {
  H263Decoder* decoder = handle.context;
  if (decoder == nullptr || output == nullptr || (payload == nullptr && length > 0)) return -1;
  decoder->bits = BitReader(payload, length);
  // A rejected picture leaves everything as it was: the reference stays the
  // last decoded picture and the picture handed out last stays intact.
  if (parsePictureHeader(*decoder) != 0) return -1;

  decoder->mbColumns = (decoder->width + 15) / 16;
  decoder->mbRows = (decoder->height + 15) / 16;
  const bool sizeChanged = handle.width != decoder->width || handle.height != decoder->height;
  if (decoder->frameRecords == nullptr || sizeChanged) {
    releaseBuffers(*decoder);
    handle.width = decoder->width;
    handle.height = decoder->height;
    if (!allocateBuffers(*decoder)) {
      releaseBuffers(*decoder);
      handle.width = handle.height = 0;
      return -1;
    }
  }
  std::swap(decoder->reference, decoder->currentFrame);
  decoder->mvCursor = decoder->motionVectors;
  decoder->output = decoder->currentFrame;
  decodeMacroblocks(*decoder);
  *output = decoder->output;
  return static_cast<int>(decoder->bits.bytesConsumed());
}

int h263PictureType(const uint8_t* payload, size_t length) {
  if (payload == nullptr || length == 0) return 0;
  H263Decoder header{};
  header.bits = BitReader(payload, length);
  return parsePictureHeader(header) == 0 ? header.pictureType : 0;
}

int h263Reset(H263DecoderHandle& handle) {
  H263Decoder* decoder = handle.context;
  if (decoder == nullptr) return -1;
  const H263Decoder kept = *decoder;
  *decoder = H263Decoder{};
  decoder->maxPixels = kept.maxPixels;
  if (kept.frameRecords == nullptr) return 0;
  // The buffers, their size, and the contents that new buffers get.
  decoder->frameRecords = kept.frameRecords;
  decoder->workBlock = kept.workBlock;
  std::copy(std::begin(kept.blocks), std::end(kept.blocks), decoder->blocks);
  decoder->motionVectors = kept.motionVectors;
  decoder->paddedWidth = kept.paddedWidth;
  decoder->paddedHeight = kept.paddedHeight;
  decoder->currentFrame = &decoder->frameRecords[0];
  decoder->reference = &decoder->frameRecords[1];
  const size_t planeBytes = size_t(kept.paddedWidth) * size_t(kept.paddedHeight) * 3 / 2;
  for (int i = 0; i < 2; ++i)
    std::memset(decoder->frameRecords[i].y, 128, planeBytes);
  std::fill_n(decoder->motionVectors,
              size_t(kept.paddedWidth / 16) * size_t(kept.paddedHeight / 16), MotionVector{});
  return 0;
}

int h263SetMaxPixels(H263DecoderHandle& handle, int64_t pixels) {
  if (handle.context == nullptr || pixels < 0) return -1;
  handle.context->maxPixels = pixels;
  return 0;
}

void h263Destroy(H263DecoderHandle& handle) {
  if (handle.context == nullptr) return;
  releaseBuffers(*handle.context);
  handle.context->~H263Decoder();
  alignedFree(handle.context);
}

}  // namespace zenta::video
