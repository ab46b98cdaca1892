// Saving the picture a channel shows as a JPEG file.
#pragma once

#include <cstdint>

#include "video/h263/decoder.h"

namespace zenta::video {

// Writes a baseline JFIF file of a picture in canvas layout: three bytes per
// pixel (blue, green, red), rows `pitch` pixels apart and stored bottom-up,
// `pixels` pointing at the lowest-addressed (bottom) row. The file's first
// scanline is the picture's top row. `quality` is libjpeg's, 0 to 100.
//
// The file is written under a temporary name in the same folder and renamed
// into place only when it is complete, so a failed write never leaves a
// truncated or empty file at `path`, and an existing file there is replaced
// only by a complete one. Returns 1 when the file is in place, 0 otherwise
// (null picture, pitch or height 0, width 0 or above the pitch, a folder
// that cannot be written, a library or write error).
int JpegSnapshotWriter(const char* path, const uint8_t* pixels, unsigned pitch, unsigned width,
                       unsigned height, int quality);

// Writes a decoded picture whole, at its own size (an odd last column or
// row left out), converted as a channel's canvas is; for pictures larger
// than the canvas. Returns as JpegSnapshotWriter does.
int JpegSnapshotOfPicture(const char* path, const PlanarFrame& picture, int width, int height,
                          int quality);

}  // namespace zenta::video
