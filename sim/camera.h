// A channel's virtual pan/tilt/zoom camera: a view over the channel's world
// that pans and tilts while a direction command holds, zooms while a zoom
// command holds, and jumps to eight stored views. One camera a channel,
// shared by every client that watches it.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

#include "sim/scene.h"

namespace zenta::sim {

class VirtualCamera {
 public:
  using Clock = std::chrono::steady_clock;

  // A world of worldWidth x worldHeight seen in pictures of viewWidth x
  // viewHeight, at zooms from minZoom to maxZoom. It starts at preset 1.
  VirtualCamera(double worldWidth, double worldHeight, double viewWidth, double viewHeight,
                double minZoom, double maxZoom);

  // One of the sixteen camera command words; false for any other word.
  bool command(std::string_view word, Clock::time_point now);
  // The view now, after the movement since the last call.
  View view(Clock::time_point now);
  // "pan X tilt Y zoom Z" for the event log.
  std::string describe(Clock::time_point now);

  // Pan and tilt speed, in pictures per second: half a picture.
  static constexpr double kPanSpeed = 0.5;
  // Zoom factor per second while zooming.
  static constexpr double kZoomSpeed = 2.0;

 private:
  void advance(Clock::time_point now);
  void clampView();
  View preset(int number) const;

  std::mutex mutex_;
  double worldWidth_, worldHeight_, viewWidth_, viewHeight_, minZoom_, maxZoom_;
  View view_;
  int panX_ = 0, panY_ = 0, zoomDirection_ = 0;
  Clock::time_point last_{};
};

}  // namespace zenta::sim
