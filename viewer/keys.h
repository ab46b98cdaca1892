// The keyboard and the mouse wheel: a key for every command of the window,
// the arrows steering the camera while its panel is on screen.
#pragma once

#include <array>
#include <string_view>

#include "platform/base/types.h"

namespace zenta::viewer {

class MainWindow;

struct KeyHelp {
  std::string_view keys;
  std::string_view action;
};

// What `zenta --help` and README list.
inline constexpr std::array<KeyHelp, 14> keyHelp{{
    {"C", "connect, or disconnect"},
    {"1 / 4", "one picture / four pictures"},
    {"PgUp / PgDn", "previous / next channel (or page of four), wrapping round"},
    {"Left / Right", "the same, while the PTZ panel is not shown"},
    {"mouse wheel", "previous (away from you) / next (towards you)"},
    {"double click", "a quadrant of four pictures shows that channel alone"},
    {"F", "full screen (the pictures only); F, Esc or a click come back"},
    {"P", "PTZ mode on or off"},
    {"arrows", "steer the camera while the PTZ panel is shown"},
    {"+ / - / Space", "zoom in / zoom out / stop every movement"},
    {"H", "Select Host"},
    {"S", "save the picture as a JPEG snapshot"},
    {"Q or Ctrl+Q", "quit"},
    {"F11", "desktop full screen for the window, and back"},
}};

// A key pressed over the window; true when it did something.
bool keyCommand(MainWindow& window, WPARAM key);
// A turn of the wheel (WM_MOUSEWHEEL's delta).
void wheelCommand(MainWindow& window, int delta);
// A double click at a point of the window.
void doubleClick(MainWindow& window, int x, int y);

}  // namespace zenta::viewer
