// The menu bar's commands and the full-screen view, in which the menu bar
// and the skin give way to the one or four pictures over the whole
// full-screen area (turned by 90 degrees on tall screens).
#pragma once

namespace zenta::viewer {

class MainWindow;

// Full screen, for an active current channel.
void enterFullScreen(MainWindow& window);
// Back to the skin view: any tap in full-screen view.
void leaveFullScreen(MainWindow& window);
// In the one-picture layout with the current channel active: the channel's
// receive thread saves the picture shown last before its next frame.
void requestSnapshot(MainWindow& window);

}  // namespace zenta::viewer
