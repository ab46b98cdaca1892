// A decoded picture as a JPEG in memory, straight from the decoder's YUV
// 4:2:0 planes: JPEG's own colour space is YCbCr, in full range, so only
// the studio range of the planes is widened.
#pragma once

#include <cstdint>
#include <vector>

#include "video/h263/decoder.h"

namespace zenta::video {

// Encodes `width` x `height` of the picture (its planes hold whole
// macroblocks, as the decoder leaves them) into `out`. False (and `out`
// empty) for sizes the planes cannot hold or a library error.
bool JpegOfPlanes(const PlanarFrame& picture, int width, int height, int quality,
                  std::vector<uint8_t>& out);

}  // namespace zenta::video
