#include "viewer/receive_loop.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "platform/base/files.h"
#include "video/colour/canvas.h"
#include "video/snapshot/jpeg_writer.h"
#include "viewer/time_text.h"

namespace zenta::viewer {

namespace {

using stream::ChannelView;
using stream::ViewState;

constexpr uint8_t kBlankGrey = 0xA0;
constexpr int kSnapshotQuality = 90;

std::string_view withoutLeadingBlanks(const std::array<char, 21>& text) {
  std::string_view view(text.data(), strnlen(text.data(), 20));
  while (!view.empty() && view.front() == ' ')
    view.remove_prefix(1);
  return view;
}

// What a file name may hold: anything but separators, control characters,
// and the characters that some file systems refuse.
void appendNamePart(std::string& out, std::string_view part) {
  for (const char c : part) {
    const auto u = static_cast<unsigned char>(c);
    const bool bad = u < 0x20 || u == 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr;
    out.push_back(bad ? '_' : c);
  }
}

// One channel's thread: what it keeps between messages.
class Receiver {
 public:
  Receiver(stream::StreamSession& session, ChannelView& channel, ChannelDisplay& display)
      : session_(session), state_(session.state()), channel_(channel), display_(display) {}

  void run() {
    if (!session_.logIn(channel_)) return;
    for (;;) {
      stream::MessageHeader header;
      const int read = session_.readHeader(channel_, header);
      if (read == 1) return;
      if (read == -1) continue;
      stamp_ = header.timestamp;
      int handled = 0;
      switch (header.kind) {
        case stream::MessageKind::TimeTick:
          tick();
          break;
        case stream::MessageKind::TextMessage:
          handled = info(header.payloadLength);
          break;
        case stream::MessageKind::VideoFrame:
          handled = frame(header.payloadLength);
          break;
        case stream::MessageKind::Broken:
          break;
      }
      if (handled == 1) return;
    }
  }

 private:
  bool firstOnScreen() const { return channel_.number == state_.firstShown + 1; }

  void drawTime(const StampTexts& texts) {
    display_.drawStatus(std::u16string_view(texts.time.data(), 14), DT_LEFT);
  }

  void tick() {
    if (state_.layoutMode % 10 == 1 && firstOnScreen()) drawTime(formatStamp(stamp_));
  }

  int info(uint32_t length) {
    state_.clearInfoPending(channel_.number);
    bool stored = false;
    const int read = session_.readPayload(channel_, length, stored);
    if (read != 0 || !stored) return read;
    const auto text = stream::parseInfo(channel_.receiveBuffer.get(), length);
    if (!text) return 0;
    channel_.ptzCapable = stream::permitsPtz(text->permission);
    if (stream::grantsViewing(text->permission)) {
      channel_.viewState = ViewState::Granted;
      state_.raiseChannelCount(channel_.number);
      state_.setServerTitle(text->serverTitle);
      channel_.setCameraName(text->cameraName);
    }
    display_.showChannelStatus(channel_.number - 1);
    if (!channel_.active) session_.send(channel_, stream::formatPause(channel_.number));
    return 0;
  }

  void saveSnapshot() {
    const std::string path =
        snapshotPath(state_.serverTitleCopy(), channel_.cameraNameCopy(), lastStamp_.data());
    const auto host = platform::hostPath(path);
    const int h = channel_.shownHeight;
    if (host) {
      video::JpegSnapshotWriter(
          host->c_str(), channel_.picture + size_t(video::kCanvasHeight - h) * video::kCanvasStride,
          video::kCanvasWidth, unsigned(channel_.shownWidth), unsigned(h), kSnapshotQuality);
    }
    channel_.snapshotPending = false;
  }

  // Decodes the payload. A picture the decoder rejects is this platform's
  // fault: the channel gets a fresh decoder, which tries the payload once
  // more, and the frame is dropped if that fails too. A payload that held
  // no picture shows the last picture again. False: nothing to show.
  bool decode(uint32_t length) {
    video::PlanarFrame* out = nullptr;
    const uint8_t* payload = channel_.receiveBuffer.get();
    if (video::h263Decode(channel_.decoder, &out, payload, length) >= 0 && out != nullptr) {
      planes_ = *out;
      return true;
    }
    if (!startsPicture(length)) return havePlanes();
    video::h263Destroy(channel_.decoder);
    channel_.decoder = {};
    planes_ = {};  // they belonged to the decoder just released
    if (video::h263Create(channel_.decoder) != 0) return false;
    if (video::h263Decode(channel_.decoder, &out, payload, length) < 0 || out == nullptr)
      return false;
    planes_ = *out;
    return true;
  }

