// What each channel's receive thread does with what the recorder sends:
// INFO texts update the channel's record; pictures are decoded into its
// canvas and drawn where the current layout puts them, with the time stamp
// in the status line. The threads draw through the window's DC only and
// never wait for the UI thread.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "stream/channel_sink.h"
#include "viewer/channel_display.h"
#include "viewer/viewer_state.h"

namespace zenta::viewer {

class DisplaySink : public stream::ChannelSink {
 public:
  DisplaySink(ViewerState& state, ChannelDisplay& display);
  ~DisplaySink() override;

  void onInfo(stream::Connection& channel, const stream::InfoText& info) override;
  bool onPicture(stream::Connection& channel, std::span<const uint8_t> payload,
                 double stamp) override;
  void onTick(stream::Connection& channel, double stamp) override;
  void onState(stream::Connection& channel, stream::LinkState state) override;

 private:
  class Receiver;
  std::array<std::unique_ptr<Receiver>, stream::kChannelCount> receivers_;
};

// The snapshot's device path, "WebCAM\<title>-<camera>-<MMDDhhmmss>.jpg":
// the title and camera name without their leading blanks, every character
// that cannot stand in a file name replaced, so the name stays one file in
// the "WebCAM" folder.
std::string snapshotPath(const std::array<char, 21>& serverTitle,
                         const std::array<char, 21>& cameraName, const char* stamp);

}  // namespace zenta::viewer
