// The desktop window's size and place, kept between runs in a small text
// file: "x y width height maximised".
#pragma once

#include <optional>
#include <string>

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

}  // namespace zenta::platform