  // A payload that begins with a picture start code was meant to be a
  // picture; the decoder's -1 for it is a rejection.
  bool startsPicture(uint32_t length) const {
    const uint8_t* p = channel_.receiveBuffer.get();
    return length >= 3 && p[0] == 0 && p[1] == 0 && (p[2] & 0xFC) == 0x80;
  }

  bool havePlanes() const { return planes_.y != nullptr; }

  int frame(uint32_t length) {
    bool stored = false;
    const int read = session_.readPayload(channel_, length, stored);
    if (read != 0 || !stored) return read;
    const auto payloadRead = std::chrono::steady_clock::now();

    if (channel_.snapshotPending) {
      std::lock_guard guard(channel_.canvasLock);
      saveSnapshot();
    }
    // The decoder writes its own planes: the canvas is not held meanwhile.
    if (!decode(length)) return 0;
    std::shared_lock view(display_.viewLock);
    std::lock_guard guard(channel_.canvasLock);
    const int width = channel_.decoder.width, height = channel_.decoder.height;
    if (width != channel_.codedWidth) {
      channel_.codedWidth = int16_t(width);
      channel_.codedHeight = int16_t(height);
      // 368 shows 360 and wider pictures their left 320 columns; a narrower
      // one shows its own width rather than black beside it.
      channel_.shownWidth = int16_t(width == 368 ? 360 : std::min(width, 320));
      channel_.shownHeight = int16_t(height);
    }
    switch (channel_.viewState.load()) {
      case ViewState::Pending:
        std::memset(channel_.picture, kBlankGrey, video::kCanvasBytes);
        channel_.viewState = ViewState::Blanked;
        break;
      case ViewState::Granted:
        video::ConvertPlanarToCanvas(channel_.picture, planes_.y, planes_.cb, planes_.cr,
                                     channel_.codedWidth, channel_.codedHeight, planes_.stride);
        break;
      case ViewState::Blanked:
        break;
    }
    if (!channel_.active) return 0;
    if (draw()) {
      if (const auto hook = display_.shownHook.load()) hook(channel_.number, payloadRead);
    }
    return 0;
  }

  // False when the channel has no place on the screen now.
  bool draw() {
    const int mode = state_.layoutMode;
    const int slot = channel_.number - state_.firstShown - 1;
    const bool four = mode / 10 != 0;
    if (four && (slot < 0 || slot > 3)) return false;
    const StampTexts texts = formatStamp(stamp_);
    lastStamp_ = texts.stamp;
    if (mode % 10 == 1 && !four && state_.ptzMode && channel_.ptzCapable)
      display_.drawPtzPanel(channel_.pictureDC, channel_.shownWidth, channel_.shownHeight);
    display_.showPicture(channel_, mode, four ? slot : 0);
    if (mode % 10 == 1 && (!four || slot == 0)) drawTime(texts);
    return true;
  }

  stream::StreamSession& session_;
  stream::ViewerState& state_;
  ChannelView& channel_;
  ChannelDisplay& display_;
  double stamp_ = 0;
  // The stamp of the picture drawn last, for the snapshot's name.
  std::array<char, 11> lastStamp_ = formatStamp(0).stamp;
  video::PlanarFrame planes_;
};

}  // namespace

std::string snapshotPath(const std::array<char, 21>& serverTitle,
                         const std::array<char, 21>& cameraName, const char* stamp) {
  std::string path = "WebCAM\\";
  appendNamePart(path, withoutLeadingBlanks(serverTitle));
  path.push_back('-');
  appendNamePart(path, withoutLeadingBlanks(cameraName));
  path.push_back('-');
  appendNamePart(path, std::string_view(stamp, strnlen(stamp, 10)));
  path += ".jpg";
  return path;
}

void receiveLoop(stream::StreamSession& session, ChannelView& channel, ChannelDisplay& display) {
  Receiver(session, channel, display).run();
}

}  // namespace zenta::viewer
