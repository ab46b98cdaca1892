#include "sim/camera.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zenta::sim {

VirtualCamera::VirtualCamera(double worldWidth, double worldHeight, double viewWidth,
                             double viewHeight, double minZoom, double maxZoom)
    : worldWidth_(worldWidth),
      worldHeight_(worldHeight),
      viewWidth_(viewWidth),
      viewHeight_(viewHeight),
      minZoom_(minZoom),
      maxZoom_(maxZoom) {
  view_ = preset(1);
}

View VirtualCamera::preset(int number) const {
  // 1: the middle; 2 to 5: the four quarters; 6: the whole world; 7 and 8:
  // closer and closest on the middle.
  const double wide = minZoom_;
  const double quarter = std::min(maxZoom_, std::max(1.0, 2 * minZoom_));
  switch (number) {
    case 2:
      return {worldWidth_ * 0.25, worldHeight_ * 0.25, quarter};
    case 3:
      return {worldWidth_ * 0.75, worldHeight_ * 0.25, quarter};
    case 4:
      return {worldWidth_ * 0.25, worldHeight_ * 0.75, quarter};
    case 5:
      return {worldWidth_ * 0.75, worldHeight_ * 0.75, quarter};
    case 6:
      return {worldWidth_ * 0.5, worldHeight_ * 0.5, wide};
    case 7:
      return {worldWidth_ * 0.5, worldHeight_ * 0.5, std::min(maxZoom_, 2 * quarter)};
    case 8:
      return {worldWidth_ * 0.5, worldHeight_ * 0.5, maxZoom_};
    default:
      return {worldWidth_ * 0.5, worldHeight_ * 0.5, std::max(1.0, minZoom_)};
  }
}

void VirtualCamera::clampView() {
  view_.zoom = std::clamp(view_.zoom, minZoom_, maxZoom_);
  const double halfWidth = std::min(viewWidth_ / (2 * view_.zoom), worldWidth_ / 2);
  const double halfHeight = std::min(viewHeight_ / (2 * view_.zoom), worldHeight_ / 2);
  view_.centreX = std::clamp(view_.centreX, halfWidth, worldWidth_ - halfWidth);
  view_.centreY = std::clamp(view_.centreY, halfHeight, worldHeight_ - halfHeight);
}

void VirtualCamera::advance(Clock::time_point now) {
  if (last_ == Clock::time_point{} || now <= last_) {
    last_ = std::max(last_, now);
    return;
  }
  const double seconds = std::chrono::duration<double>(now - last_).count();
  last_ = now;
  if (zoomDirection_ != 0) view_.zoom *= std::pow(kZoomSpeed, zoomDirection_ * seconds);
  view_.zoom = std::clamp(view_.zoom, minZoom_, maxZoom_);
  // The view moves at the same speed on screen whatever the zoom.
  view_.centreX += panX_ * kPanSpeed * viewWidth_ / view_.zoom * seconds;
  view_.centreY += panY_ * kPanSpeed * viewHeight_ / view_.zoom * seconds;
  clampView();
}

bool VirtualCamera::command(std::string_view word, Clock::time_point now) {
  std::lock_guard guard(mutex_);
  advance(now);
  last_ = now;
  if (word == "up") {
    panX_ = 0, panY_ = -1;
  } else if (word == "down") {
    panX_ = 0, panY_ = 1;
  } else if (word == "left") {
    panX_ = -1, panY_ = 0;
  } else if (word == "right") {
    panX_ = 1, panY_ = 0;
  } else if (word == "stop") {
    panX_ = panY_ = 0;
  } else if (word == "zoomin") {
    zoomDirection_ = 1;
  } else if (word == "zoomout") {
    zoomDirection_ = -1;
  } else if (word == "zoomstop") {
    zoomDirection_ = 0;
  } else if (word.size() == 7 && word.starts_with("preset") && word[6] >= '1' && word[6] <= '8') {
    panX_ = panY_ = zoomDirection_ = 0;
    view_ = preset(word[6] - '0');
    clampView();
  } else {
    return false;
  }
  return true;
}

View VirtualCamera::view(Clock::time_point now) {
  std::lock_guard guard(mutex_);
  advance(now);
  return view_;
}

std::string VirtualCamera::describe(Clock::time_point now) {
  const View current = view(now);
  char text[96];
  std::snprintf(text, sizeof text, "pan %.1f tilt %.1f zoom %.2f", current.centreX, current.centreY,
                current.zoom);
  return text;
}

}  // namespace zenta::sim
