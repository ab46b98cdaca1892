#include "video/h263/picture_decoder.h"

#include "video/h263/stream_split.h"

namespace zenta::video {

PictureDecoder::PictureDecoder(int64_t maxPixels) : maxPixels_(maxPixels) {
  valid_ = h263Create(handle_) == 0;
  if (valid_ && maxPixels_ > 0) h263SetMaxPixels(handle_, maxPixels_);
}

PictureDecoder::~PictureDecoder() {
  h263Destroy(handle_);
}

std::optional<DecodedPicture> PictureDecoder::decode(std::span<const uint8_t> payload,
                                                     bool* sawStart) {
  if (sawStart != nullptr) *sawStart = false;
  if (!valid_) return std::nullopt;
  PlanarFrame* planes = nullptr;
  const FirstPicture found = decodeFirstPicture(handle_, &planes, payload.data(), payload.size());
  if (sawStart != nullptr) *sawStart = found.sawStart;
  if (found.offset < 0 || planes == nullptr) return std::nullopt;
  return DecodedPicture{planes, handle_.width, handle_.height, size_t(found.offset)};
}

void PictureDecoder::reset() {
  if (!valid_) return;
  h263Reset(handle_);
  if (maxPixels_ > 0) h263SetMaxPixels(handle_, maxPixels_);
}

}  // namespace zenta::video
