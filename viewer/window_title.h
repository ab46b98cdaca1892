// The desktop window's title: what the screen shows, then the program's
// name ("Yard — Home Recorder — ZENTA"), so that a task list or a window
// switcher tells viewers apart.
#pragma once

#include <array>
#include <string>

namespace zenta::viewer {

// `camera` and `server` are the recorder's texts (Latin-1, blank-padded,
// zero-terminated); an empty one is left out, and so is the camera when
// four pictures show.
std::u16string windowTitle(const std::array<char, 21>& camera, const std::array<char, 21>& server,
                           bool fourPictures);

}  // namespace zenta::viewer
