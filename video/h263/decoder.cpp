#include "video/h263/decoder.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "video/h263/context.h"

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
  for (auto& block : decoder.blocks) block = nullptr;
  decoder.motionVectors = decoder.mvCursor = nullptr;
}

int h263Create(H263DecoderHandle& handle) {
  void* memory = alignedAlloc(sizeof(H263Decoder));
  if (memory == nullptr) return -1;
  std::memset(memory, 0, sizeof(H263Decoder));
  handle.context = new (memory) H263Decoder{};
  return 0;
}

void h263Destroy(H263DecoderHandle& handle) {
  if (handle.context == nullptr) return;
  releaseBuffers(*handle.context);
  handle.context->~H263Decoder();
  alignedFree(handle.context);
}

}  // namespace zenta::video
