// The device's fixed sizes, shared by every part that draws or hit-tests
// them: the caption of a window, its OK button, and the shell's bars.
#pragma once

#include "platform/base/types.h"

namespace zenta::platform {

inline constexpr int kCaptionHeight = 26;  // a window caption, above the client area
inline constexpr int kTaskBarHeight = 26;  // the task bar across the top of the screen
inline constexpr int kMenuBarHeight = 26;  // a menu bar across the bottom

// The caption's OK button, in the coordinates of a window `width` wide
// whose caption starts at its top.
constexpr RECT captionOkBox(int width) {
  return RECT{width - 28, 4, width - 4, kCaptionHeight - 4};
}
// The caption's title, left of the OK button's place.
constexpr RECT captionTitleBox(int width) {
  return RECT{6, 0, width - 30, kCaptionHeight};
}

}  // namespace zenta::platform
