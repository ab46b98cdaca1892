// The records that the stream client shares with the user interface: sixteen
// channel records and the process-wide viewer state.
//
// The UI thread and one receive thread per channel work on these records at
// once. Flags and counters that cross threads are atomics; the texts that a
// receive thread writes and the UI thread reads sit behind small locks; a
// channel's socket is replaced or closed only under the channel's lock.
#pragma once

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/base/handles.h"
#include "stream/protocol.h"
#include "video/h263/decoder.h"

namespace zenta::stream {

inline constexpr int kNoConnection = -1;
inline constexpr size_t kReceiveBufferSize = 158976;  // one 368 x 288 picture in 4:2:0 planes

enum class ViewState : uint8_t {
  Pending = 0,  // no frame handled since the channel was opened
  Blanked = 1,  // the picture was filled grey: viewing not (yet) granted
  Granted = 2,  // an INFO text granted viewing
};

// The steady clock in milliseconds, as ChannelView::lastPictureMs keeps it.
inline int64_t steadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct ChannelView {
  // The channel's socket, or kNoConnection. Changed only under `lock`, so a
  // sender that holds the lock never writes to a socket being replaced.
  std::atomic<int> connection{kNoConnection};
  uint32_t threadId = 0;  // serial number of the receive thread last started
  // Reconnections since the channel last made progress (a picture, or a
  // connection that lived a while); the receive thread's own, reset by
  // openChannel before the thread starts.
  uint32_t reconnectsWithoutMessage = 0;
  int32_t number = 0;  // 1 to 16, as on the wire

  // What the receive thread knows of the connection it reads, its own:
  // whether the connection was made, when, when bytes last arrived, and
  // whether a text or a picture came on it.
  bool established = false;
  std::chrono::steady_clock::time_point connectedAt{};
  std::chrono::steady_clock::time_point lastReceived{};
  bool textOnConnection = false;
  bool pictureOnConnection = false;
  // Connections in a row that the server closed before sending a byte.
  uint32_t closedWithoutByte = 0;

  // The channel has a connection made to the recorder: false from the
  // moment one fails until the next is made (for other threads to read).
  std::atomic<bool> linked{false};
  // A text message (the INFO text) arrived since the channel was opened.
  std::atomic<bool> answered{false};
  // The recorder closed the channel's connections before any text: it has
  // no such channel. Tried again now and then; cleared by a text.
  std::atomic<bool> absent{false};
  // When a picture was last put into the canvas, or the channel was last
  // resumed (steady clock, milliseconds): how long the screen has shown
  // nothing new of it.
  std::atomic<int64_t> lastPictureMs{0};

  HDC pictureDC = nullptr;
  HDC rotatedDC = nullptr;
  HBITMAP pictureBitmap = nullptr;
  HBITMAP rotatedBitmap = nullptr;

  std::atomic<bool> active{false};  // on screen, stream resumed
  video::H263DecoderHandle decoder;
  uint8_t* picture = nullptr;                // the DecodedFrame behind pictureBitmap
  uint8_t* rotated = nullptr;                // the RotatedFrame behind rotatedBitmap
  std::unique_ptr<uint8_t[]> receiveBuffer;  // kReceiveBufferSize bytes

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

  // Guards `connection` changes and every send on the channel.
  std::mutex lock;
  // Held while the canvas (`picture`, `rotated`) is written, turned,
  // overlaid or copied to the screen, by the receive thread or the UI thread.
  std::mutex canvasLock;
  // The receive thread that reads this channel's socket.
  std::thread receiveThread;

  // INFO line 2, right-aligned in 20 characters, zero-terminated.
  std::array<char, 21> cameraNameCopy() const;
  void setCameraName(const std::array<char, 21>& name);

 private:
  mutable std::mutex nameLock_;
  std::array<char, 21> cameraName_{};
};

struct ViewerState {
  ViewerState();
  ~ViewerState();  // releases the channels' decoders
  ViewerState(const ViewerState&) = delete;
  ViewerState& operator=(const ViewerState&) = delete;

  std::array<ChannelView, kChannelCount> channels;
  std::atomic<ChannelView*> current;
  std::atomic<int32_t> firstShown{0};
  // Units digit: 1 skin view, 2 full-screen view; tens digit: 0 one picture,
  // 1 four pictures; 0 before the first paint.
  std::atomic<int32_t> layoutMode{0};
  std::atomic<int32_t> channelCount{0};
  std::atomic<uint32_t> infoPending{0};
  std::atomic<bool> ptzMode{false};
  std::atomic<bool> connecting{false};
  std::atomic<bool> guestLogin{true};
  std::atomic<int32_t> streamPort{kDefaultStreamPort};

  HDC windowDC = nullptr;

  // Host, account and password of the selected server (16-bit text), and
  // the login as last sent (8-bit text). Read and written under loginLock.
  mutable std::mutex loginLock;
  std::u16string hostText;
  std::u16string accountText;
  std::u16string passwordText;
  std::string wireAccount;
  std::string wirePassword;

  // Raises channelCount to `number` when it is lower.
  void raiseChannelCount(int32_t number);
  // Clears the INFO-pending bit of channel `number` (1 to 16).
  void clearInfoPending(int32_t number);

  // INFO line 3 of the last granting INFO text.
  std::array<char, 21> serverTitleCopy() const;
  void setServerTitle(const std::array<char, 21>& title);

  // Server address and stream port; set by every openChannel and reused by
  // every reconnection.
  sockaddr_in serverAddressCopy() const;
  void setServerAddress(const sockaddr_in& address);

 private:
  mutable std::mutex sharedTextLock_;
  std::array<char, 21> serverTitle_{};
  sockaddr_in serverAddress_{};
};

}  // namespace zenta::stream
