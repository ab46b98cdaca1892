// Saving the screen (or any surface) as a PNG file.
#pragma once

#include <string>

#include "platform/screen/surface.h"

namespace zenta::platform {

// Writes the surface as an 8-bit RGB PNG (uncompressed deflate blocks).
// True when the whole file was written.
bool savePng(const Surface& surface, const std::string& path);

}  // namespace zenta::platform
