#include "bridge/recorder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/base/text.h"
#include "stream/protocol.h"
#include "video/h263/decoder.h"
#include "video/snapshot/jpeg_planes.h"

namespace zenta::bridge {

namespace {

using Clock = std::chrono::steady_clock;

std::string trimmed(const std::array<char, 21>& field) {
  std::string text(field.data(), strnlen(field.data(), 20));
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

}  // namespace

Recorder::Recorder(stream::Login login, RecorderSettings settings)
    : login_(std::move(login)), settings_(settings), session_(settings.session) {
  idleThread_ = std::thread([this] { pauseIdleChannels(); });
}

Recorder::~Recorder() {
  close();
  {
    std::lock_guard guard(idleLock_);
    closing_ = true;
  }
  idleWake_.notify_all();
  if (idleThread_.joinable()) idleThread_.join();
}

bool Recorder::connect() {
  const auto result = session_.connect(login_, *this);
  lastResult_ = result;
  return result == stream::ConnectResult::Connected;
}

void Recorder::cancelConnect() {
  session_.cancelConnect();
}

void Recorder::close() {
  session_.closeAllChannels();
  for (Channel& c : channels_) {
    std::lock_guard guard(c.lock);
    c.arrived.notify_all();
  }
}

// INFO texts say what the channel is; pictures are decoded and encoded
// once, for every client, while somebody watches.
void Recorder::onInfo(stream::Connection& link, const stream::InfoText& info) {
  Channel& c = channels_[size_t(link.number - 1)];
  const bool viewable = stream::grantsViewing(info.permission);
  c.ptz = stream::permitsPtz(info.permission);
  c.viewable = viewable;
  std::lock_guard guard(c.lock);
  c.name = trimmed(info.cameraName);
  c.answered = true;
  // A (re)connected channel starts afresh: nothing kept from before.
  c.sinceIntra.clear();
  c.sinceIntraBytes = 0;
  // Nobody watching, it is paused (by the session, after this); one
  // watched before the login could view it streams for its watchers.
  if (!c.resumed && c.watchers > 0 && viewable) {
    c.resumed = true;
    link.active = true;
  }
}

void Recorder::onState(stream::Connection& link, stream::LinkState state) {
  if (state == stream::LinkState::Opened) {
    Channel& c = channels_[size_t(link.number - 1)];
    c.viewable = false;
    c.ptz = false;
    c.decoder.reset();
    std::lock_guard guard(c.lock);
    c.answered = false;
  }
}

bool Recorder::onPicture(stream::Connection& link, std::span<const uint8_t> payload,
                         double recorderStamp) {
  Channel& c = channels_[size_t(link.number - 1)];
  if (!c.viewable) return false;
  const auto arrived = Clock::now();
  // Only pictures our decoder takes go on, from the start code it took
  // them at: a player fed a payload that is no picture can crash or
  // stall, and nothing predicts from a rejected one.
  const auto decoded = c.decoder.decode(payload);
  if (!decoded) return false;
  const double stamp = std::isfinite(recorderStamp) ? recorderStamp : 0.0;
  keepCoded(c, payload.data() + decoded->offset, payload.size() - decoded->offset, stamp, arrived);
  bool jpeg = false;
  {
    std::lock_guard guard(c.lock);
    c.width = decoded->width;
    c.height = decoded->height;
    c.lastPicture = std::chrono::system_clock::now();
    c.recent.push_back(arrived);
    std::erase_if(c.recent,
                  [&](Clock::time_point t) { return arrived - t > std::chrono::seconds(2); });
    jpeg = c.jpegWatchers > 0;
  }
  {
    std::lock_guard any(anyLock_);
    ++pictures_;
  }
  anyPicture_.notify_all();
  // A JPEG is made only while a client takes them: players of the coded
  // pictures alone cost no encoding.
  if (!jpeg) return true;
  auto picture = std::make_shared<Picture>();
  picture->width = decoded->width;
  picture->height = decoded->height;
  picture->read = arrived;
  picture->stamp = stamp;
  if (!video::JpegOfPlanes(*decoded->planes, picture->width, picture->height, settings_.jpegQuality,
                           picture->jpeg)) {
    return true;  // decoded all the same: the channel has its signal
  }
  std::lock_guard guard(c.lock);
  picture->serial = c.latest ? c.latest->serial + 1 : 1;
  c.latest = std::move(picture);
  c.arrived.notify_all();
  return true;
}

// The pictures since the last intra one are kept (within a bound: a
// stream without intra pictures keeps nothing) and go to the listeners,
// outside the channel's lock; the delivery lock keeps them in order with
// a new listener's backlog and with stopListening.
void Recorder::keepCoded(Channel& c, const uint8_t* data, size_t length, double stamp,
                         Clock::time_point arrived) {
  constexpr size_t kMostKept = 8 << 20;
  auto coded = std::make_shared<Coded>();
  coded->payload.assign(data, data + length);
  coded->stamp = stamp;
  coded->arrived = arrived;
  coded->intra = video::h263PictureType(data, length) == 1;
  std::lock_guard delivering(c.deliveryLock);
  std::vector<std::pair<int, std::shared_ptr<CodedListener>>> listeners;
  {
    std::lock_guard guard(c.lock);
    if (coded->intra) {
      c.sinceIntra.clear();
      c.sinceIntraBytes = 0;
    }
    if (!c.sinceIntra.empty() || coded->intra) {
      c.sinceIntraBytes += length;
      if (c.sinceIntraBytes > kMostKept) {
        c.sinceIntra.clear();
        c.sinceIntraBytes = 0;
      } else {
        c.sinceIntra.push_back(coded);
      }
    }
    listeners = c.listeners;
  }
  for (const auto& [id, listener] : listeners)
    (*listener)(coded);
}

int Recorder::listen(int number, CodedListener listener) {
  if (number < 1 || number > stream::kChannelCount) return 0;
  Channel& c = channels_[size_t(number - 1)];
  auto shared = std::make_shared<CodedListener>(std::move(listener));
  // No live picture can overtake the backlog: the receive thread waits for
  // the delivery lock.
  std::lock_guard delivering(c.deliveryLock);
  std::vector<std::shared_ptr<const Coded>> since;
  int id = 0;
  {
    std::lock_guard guard(c.lock);
    since = c.sinceIntra;
    id = c.nextListener++;
    c.listeners.emplace_back(id, shared);
  }
  for (const auto& coded : since)
    (*shared)(coded);
  return id;
}

void Recorder::stopListening(int number, int id) {
  if (number < 1 || number > stream::kChannelCount) return;
  Channel& c = channels_[size_t(number - 1)];
  // Once this returns no delivery to the listener is under way.
  std::lock_guard delivering(c.deliveryLock);
  std::lock_guard guard(c.lock);
  std::erase_if(c.listeners, [&](const auto& l) { return l.first == id; });
}

uint64_t Recorder::waitForAnyPicture(uint64_t seen, std::chrono::milliseconds limit) {
  std::unique_lock guard(anyLock_);
  anyPicture_.wait_for(guard, limit, [&] { return pictures_ != seen || closing_.load(); });
  return pictures_;
}

ChannelFacts Recorder::facts(int number) const {
  ChannelFacts f;
  f.number = number;
  if (number < 1 || number > stream::kChannelCount) return f;
  const stream::Connection& link = session_.channel(number);
  const Channel& c = channels_[size_t(number - 1)];
  bool resumed = false;
  {
    std::lock_guard guard(c.lock);
    f.answered = c.answered;
    f.name = c.name;
    f.lastPicture = c.lastPicture;
    resumed = c.resumed;
    f.width = c.width;
    f.height = c.height;
    const auto now = Clock::now();
    const auto n = std::count_if(c.recent.begin(), c.recent.end(), [&](Clock::time_point t) {
      return now - t <= std::chrono::seconds(2);
    });
    f.picturesPerSecond = double(n) / 2.0;
  }
  f.viewable = c.viewable;
  f.ptz = f.viewable && c.ptz;
  if (link.absent) {
    f.status = ChannelStatus::Absent;
  } else if (link.socket == stream::kNoConnection || !link.linked || !link.answered) {
    f.status = ChannelStatus::Connecting;
  } else if (!f.viewable) {
    f.status = ChannelStatus::Refused;
  } else if (!resumed) {
    f.status = ChannelStatus::Paused;
  } else {
    const int64_t since = stream::steadyMilliseconds() - link.lastPictureMs;
    f.status =
        since > settings_.noSignalAfter.count() ? ChannelStatus::NoSignal : ChannelStatus::Live;
  }
  return f;
}

std::string Recorder::host() const {
  return platform::toUtf8(login_.host);
}

std::vector<ChannelFacts> Recorder::channels() const {
  std::vector<ChannelFacts> all;
  for (int n = 1; n <= stream::kChannelCount; ++n)
    all.push_back(facts(n));
  return all;
}

Recorder::Watch::Watch(Recorder& recorder, int number, Takes takes)
    : recorder_(recorder), number_(number), takes_(takes) {
  recorder_.watch(number_, +1, takes_);
}

Recorder::Watch::~Watch() {
  recorder_.watch(number_, -1, takes_);
}

void Recorder::watch(int number, int change, Takes takes) {
  if (number < 1 || number > stream::kChannelCount) return;
  Channel& c = channels_[size_t(number - 1)];
  // A channel the login may not view is never resumed: the recorder would
  // refuse it anyway, and it is not the bridge's to ask.
  const bool viewable = c.viewable && !session_.channel(number).absent;
  // The command goes out under the channel's lock (a send never blocks), so
  // the recorder gets pauses and resumes in the order the bridge decided
  // them: a resume overtaken by an older pause would leave the channel
  // paused while clients wait for it.
  std::lock_guard guard(c.lock);
  c.watchers += change;
  if (takes == Takes::Jpeg) c.jpegWatchers += change;
  if (c.watchers == 0) c.lastLeft = Clock::now();
  if (c.watchers > 0 && !c.resumed && viewable) {
    c.resumed = true;
    session_.resume(number);
  }
}

// Pauses, a little after the last client left, every channel nobody
// watches; a client that comes straight back finds it still streaming.
void Recorder::pauseIdleChannels() {
  std::unique_lock wait(idleLock_);
  while (!closing_) {
    idleWake_.wait_for(wait, std::chrono::milliseconds(200));
    const auto now = Clock::now();
    for (int n = 1; n <= stream::kChannelCount; ++n) {
      Channel& c = channels_[size_t(n - 1)];
      std::lock_guard guard(c.lock);
      if (!c.resumed || c.watchers != 0 || now - c.lastLeft < settings_.pauseAfter) continue;
      c.resumed = false;
      // What was kept dates from before the pause: a client of the
      // paused channel starts at its first live intra picture instead.
      c.sinceIntra.clear();
      c.sinceIntraBytes = 0;
      session_.pause(n);
    }
  }
}

std::shared_ptr<const Picture> Recorder::pictureAfter(int number, uint64_t after,
                                                      std::chrono::milliseconds limit) {
  if (number < 1 || number > stream::kChannelCount) return nullptr;
  Channel& c = channels_[size_t(number - 1)];
  std::unique_lock guard(c.lock);
  c.arrived.wait_for(guard, limit,
                     [&] { return (c.latest && c.latest->serial > after) || closing_.load(); });
  if (c.latest && c.latest->serial > after) return c.latest;
  return nullptr;
}

bool Recorder::steer(int number, std::string_view word) {
  if (number < 1 || number > stream::kChannelCount) return false;
  const Channel& c = channels_[size_t(number - 1)];
  if (!c.viewable || !c.ptz) return false;
  session_.sendCameraCommand(number, word);
  return true;
}

}  // namespace zenta::bridge
