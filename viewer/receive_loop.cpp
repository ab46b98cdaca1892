#include "viewer/receive_loop.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "platform/base/files.h"
#include "video/colour/canvas.h"
#include "video/h263/picture_decoder.h"
#include "video/snapshot/jpeg_writer.h"
#include "viewer/time_text.h"

namespace zenta::viewer {

namespace {

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

// A snapshot's name that no file has yet: a second picture of a camera
// within the same second gets "-2", then "-3", ... and never replaces one.
std::string freeSnapshotPath(const std::string& path) {
  const auto taken = [](const std::string& name) {
    const auto host = platform::hostPath(name);
    std::error_code ignored;
    return host && std::filesystem::exists(*host, ignored);
  };
  if (!taken(path)) return path;
  const std::string stem = path.substr(0, path.size() - 4);  // without ".jpg"
  for (int n = 2; n < 1000; ++n) {
    const std::string next = stem + "-" + std::to_string(n) + ".jpg";
    if (!taken(next)) return next;
  }
  return path;
}

}  // namespace

// One channel's receiver: what its thread keeps between messages.
class DisplaySink::Receiver {
 public:
  Receiver(ViewerState& state, ChannelView& channel, ChannelDisplay& display)
      : state_(state), channel_(channel), display_(display) {}

  void tick(double stamp) {
    stamp_ = stamp;
    if (state_.layoutMode % 10 == 1 && firstOnScreen()) drawTime(formatStamp(stamp_));
  }

  void info(const stream::InfoText& text) {
    channel_.ptzCapable = stream::permitsPtz(text.permission);
    if (stream::grantsViewing(text.permission)) {
      channel_.viewState = ViewState::Granted;
      state_.raiseChannelCount(channel_.number);
      state_.setServerTitle(text.serverTitle);
      channel_.setCameraName(text.cameraName);
    }
    display_.showChannelStatus(channel_.number - 1);
  }

  // A new stream: the channel was opened in a connect sequence.
  void opened() {
    channel_.snapshotPending = false;
    channel_.viewState = ViewState::Pending;
    decoder_.reset();
    planes_ = {};
  }

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

  void saveSnapshot() {
    const std::string path = freeSnapshotPath(
        snapshotPath(state_.serverTitleCopy(), channel_.cameraNameCopy(), lastStamp_.data()));
    channel_.snapshotPending = false;
    errno = 0;
    const bool saved = writeSnapshot(path);
    // The file's name in the status line for two seconds, or the failure
    // and why (the name would not fit beside it).
    std::u16string notice;
    if (saved) {
      notice = u"Saved ";
      for (const char c : std::string_view(path).substr(path.rfind('\\') + 1))
        notice.push_back(char16_t(static_cast<unsigned char>(c)));
    } else {
      notice = u"Snapshot not saved: ";
      notice += errno == EACCES || errno == EPERM     ? u"no permission"
                : errno == ENOSPC || errno == EDQUOT  ? u"disk full"
                : errno == EROFS                      ? u"read-only"
                : errno == ENOTDIR || errno == ENOENT ? u"no folder"
                                                      : u"write failed";
    }
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
  bool decode(std::span<const uint8_t> payload) {
    bool sawStart = false;
    const auto decoded = decoder_.decode(payload, &sawStart);
    freshPicture_ = decoded.has_value();
    if (!decoded) return !sawStart && havePlanes();
    planes_ = *decoded->planes;
    pictureWidth_ = decoded->width;
    pictureHeight_ = decoded->height;
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
      channel_.shownWidth = int16_t(video::shownColumns(width));
      channel_.shownHeight = int16_t(height);
    }
    channel_.scaledToFit = factor > 1;
  }

  // True when the payload brought a picture decoded anew: only that tells
  // that the channel has a signal.
  bool frame(std::span<const uint8_t> payload, double stamp) {
    stamp_ = stamp;
    const auto payloadRead = std::chrono::steady_clock::now();

    if (channel_.snapshotPending) {
      std::lock_guard guard(channel_.canvasLock);
      saveSnapshot();
    }
    // The decoder writes its own planes: the canvas is not held meanwhile.
    if (!decode(payload)) return false;
    const int width = pictureWidth_, height = pictureHeight_;
    const int factor = video::canvasScaleFactor(width, height);
    const bool granted = channel_.viewState == ViewState::Granted;
    // A channel off screen draws nothing, and one on screen at most once a
    // display refresh: a recorder that floods pictures (or ignores a
    // pause) costs its decoding, never the screen's time.
    const int64_t now = stream::steadyMilliseconds();
    if (granted && (!channel_.link->active || now - lastDrawnMs_ < kMinDrawIntervalMs)) {
      return freshPicture_;
    }
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
    if (!channel_.link->active) return freshPicture_;
    if (draw()) {
      if (const auto hook = display_.shownHook.load()) hook(channel_.number, payloadRead);
    }
    return freshPicture_;
  }

 private:
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

  ViewerState& state_;
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
  video::PictureDecoder decoder_;
};

DisplaySink::DisplaySink(ViewerState& state, ChannelDisplay& display) {
  for (size_t i = 0; i < receivers_.size(); ++i)
    receivers_[i] = std::make_unique<Receiver>(state, state.channels[i], display);
}

DisplaySink::~DisplaySink() = default;

void DisplaySink::onInfo(stream::Connection& channel, const stream::InfoText& info) {
  receivers_[size_t(channel.number - 1)]->info(info);
}

bool DisplaySink::onPicture(stream::Connection& channel, std::span<const uint8_t> payload,
                            double stamp) {
  return receivers_[size_t(channel.number - 1)]->frame(payload, stamp);
}

void DisplaySink::onTick(stream::Connection& channel, double stamp) {
  receivers_[size_t(channel.number - 1)]->tick(stamp);
}

void DisplaySink::onState(stream::Connection& channel, stream::LinkState state) {
  if (state == stream::LinkState::Opened) receivers_[size_t(channel.number - 1)]->opened();
}

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

}  // namespace zenta::viewer
