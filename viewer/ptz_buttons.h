// The sixteen buttons of the PTZ panel: the word each sends and where it
// lies, as offsets from the panel's corner (78 pixels right of the window's
// edge, at the top of the picture area) where a picture fills the tall
// skin's 240 x 178 picture area; elsewhere they stand where the panel is
// drawn, scaled with the picture.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace zenta::viewer {

struct PtzButton {
  std::string_view word;
  int left, top, right, bottom;
};

inline constexpr int kPtzPanelLeft = 78;

inline constexpr std::array<PtzButton, 16> ptzButtons{{
    {"up", 33, 7, 50, 22},
    {"left", 7, 34, 21, 51},
    {"right", 61, 34, 75, 51},
    {"down", 33, 62, 50, 76},
    {"preset1", 2, 83, 21, 102},
    {"preset2", 2, 104, 21, 123},
    {"preset3", 2, 125, 21, 144},
    {"preset4", 2, 146, 21, 165},
    {"preset5", 61, 83, 80, 102},
    {"preset6", 61, 104, 80, 123},
    {"preset7", 61, 125, 80, 144},
    {"preset8", 61, 146, 80, 165},
    {"zoomin", 34, 90, 47, 115},
    {"zoomout", 34, 138, 47, 163},
    {"zoomstop", 35, 122, 45, 131},
    {"stop", 35, 36, 47, 48},
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
