// The bridge's link to one recorder: its sixteen channel connections, each
// channel's latest picture (decoded once, encoded once as a JPEG, shared
// with every client), what the recorder said of each channel, and the
// demand that keeps a channel streaming only while somebody watches it.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "stream/channel_sink.h"
#include "stream/report.h"
#include "stream/session.h"
#include "video/h263/picture_decoder.h"

namespace zenta::bridge {

// One picture as the clients get it.
struct Picture {
  uint64_t serial = 0;  // counts up per channel
  std::vector<uint8_t> jpeg;
  int width = 0, height = 0;
  std::chrono::steady_clock::time_point read;  // when its last byte came
  double stamp = 0;  // the recorder's: days since 1899-12-30, its local time
};

// One coded picture as the recorder sent it, for the clients that take
// H.263 itself (RTSP).
struct Coded {
  std::vector<uint8_t> payload;
  double stamp = 0;                               // the recorder's: days since 1899-12-30 (finite)
  std::chrono::steady_clock::time_point arrived;  // when its last byte came
  bool intra = false;
};
using CodedListener = std::function<void(const std::shared_ptr<const Coded>&)>;

using ChannelStatus = stream::ChannelState;

struct ChannelFacts {
  int number = 0;
  bool answered = false;  // the recorder's INFO text came: name and permission are known
  std::string name;       // the camera's, as the recorder gave it (blanks trimmed)
  bool viewable = false;
  bool ptz = false;
  int width = 0, height = 0;  // of the last picture; 0 before one
  double picturesPerSecond = 0;
  ChannelStatus status = ChannelStatus::Connecting;
  // When the last picture came (this machine's clock); none before one.
  std::optional<std::chrono::system_clock::time_point> lastPicture;
};

struct RecorderSettings {
  stream::SessionSettings session;
  // A channel nobody watches any more is paused after this.
  std::chrono::milliseconds pauseAfter{1000};
  // A streaming channel without a new picture for this long has no signal.
  std::chrono::milliseconds noSignalAfter{3000};
  int jpegQuality = 80;
};

class Recorder : private stream::ChannelSink {
 public:
  // The recorder named by `login.host` (host[:http-port]), with its account.
  Recorder(stream::Login login, RecorderSettings settings = {});
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Logs in on all sixteen channels (every one paused until watched). False
  // when the recorder cannot be reached; the channels are closed then.
  bool connect();
  // Why the last connect failed.
  stream::ConnectResult lastConnectResult() const { return lastResult_; }
  // Resumes and closes every channel.
  void close();
  // From any thread: a connect under way gives up at once (it returns false).
  void cancelConnect();

  std::vector<ChannelFacts> channels() const;
  ChannelFacts facts(int number) const;  // number 1 to 16
  // The recorder's host text (host[:http-port]), UTF-8.
  std::string host() const;

  // What a watcher takes: JPEG pictures (made only while somebody takes
  // them), or the coded pictures alone.
  enum class Takes { Jpeg, Coded };

  // Held while a client watches a channel: the first holder resumes it,
  // the channel is paused pauseAfter after the last one lets go.
  class Watch {
   public:
    Watch(Recorder& recorder, int number, Takes takes = Takes::Jpeg);
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

   private:
    Recorder& recorder_;
    int number_;
    Takes takes_;
  };

  // The channel's latest picture, or one newer than `after`, waiting at
  // most `limit`; nothing when none came in time.
  std::shared_ptr<const Picture> pictureAfter(int number, uint64_t after,
                                              std::chrono::milliseconds limit);
  // Hands `listener` the pictures since the last intra one (so a new
  // client starts whole), then every coded picture of the channel from now
  // on, in order (on the receive thread: it must not block). Returns an id
  // for stopListening, after which it is called no more.
  int listen(int number, CodedListener listener);
  void stopListening(int number, int id);

  // Counts every picture of every channel; waits until it passes `seen`
  // (at most `limit`) and returns it.
  uint64_t waitForAnyPicture(uint64_t seen, std::chrono::milliseconds limit);
  // Sends a camera command word on a channel that may be steered.
  bool steer(int number, std::string_view word);

 private:
  struct Channel {
    mutable std::mutex lock;
    std::condition_variable arrived;
    std::shared_ptr<const Picture> latest;
    std::string name;
    std::vector<std::chrono::steady_clock::time_point> recent;  // picture times, 2 s
    int watchers = 0;                                           // under lock
    int jpegWatchers = 0;       // the watchers that take JPEG pictures; under lock
    int width = 0, height = 0;  // of the last picture decoded; under lock
    bool answered = false;      // since the channel was last opened; under lock
    std::optional<std::chrono::system_clock::time_point> lastPicture;  // under lock
    std::chrono::steady_clock::time_point lastLeft;
    bool resumed = false;  // under lock
    std::vector<std::shared_ptr<const Coded>> sinceIntra;
    size_t sinceIntraBytes = 0;
    std::vector<std::pair<int, std::shared_ptr<CodedListener>>> listeners;
    int nextListener = 1;
    // Held while coded pictures are handed to listeners (never the channel
    // lock, which GStreamer's calls must not wait behind).
    std::mutex deliveryLock;
    // What the recorder's INFO text said.
    std::atomic<bool> viewable{false};
    std::atomic<bool> ptz{false};
    // The receive thread's own; its size limit holds across reconnections.
    video::PictureDecoder decoder{video::kRecorderMaxPixels};
  };
  void keepCoded(Channel& c, const uint8_t* data, size_t length, double stamp,
                 std::chrono::steady_clock::time_point arrived);

  // The sink: the channels' receive threads call these.
  void onInfo(stream::Connection& link, const stream::InfoText& info) override;
  bool onPicture(stream::Connection& link, std::span<const uint8_t> payload, double stamp) override;
  void onState(stream::Connection& link, stream::LinkState state) override;
  void watch(int number, int change, Takes takes);
  void pauseIdleChannels();

  stream::Login login_;
  RecorderSettings settings_;
  std::array<Channel, stream::kChannelCount> channels_;
  stream::StreamSession session_;
  std::atomic<stream::ConnectResult> lastResult_{stream::ConnectResult::Unreachable};
  std::atomic<bool> closing_{false};
  std::mutex anyLock_;
  std::condition_variable anyPicture_;
  uint64_t pictures_ = 0;  // under anyLock_
  std::mutex idleLock_;
  std::condition_variable idleWake_;
  std::thread idleThread_;
};

}  // namespace zenta::bridge
