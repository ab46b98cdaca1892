// The decoder's entry points for a WebAssembly host (a browser page's
// worker, node): plain C functions over PictureDecoder, with the memory a
// host writes payloads into.
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>

#include "video/h263/picture_decoder.h"

namespace {

struct Decoder {
  explicit Decoder(int64_t maxPixels) : decoder(maxPixels) {}
  zenta::video::PictureDecoder decoder;
  zenta::video::DecodedPicture last;
};

}  // namespace

extern "C" {

// Memory for a payload the host copies in.
__attribute__((export_name("zenta_alloc"))) uint8_t* zentaAlloc(uint32_t size) {
  return static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
}

__attribute__((export_name("zenta_free"))) void zentaFree(void* memory) {
  std::free(memory);
}

// A decoder taking pictures of at most `maxPixels` (0: any size the syntax
// allows); 0 when there is no memory for it.
__attribute__((export_name("zenta_decoder_new"))) Decoder* zentaDecoderNew(int32_t maxPixels) {
  auto* decoder = new (std::nothrow) Decoder(maxPixels);
  if (decoder != nullptr && !decoder->decoder.valid()) {
    delete decoder;
    return nullptr;
  }
  return decoder;
}

__attribute__((export_name("zenta_decoder_free"))) void zentaDecoderFree(Decoder* decoder) {
  delete decoder;
}

// Decodes a payload: 1 when it brought a new picture (its planes stay
// valid until the next decode), 0 otherwise.
__attribute__((export_name("zenta_decode"))) int32_t zentaDecode(Decoder* decoder,
                                                                 const uint8_t* payload,
                                                                 uint32_t length) {
  if (decoder == nullptr || payload == nullptr) return 0;
  const auto picture = decoder->decoder.decode(std::span<const uint8_t>(payload, length));
  if (!picture) return 0;
  decoder->last = *picture;
  return 1;
}

__attribute__((export_name("zenta_width"))) int32_t zentaWidth(const Decoder* d) {
  return d->last.width;
}
__attribute__((export_name("zenta_height"))) int32_t zentaHeight(const Decoder* d) {
  return d->last.height;
}
__attribute__((export_name("zenta_stride"))) int32_t zentaStride(const Decoder* d) {
  return d->last.planes->stride;
}
__attribute__((export_name("zenta_y"))) const uint8_t* zentaY(const Decoder* d) {
  return d->last.planes->y;
}
__attribute__((export_name("zenta_cb"))) const uint8_t* zentaCb(const Decoder* d) {
  return d->last.planes->cb;
}
__attribute__((export_name("zenta_cr"))) const uint8_t* zentaCr(const Decoder* d) {
  return d->last.planes->cr;
}

}  // extern "C"
