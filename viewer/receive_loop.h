// The body of a channel's receive thread: it logs the channel in, then reads
// the server's messages until the session closes the channel. INFO texts
// update the channel's record; pictures are decoded into its canvas and
// drawn where the current layout puts them, with the time stamp in the
// status line. The thread draws through the window's DC only and never
// waits for the UI thread.
#pragma once

#include "stream/session.h"
#include "viewer/channel_display.h"

namespace zenta::viewer {

void receiveLoop(stream::StreamSession& session, stream::ChannelView& channel,
                 ChannelDisplay& display);

// The snapshot's device path, "WebCAM\<title>-<camera>-<MMDDhhmmss>.jpg":
// the title and camera name without their leading blanks, every character
// that cannot stand in a file name replaced, so the name stays one file in
// the "WebCAM" folder.
std::string snapshotPath(const std::array<char, 21>& serverTitle,
                         const std::array<char, 21>& cameraName, const char* stamp);

}  // namespace zenta::viewer
