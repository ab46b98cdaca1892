// Where a picture lands inside its place on the screen.
#pragma once

#include "viewer/skin_file.h"

namespace zenta::viewer {

// The largest rectangle of the picture's shape (width : height) inside
// `area`, centred; the whole area when either size is not positive.
Place fitPicture(const Place& area, int width, int height);

// The parts of `area` outside `inner` (inside it): up to two bars, left and
// right or above and below. Returns how many of `bars` it filled.
int barsAround(const Place& area, const Place& inner, Place (&bars)[2]);

}  // namespace zenta::viewer
