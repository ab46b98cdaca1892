// The sixteen buttons of the PTZ panel: the word each sends (the protocol's
// camera words, in their order) and where it
// lies, as offsets from the panel's corner (78 pixels right of the window's
// edge, at the top of the picture area) where a picture fills the tall
// skin's 240 x 178 picture area; elsewhere they stand where the panel is
// drawn, scaled with the picture.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "stream/protocol.h"

namespace zenta::viewer {

struct PtzButton {
  std::string_view word;
  int left, top, right, bottom;
};

inline constexpr int kPtzPanelLeft = 78;

inline constexpr std::array<PtzButton, 16> ptzButtons{{
    {stream::kCameraCommands[0], 33, 7, 50, 22},      // up
    {stream::kCameraCommands[1], 7, 34, 21, 51},      // left
    {stream::kCameraCommands[2], 61, 34, 75, 51},     // right
    {stream::kCameraCommands[3], 33, 62, 50, 76},     // down
    {stream::kCameraCommands[4], 2, 83, 21, 102},     // preset1
    {stream::kCameraCommands[5], 2, 104, 21, 123},    // preset2
    {stream::kCameraCommands[6], 2, 125, 21, 144},    // preset3
    {stream::kCameraCommands[7], 2, 146, 21, 165},    // preset4
    {stream::kCameraCommands[8], 61, 83, 80, 102},    // preset5
    {stream::kCameraCommands[9], 61, 104, 80, 123},   // preset6
    {stream::kCameraCommands[10], 61, 125, 80, 144},  // preset7
    {stream::kCameraCommands[11], 61, 146, 80, 165},  // preset8
    {stream::kCameraCommands[12], 34, 90, 47, 115},   // zoomin
    {stream::kCameraCommands[13], 34, 138, 47, 163},  // zoomout
    {stream::kCameraCommands[14], 35, 122, 45, 131},  // zoomstop
    {stream::kCameraCommands[15], 35, 36, 47, 48},    // stop
}};

// Where the table's picture area is: the buttons' own frame.
inline constexpr int kPtzFrameWidth = 240, kPtzFrameHeight = 178;

struct PtzArea {
  int left, top, right, bottom;
};
// Button `index` in the window, for a picture shown at (x, y) with the given
// size.
PtzArea ptzButtonArea(size_t index, int x, int y, int width, int height);

// The index of the first button whose window rectangle holds the point,
// for a picture shown at (px, py) with the given size; nothing elsewhere.
std::optional<int> hitPtz(int x, int y, int px, int py, int width, int height);

}  // namespace zenta::viewer
