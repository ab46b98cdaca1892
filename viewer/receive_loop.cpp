#include "viewer/receive_loop.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "platform/base/files.h"
#include "video/colour/canvas.h"
#include "video/h263/stream_split.h"
#include "video/snapshot/jpeg_writer.h"
#include "viewer/time_text.h"

namespace zenta::viewer {

namespace {

using stream::ChannelView;
using stream::ViewState;

constexpr uint8_t kBlankGrey = 0xA0;
constexpr int kSnapshotQuality = 90;
constexpr int64_t kMinDrawIntervalMs = 15;

std::string_view withoutLeadingBlanks(const std::array<char, 21>& text) {
  std::string_view view(text.data(), strnlen(text.data(), 20));
  while (!view.empty() && view.front() == ' ')
    view.remove_prefix(1);
  return view;
}

// What a file name may hold: anything but separators, control characters
// (C0, DEL and C1: the name's bytes are Latin-1 characters), and the
// characters that some file systems refuse.
void appendNamePart(std::string& out, std::string_view part) {
  for (const char c : part) {
    const auto u = static_cast<unsigned char>(c);
    const bool bad =
        u < 0x20 || (u >= 0x7F && u <= 0x9F) || std::strchr("\\/:*?\"<>|", c) != nullptr;
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

  // The time is drawn when its text changes, and again a second later at
  // most (the line may have been cleared meanwhile): a recorder that sends
  // ticks or pictures by the thousand costs no more than one a second.
  void drawTime(const StampTexts& texts) {
    const int64_t now = stream::steadyMilliseconds();
    if (texts.time == lastTime_ && now - lastTimeDrawnMs_ < 1000) return;
    lastTime_ = texts.time;
    lastTimeDrawnMs_ = now;
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
    channel_.snapshotPending = false;
    const bool saved = writeSnapshot(path);
    // The file's name in the status line for two seconds, or the failure.
    std::u16string notice = saved ? u"Saved " : u"Snapshot not saved: ";
    for (const char c : std::string_view(path).substr(path.rfind('\\') + 1))
      notice.push_back(char16_t(static_cast<unsigned char>(c)));
    display_.showNotice(notice, saved ? kStatusTextColour : kAlertColour, 2000);
  }

  bool writeSnapshot(const std::string& path) {
    const auto host = platform::hostPath(path);
    if (!host) return false;
    if (channel_.scaledToFit && channel_.viewState == ViewState::Granted && havePlanes()) {
      // The canvas holds the picture scaled down: the file gets it whole,
      // converted afresh from the decoder's planes at its own size.
      return video::JpegSnapshotOfPicture(host->c_str(), planes_, pictureWidth_, pictureHeight_,
                                          kSnapshotQuality) == 1;
    }
    const int h = std::min<int>(channel_.shownHeight, video::kCanvasHeight);
    return video::JpegSnapshotWriter(
               host->c_str(),
               channel_.picture + size_t(video::kCanvasHeight - h) * video::kCanvasStride,
               video::kCanvasWidth, unsigned(channel_.shownWidth), unsigned(h),
               kSnapshotQuality) == 1;
  }

  // Decodes the payload, resynchronising at a later start code after a
  // rejected picture. A payload that holds no picture start code shows the
  // last picture again. False: nothing to show.
  bool decode(uint32_t length) {
    video::PlanarFrame* out = nullptr;
    const auto found =
        video::decodeFirstPicture(channel_.decoder, &out, channel_.receiveBuffer.get(), length);
    freshPicture_ = found.offset >= 0;
    if (found.offset < 0) return !found.sawStart && havePlanes();
    planes_ = *out;
    pictureWidth_ = channel_.decoder.width;
    pictureHeight_ = channel_.decoder.height;
    return true;
  }

  bool havePlanes() const { return planes_.y != nullptr; }

  // Sizes of the picture shown: a picture larger than the canvas goes into
  // it scaled down whole; a 368-wide one shows 360 columns and a wider one
  // its left 320; a narrower one its own width rather than black beside it.
  void takeSize(int width, int height, int factor) {
    channel_.codedWidth = int16_t(width);
    channel_.codedHeight = int16_t(height);
    if (factor > 1) {
      channel_.shownWidth = int16_t((width / factor) & ~1);
      channel_.shownHeight = int16_t((height / factor) & ~1);
    } else {
      channel_.shownWidth = int16_t(width == 368 ? 360 : std::min(width, 320));
      channel_.shownHeight = int16_t(height);
    }
    channel_.scaledToFit = factor > 1;
  }

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
    const int width = pictureWidth_, height = pictureHeight_;
    const int factor = video::canvasScaleFactor(width, height);
    const bool granted = channel_.viewState == ViewState::Granted;
    // A channel off screen draws nothing, and one on screen at most once a
    // display refresh: a recorder that floods pictures (or ignores a
    // pause) costs its decoding, never the screen's time.
    const int64_t now = stream::steadyMilliseconds();
    // Only a picture decoded anew tells that the channel has a signal.
    if (freshPicture_) channel_.lastPictureMs = now;
    if (granted && (!channel_.active || now - lastDrawnMs_ < kMinDrawIntervalMs)) return 0;
    lastDrawnMs_ = now;
    if (granted && factor > 1) {
      video::scalePlanesDown(scaled_, planes_.y, planes_.cb, planes_.cr, width, height,
                             planes_.stride, factor);
    }
    std::shared_lock view(display_.viewLock);
    std::lock_guard guard(channel_.canvasLock);
    takeSize(width, height, factor);
    switch (channel_.viewState.load()) {
      case ViewState::Pending:
        std::memset(channel_.picture, kBlankGrey, video::kCanvasBytes);
        channel_.viewState = ViewState::Blanked;
        break;
      case ViewState::Granted:
        if (factor > 1) {
          video::ConvertPlanarToCanvas(channel_.picture, scaled_.y(), scaled_.cb(), scaled_.cr(),
                                       scaled_.width, scaled_.height, scaled_.width);
        } else {
          video::ConvertPlanarToCanvas(channel_.picture, planes_.y, planes_.cb, planes_.cr, width,
                                       height, planes_.stride);
        }
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
    display_.showPicture(channel_, mode, four ? slot : 0);
    if (mode % 10 == 1 && (!four || slot == 0)) drawTime(texts);
    return true;
  }

  stream::StreamSession& session_;
  stream::ViewerState& state_;
  ChannelView& channel_;
  ChannelDisplay& display_;
  double stamp_ = 0;
  std::array<char16_t, 15> lastTime_{};
  int64_t lastTimeDrawnMs_ = 0;
  // When the canvas was last drawn on the screen.
  int64_t lastDrawnMs_ = 0;
  // The payload last read held a picture that the decoder took.
  bool freshPicture_ = false;
  // The stamp of the picture drawn last, for the snapshot's name.
  std::array<char, 11> lastStamp_ = formatStamp(0).stamp;
  // The picture the decoder returned last, and its size.
  video::PlanarFrame planes_;
  int pictureWidth_ = 0, pictureHeight_ = 0;
  // It scaled down, when it is larger than the canvas.
  video::ScaledPlanes scaled_;
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
