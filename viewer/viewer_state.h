// What the viewer shows and how: each channel's canvases and what the
// recorder's INFO text said of it, and the view (layout, the channel on
// screen, PTZ mode, the server's title, the login selected).
//
// The UI thread and the sixteen receive threads work on these records at
// once: flags and counters that cross threads are atomics, texts sit behind
// small locks, and a canvas is changed only under its canvas lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/base/handles.h"
#include "stream/connection.h"
#include "stream/login.h"
#include "stream/protocol.h"

namespace zenta::viewer {

enum class ViewState : uint8_t {
  Pending = 0,  // no frame handled since the channel was opened
  Blanked = 1,  // the picture was filled grey: viewing not (yet) granted
  Granted = 2,  // an INFO text granted viewing
};

struct ChannelView {
  int32_t number = 0;  // 1 to 16
  // The channel's connection in the window's session.
  stream::Connection* link = nullptr;

  HDC pictureDC = nullptr;
  HDC rotatedDC = nullptr;
  HBITMAP pictureBitmap = nullptr;
  HBITMAP rotatedBitmap = nullptr;
  uint8_t* picture = nullptr;  // the DecodedFrame behind pictureBitmap
  uint8_t* rotated = nullptr;  // the RotatedFrame behind rotatedBitmap

  std::atomic<bool> ptzCapable{false};
  std::atomic<bool> snapshotPending{false};
  std::atomic<ViewState> viewState{ViewState::Pending};
  std::atomic<int16_t> codedWidth{320};
  std::atomic<int16_t> codedHeight{240};
  std::atomic<int16_t> shownWidth{320};
  std::atomic<int16_t> shownHeight{240};
  // The picture was larger than the canvas and went into it scaled down
  // (shownWidth x shownHeight is the scaled picture): it is shown with its
  // shape kept, never stretched to fill its place.
  std::atomic<bool> scaledToFit{false};

  // Held while the canvas (`picture`, `rotated`) is written, turned,
  // overlaid or copied to the screen, by the receive thread or the UI thread.
  std::mutex canvasLock;

  // INFO line 2, right-aligned in 20 characters, zero-terminated.
  std::array<char, 21> cameraNameCopy() const;
  void setCameraName(const std::array<char, 21>& name);

 private:
  mutable std::mutex nameLock_;
  std::array<char, 21> cameraName_{};
};

struct ViewerState {
  ViewerState();
  ViewerState(const ViewerState&) = delete;
  ViewerState& operator=(const ViewerState&) = delete;

  std::array<ChannelView, stream::kChannelCount> channels;
  std::atomic<ChannelView*> current;
  std::atomic<int32_t> firstShown{0};
  // Units digit: 1 skin view, 2 full-screen view; tens digit: 0 one picture,
  // 1 four pictures; 0 before the first paint.
  std::atomic<int32_t> layoutMode{0};
  // The highest channel the recorder granted.
  std::atomic<int32_t> channelCount{0};
  std::atomic<bool> ptzMode{false};
  std::atomic<bool> connecting{false};

  HDC windowDC = nullptr;

  // The server selected and its login: the UI thread's alone.
  stream::Login login;

  // Raises channelCount to `number` when it is lower.
  void raiseChannelCount(int32_t number);

  // INFO line 3 of the last granting INFO text.
  std::array<char, 21> serverTitleCopy() const;
  void setServerTitle(const std::array<char, 21>& title);

 private:
  mutable std::mutex titleLock_;
  std::array<char, 21> serverTitle_{};
};

}  // namespace zenta::viewer
