// The desktop window's size and place, kept between runs in a small text
// file: "x y width height maximised".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/base/types.h"

namespace zenta::platform {

struct WindowPlace {
  int x = 0, y = 0, width = 0, height = 0;
  bool maximised = false;
};

// Nothing for a missing or malformed file, or sizes no window can have.
std::optional<WindowPlace> readWindowPlace(const std::string& path);
// Written whole or not at all (a temporary file renamed over it); the
// folder is made when missing.
bool writeWindowPlace(const std::string& path, const WindowPlace& place);

// Where a kept place goes on the screens there are now (their usable areas,
// the first the main one). A place whose top edge is not on any screen for
// a good handful of pixels (a monitor since unplugged, a smaller one) moves
// to the middle of the main screen, no larger than it; one that is on a
// screen stays as it was.
WindowPlace placeOnScreens(const WindowPlace& kept, const std::vector<RECT>& screens);

}  // namespace zenta::platform
