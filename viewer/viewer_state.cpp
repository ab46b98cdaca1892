#include "viewer/viewer_state.h"

namespace zenta::viewer {

std::array<char, 21> ChannelView::cameraNameCopy() const {
  std::lock_guard guard(nameLock_);
  return cameraName_;
}

void ChannelView::setCameraName(const std::array<char, 21>& name) {
  std::lock_guard guard(nameLock_);
  cameraName_ = name;
}

ViewerState::ViewerState() : current(&channels[0]) {
  for (size_t i = 0; i < channels.size(); ++i)
    channels[i].number = static_cast<int32_t>(i + 1);
}

void ViewerState::raiseChannelCount(int32_t number) {
  int32_t seen = channelCount.load();
  while (seen < number && !channelCount.compare_exchange_weak(seen, number)) {
  }
}

std::array<char, 21> ViewerState::serverTitleCopy() const {
  std::lock_guard guard(titleLock_);
  return serverTitle_;
}

void ViewerState::setServerTitle(const std::array<char, 21>& title) {
  std::lock_guard guard(titleLock_);
  serverTitle_ = title;
}

}  // namespace zenta::viewer
