#include "stream/channel_state.h"

namespace zenta::stream {

std::array<char, 21> ChannelView::cameraNameCopy() const {
  std::lock_guard guard(nameLock_);
  return cameraName_;
}

void ChannelView::setCameraName(const std::array<char, 21>& name) {
  std::lock_guard guard(nameLock_);
  cameraName_ = name;
}

ViewerState::ViewerState() : current(&channels[0]) {
  for (size_t i = 0; i < channels.size(); ++i) {
    channels[i].number = static_cast<int32_t>(i + 1);
    channels[i].receiveBuffer = std::make_unique<uint8_t[]>(kReceiveBufferSize);
  }
}

ViewerState::~ViewerState() {
  for (auto& channel : channels)
    video::h263Destroy(channel.decoder);
}

void ViewerState::raiseChannelCount(int32_t number) {
  int32_t seen = channelCount.load();
  while (seen < number && !channelCount.compare_exchange_weak(seen, number)) {
  }
}

void ViewerState::clearInfoPending(int32_t number) {
  if (number < 1 || number > kChannelCount) return;
  infoPending.fetch_and(~(uint32_t{1} << (number - 1)));
}

std::array<char, 21> ViewerState::serverTitleCopy() const {
  std::lock_guard guard(sharedTextLock_);
  return serverTitle_;
}

void ViewerState::setServerTitle(const std::array<char, 21>& title) {
  std::lock_guard guard(sharedTextLock_);
  serverTitle_ = title;
}

sockaddr_in ViewerState::serverAddressCopy() const {
  std::lock_guard guard(sharedTextLock_);
  return serverAddress_;
}

void ViewerState::setServerAddress(const sockaddr_in& address) {
  std::lock_guard guard(sharedTextLock_);
  serverAddress_ = address;
}

}  // namespace zenta::stream
