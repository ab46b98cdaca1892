// Steering a pan/tilt/zoom camera from the panel laid over the picture.
#pragma once

#include <string_view>

namespace zenta::viewer {

class MainWindow;

// A tap in the skin view that hit no skin button: with PTZ mode on and the
// current channel able, the button under the point sends its camera command
// once on that channel's connection. True when a command was sent.
bool ptzTap(MainWindow& window, int x, int y);
// The same for one of the panel's words (the keys that steer): sent while
// the panel is on screen. True when it was sent.
bool ptzCommand(MainWindow& window, std::string_view word);

// The PTZ menu command: turns the mode over and shows the panel at once in
// the one-picture skin view.
void togglePtzMode(MainWindow& window);

}  // namespace zenta::viewer
