// One thread a connection. A stream connection names its channel, logs in
// (or, from an address that logged in on that channel before, resumes
// without a login), gets the INFO text and then pictures at the channel's
// rate and a time tick every second, while it reads pause, resume and camera
// commands. Pictures are paced by the clock: when the client has not taken
// the last one yet, the next is skipped (never coded), so a slow client gets
// fewer pictures, a picture stream that still decodes, and no queue.
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "sim/encoder.h"
#include "sim/server.h"
#include "sim/wall_clock.h"
#include "stream/protocol.h"

namespace zenta::sim {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using stream::ClientCommand;

constexpr size_t kMaxLine = 512;               // longer lines are no command
constexpr size_t kMaxQueuedSmall = 64 * 1024;  // ticks and texts waiting at most
constexpr size_t kOversizePayload = 200000;    // beyond the viewer's 158,976-byte buffer
constexpr size_t kNoiseLength = 4000;
constexpr int kMaxUnknownLogged = 100;
constexpr auto kRequestLimit = 30s;  // for the channel request after connecting
constexpr auto kLoginGrace = 250ms;  // for a login after the channel request
constexpr auto kWriteLimit = 60s;    // without any byte taken by the client

std::string printable(std::string_view line) {
  return std::string(line.substr(0, 100));
}

class StreamConnection {
 public:
  StreamConnection(Server& server, int fd, std::string address, uint64_t id)
      : server_(server), log_(server.log()), fd_(fd), address_(std::move(address)), id_(id) {}

  void run();

 private:
  enum class Phase { AwaitRequest, AwaitLogin, Streaming };

  bool readInput();
  void handleLine(std::string_view line);
  void onRequest(const ClientCommand& command);
  void onLogin(const ClientCommand& command);
  void resumeOrRefuse();
  void startStreaming();
  void onCredentials(const ClientCommand& command);
  void sendInfo();
  void sendTick();
  void pictureDue(Clock::time_point now);
  void producePicture(int64_t slot);
  bool renderAndEncode(int64_t slot);
  void queue(double stamp, int32_t lengthCode, const uint8_t* payload, size_t length);
  size_t pending() const { return out_.size() - sent_; }
  // Bytes in the kernel's send queue that it could not send yet: the
  // client's receive window is full, it is not keeping up.
  int unsent() const {
    int bytes = 0;
    return ::ioctl(fd_, SIOCOUTQNSD, &bytes) == 0 ? bytes : 0;
  }
  bool flush();
  void end(std::string_view reason) {
    if (ending_.empty()) ending_ = std::string(reason);
  }
  const Fault* fault(FaultKind kind) const;
  bool fireOnce(FaultKind kind);
  void logFault(FaultKind kind);
  void logUnknown(std::string_view line, std::string_view reason);

  Server& server_;
  EventLog& log_;
  int fd_;
  std::string address_;
  uint64_t id_;

  Phase phase_ = Phase::AwaitRequest;
  std::string ending_;
  int channel_ = 0;
  ChannelRuntime* runtime_ = nullptr;
  std::string account_;
  char permission_ = '3';
  bool paused_ = false;
  bool stalled_ = false;
  bool forceIntra_ = true;
  std::string pendingWord_;
  int unknownLogged_ = 0;

  std::string line_;
  bool skippingLine_ = false;
  std::vector<uint8_t> out_;
  size_t sent_ = 0;
  Clock::time_point lastProgress_ = Clock::now();

  Clock::time_point requestDeadline_ = Clock::now() + kRequestLimit;
  Clock::time_point loginDeadline_{};
  Clock::time_point nextTick_{};
  Clock::time_point firstSlot_{};
  Clock::duration interval_{};
  int64_t nextSlot_ = 0;
  int picturesSent_ = 0;
  int picturesDropped_ = 0;
  std::vector<FaultKind> fired_;

  std::unique_ptr<PictureEncoder> encoder_;
  YuvImage picture_;
  YuvImage filePicture_;
  std::vector<int> columns_;
  std::vector<uint8_t> coded_;
};

void StreamConnection::run() {
  while (ending_.empty() && !server_.stopping()) {
    const auto now = Clock::now();
    if (phase_ == Phase::AwaitRequest && now >= requestDeadline_) {
      log_.write("refused", {{"connection", id_}, {"reason", "no channel request"}});
      end("no channel request");
      break;
    }
    if (phase_ == Phase::AwaitLogin && now >= loginDeadline_) resumeOrRefuse();
    if (phase_ == Phase::Streaming) {
      if (now >= nextTick_) sendTick();
      pictureDue(now);
    }
    if (pending() > 0 && now - lastProgress_ > kWriteLimit) end("client not reading");
    if (!ending_.empty()) break;

    // Sleep until the next thing is due, input arrives or the server stops.
    Clock::time_point wake = now + 1s;
    if (phase_ == Phase::AwaitRequest) wake = std::min(wake, requestDeadline_);
    if (phase_ == Phase::AwaitLogin) wake = std::min(wake, loginDeadline_);
    if (phase_ == Phase::Streaming) {
      wake = std::min(wake, nextTick_);
      wake = std::min(wake, fault(FaultKind::Flood) && !paused_ && pending() == 0
                                ? now + 1ms
                                : firstSlot_ + nextSlot_ * interval_);
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
    pollfd waiting[2] = {{fd_, static_cast<short>(POLLIN | (pending() > 0 ? POLLOUT : 0)), 0},
                         {server_.wakeDescriptor(), POLLIN, 0}};
    const int ready =
        ::poll(waiting, 2, static_cast<int>(std::clamp<int64_t>(wait.count(), 0, 1000)));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if (waiting[1].revents & POLLIN) break;
    if (waiting[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      if (!readInput()) end("closed by the client");
    }
    if (ending_.empty() && pending() > 0 && !flush()) end("send failed");
  }
  // Whatever was queued before a fault closes the connection goes out first.
  const auto limit = Clock::now() + 2s;
  while (pending() > 0 && Clock::now() < limit && !server_.stopping() &&
         ending_.rfind("fault", 0) == 0) {
    pollfd waiting{fd_, POLLOUT, 0};
    if (::poll(&waiting, 1, 100) < 0 || !flush()) break;
  }
  log_.write("disconnect",
             {{"connection", id_},
              {"channel", channel_},
              {"reason", server_.stopping() && ending_.empty() ? "shutdown" : ending_},
              {"pictures", picturesSent_},
              {"dropped", picturesDropped_}});
}

bool StreamConnection::readInput() {
  char buffer[4096];
  for (int round = 0; round < 16; ++round) {
    const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got == 0) return false;
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    for (ssize_t i = 0; i < got && ending_.empty(); ++i) {
      const char c = buffer[i];
      if (c == '\n') {
        if (!skippingLine_) {
          std::string_view line = line_;
          if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
          handleLine(line);
        }
        skippingLine_ = false;
        line_.clear();
      } else if (skippingLine_) {
        continue;
      } else if (line_.size() >= kMaxLine) {
        logUnknown(line_, "line too long");
        line_.clear();
        skippingLine_ = true;
      } else {
        line_.push_back(c);
      }
    }
  }
  return true;
}

void StreamConnection::logUnknown(std::string_view line, std::string_view reason) {
  if (unknownLogged_ > kMaxUnknownLogged) return;
  if (++unknownLogged_ > kMaxUnknownLogged) {
    log_.write("unknown", {{"connection", id_}, {"reason", "further lines not logged"}});
    return;
  }
  log_.write(
      "unknown",
      {{"connection", id_}, {"channel", channel_}, {"line", printable(line)}, {"reason", reason}});
}

void StreamConnection::handleLine(std::string_view line) {
  const ClientCommand command = stream::parseCommand(line);
  using Kind = ClientCommand::Kind;
  if (phase_ == Phase::AwaitRequest) {
    if (command.kind == Kind::Connect)
      onRequest(command);
    else
      logUnknown(line, "expected the channel request");
    return;
  }
  if (command.kind == Kind::Unknown) {
    logUnknown(line, "not a command");
    return;
  }
  if (command.kind == Kind::Connect) {
    logUnknown(line, "channel already requested");
    return;
  }
  if (command.channel != channel_) {
    logUnknown(line, "for another channel");
    return;
  }
  if (command.kind == Kind::Login) {
    onLogin(command);
    return;
  }
  // Anything else right after the channel request: a viewer that reconnects.
  if (phase_ == Phase::AwaitLogin) resumeOrRefuse();
  if (phase_ != Phase::Streaming) return;

  switch (command.kind) {
    case Kind::Pause:
      if (fault(FaultKind::IgnorePause)) {
        if (fireOnce(FaultKind::IgnorePause)) logFault(FaultKind::IgnorePause);
        break;
      }
      paused_ = true;
      server_.rememberPause(address_, channel_, true);
      log_.write("pause", {{"connection", id_}, {"channel", channel_}});
      break;
    case Kind::Resume:
      if (paused_) forceIntra_ = true;
      paused_ = false;
      server_.rememberPause(address_, channel_, false);
      log_.write("resume", {{"connection", id_}, {"channel", channel_}});
      break;
    case Kind::CameraWord:
      if (!pendingWord_.empty())
        log_.write("command", {{"connection", id_},
                               {"channel", channel_},
                               {"word", pendingWord_},
                               {"accepted", false},
                               {"reason", "no credentials"}});
      pendingWord_ = command.word;
      break;
    case Kind::Credentials:
      onCredentials(command);
      break;
    default:
      break;
  }
}

void StreamConnection::onRequest(const ClientCommand& command) {
  channel_ = command.channel;
  log_.write("channel", {{"connection", id_}, {"channel", channel_}});
  if (channel_ > server_.config().channelCount) {
    log_.write("refused",
               {{"connection", id_}, {"channel", channel_}, {"reason", "no such channel"}});
    end("no such channel");
    return;
  }
  runtime_ = &server_.channel(channel_);
  const int number = ++runtime_->connections;
  if (const Fault* refuse = fault(FaultKind::Refuse); refuse && refuse->count == number) {
    logFault(FaultKind::Refuse);
    end("fault refuse");
    return;
  }
  if (const Fault* from = fault(FaultKind::RefuseFrom); from && number >= from->count) {
    logFault(FaultKind::RefuseFrom);
    end("fault refuse-from");
    return;
  }
  phase_ = Phase::AwaitLogin;
  loginDeadline_ = Clock::now() + kLoginGrace;
}

void StreamConnection::onLogin(const ClientCommand& command) {
  if (phase_ == Phase::Streaming) {
    // The viewer sends its login three times; the first one counts.
    log_.write("login", {{"connection", id_},
                         {"channel", channel_},
                         {"account", command.account},
                         {"repeat", true}});
    return;
  }
  const auto account = server_.config().authenticate(command.account, command.password);
  permission_ = account ? server_.config().permission(*account, channel_) : '3';
  account_ = command.account;
  const char code[2] = {permission_, 0};
  log_.write("login", {{"connection", id_},
                       {"channel", channel_},
                       {"account", command.account},
                       {"ok", account.has_value()},
                       {"permission", code}});
  if (account) server_.remember(address_, channel_, {account_, permission_, false});
  startStreaming();
}

void StreamConnection::resumeOrRefuse() {
  const auto memory = server_.recall(address_, channel_);
  if (!memory) {
    log_.write("refused", {{"connection", id_}, {"channel", channel_}, {"reason", "no login"}});
    end("no login");
    return;
  }
  account_ = memory->account;
  permission_ = memory->permission;
  paused_ = memory->paused;
  log_.write(
      "reconnect",
      {{"connection", id_}, {"channel", channel_}, {"account", account_}, {"paused", paused_}});
  startStreaming();
}

void StreamConnection::startStreaming() {
  phase_ = Phase::Streaming;
  const auto now = Clock::now();
  interval_ = std::chrono::duration_cast<Clock::duration>(1s) / runtime_->config->rate;
  firstSlot_ = now;
  nextSlot_ = 0;
  nextTick_ = now + 1s;
  forceIntra_ = true;
  if (fault(FaultKind::TickThenClose)) {
    queue(serverTimestamp(std::chrono::system_clock::now()), 0, nullptr, 0);
    logFault(FaultKind::TickThenClose);
    end("fault tick-then-close");
    return;
  }
  sendInfo();
  if (fault(FaultKind::InfoThenClose)) {
    logFault(FaultKind::InfoThenClose);
    end("fault info-then-close");
  }
}

void StreamConnection::onCredentials(const ClientCommand& command) {
  const std::string word = std::move(pendingWord_);
  pendingWord_.clear();
  std::string_view refusal;
  const auto account = server_.config().authenticate(command.account, command.password);
  if (word.empty())
    refusal = "no command word";
  else if (!account)
    refusal = "bad credentials";
  else if (server_.config().permission(*account, channel_) != '1')
    refusal = "no camera control";
  if (!refusal.empty()) {
    log_.write("command", {{"connection", id_},
                           {"channel", channel_},
                           {"word", word},
                           {"account", command.account},
                           {"accepted", false},
                           {"reason", refusal}});
    return;
  }
  const auto now = Clock::now();
  runtime_->camera->command(word, now);
  log_.write("command", {{"connection", id_},
                         {"channel", channel_},
                         {"word", word},
                         {"account", command.account},
                         {"accepted", true},
                         {"camera", runtime_->camera->describe(now)}});
}

void StreamConnection::sendInfo() {
  const ChannelConfig& channel = *runtime_->config;
  const std::string& title = server_.config().title;
  std::string text = stream::formatInfoText(channel.cameraName, title, permission_);
  if (fireOnce(FaultKind::TextWithoutInfo)) {
    text = "NOTICE\r\n" + channel.cameraName + "\r\n" + title + "\r\n" + permission_ + "\r\n";
    logFault(FaultKind::TextWithoutInfo);
  } else if (fireOnce(FaultKind::InfoWithoutLineEnd)) {
    text = "INFO\r\n" + channel.cameraName + "\r\n" + title;
    logFault(FaultKind::InfoWithoutLineEnd);
  }
  queue(serverTimestamp(std::chrono::system_clock::now()), stream::textLengthCode(text.size()),
        reinterpret_cast<const uint8_t*>(text.data()), text.size());
  const char code[2] = {permission_, 0};
  log_.write("info", {{"connection", id_}, {"channel", channel_}, {"permission", code}});
}

void StreamConnection::sendTick() {
  const auto now = Clock::now();
  nextTick_ += 1s;
  if (nextTick_ <= now) nextTick_ = now + 1s;
  if (stalled_ || pending() > kMaxQueuedSmall) return;
  queue(serverTimestamp(std::chrono::system_clock::now()), 0, nullptr, 0);
}

void StreamConnection::pictureDue(Clock::time_point now) {
  if (fault(FaultKind::Flood)) {
    // As fast as the client takes them: one whenever the last one is gone.
    if (stalled_ || paused_ || !stream::grantsViewing(permission_)) return;
    if (pending() > 0 || unsent() > 0) return;
    if (fireOnce(FaultKind::Flood)) logFault(FaultKind::Flood);
    queue(serverTimestamp(std::chrono::system_clock::now()), 0, nullptr, 0);  // and a tick
    producePicture(nextSlot_++);
    return;
  }
  if (now < firstSlot_ + nextSlot_ * interval_) return;
  const int64_t slot = (now - firstSlot_) / interval_;
  nextSlot_ = slot + 1;
  if (stalled_ || paused_ || !stream::grantsViewing(permission_)) return;
  if (pending() > 0 || unsent() > 0) {
    ++picturesDropped_;  // the client has not taken the earlier ones yet
    return;
  }
  producePicture(slot);
}

void StreamConnection::producePicture(int64_t slot) {
  const int number = picturesSent_ + 1;
  if (const Fault* stall = fault(FaultKind::StallAfter); stall && picturesSent_ >= stall->count) {
    stalled_ = true;
    logFault(FaultKind::StallAfter);
    return;
  }
  double stamp = serverTimestamp(std::chrono::system_clock::now());
  if (const Fault* step = fault(FaultKind::ClockStep); step && picturesSent_ >= 30) {
    if (fireOnce(FaultKind::ClockStep)) logFault(FaultKind::ClockStep);
    stamp += step->count / 86400.0;
  }
  if (const Fault* f = fault(FaultKind::MinLength);
      f && f->count == number && fireOnce(FaultKind::MinLength)) {
    queue(stamp, INT32_MIN, nullptr, 0);
    logFault(FaultKind::MinLength);
    return;
  }
  if (const Fault* f = fault(FaultKind::NotH263);
      f && f->count == number && fireOnce(FaultKind::NotH263)) {
    coded_.resize(kNoiseLength);
    for (uint8_t& byte : coded_)
      byte = static_cast<uint8_t>(server_.random());
    coded_[0] = 0xFF;  // never a picture start code
    queue(stamp, static_cast<int32_t>(coded_.size()), coded_.data(), coded_.size());
    logFault(FaultKind::NotH263);
    return;
  }
  if (!renderAndEncode(slot)) return;
  const bool intra = encoder_->lastIntra();
  forceIntra_ = false;
  if (const Fault* f = fault(FaultKind::Oversize);
      f && f->count == number && fireOnce(FaultKind::Oversize)) {
    coded_.resize(kOversizePayload, 0);
    forceIntra_ = true;  // a viewer that drops this picture starts afresh
    logFault(FaultKind::Oversize);
  }
  if (const Fault* f = fault(FaultKind::UnsupportedMode);
      f && f->count == number && coded_.size() > 5 && fireOnce(FaultKind::UnsupportedMode)) {
    // The eleventh bit of PTYPE, after the 22-bit start code and the 8-bit
    // temporal reference: syntax-based arithmetic coding. The encoder goes
    // on predicting from this picture as it coded it.
    coded_[5] |= 0x80;
    logFault(FaultKind::UnsupportedMode);
  }
  if (const Fault* f = fault(FaultKind::CutIn); f && f->count == number) {
    // The whole picture announced, half of it sent, and the connection
    // closed: a recorder that resets in the middle of a picture.
    queue(stamp, static_cast<int32_t>(coded_.size()), coded_.data(), coded_.size() / 2);
    logFault(FaultKind::CutIn);
    end("fault cut-in");
    return;
  }
  auto lengthCode = static_cast<int32_t>(coded_.size());
  if (fault(FaultKind::NegativeLength)) {
    if (fireOnce(FaultKind::NegativeLength)) logFault(FaultKind::NegativeLength);
    lengthCode = -lengthCode;
  }
  queue(stamp, lengthCode, coded_.data(), coded_.size());
  if (const Fault* tiny = fault(FaultKind::TinyPayload)) {
    const size_t n = std::min(coded_.size(), size_t(tiny->count));
    if (fireOnce(FaultKind::TinyPayload)) logFault(FaultKind::TinyPayload);
    queue(stamp, static_cast<int32_t>(n), coded_.data(), n);
  }
  ++picturesSent_;
  if (server_.config().logPictures)
    log_.write("picture", {{"connection", id_},
                           {"channel", channel_},
                           {"number", picturesSent_},
                           {"bytes", static_cast<int64_t>(coded_.size())},
                           {"intra", intra}});
  if (const Fault* f = fault(FaultKind::DropAfter); f && picturesSent_ >= f->count) {
    logFault(FaultKind::DropAfter);
    end("fault drop-after");
  } else if (const Fault* r = fault(FaultKind::DropRandom);
             r && server_.random() % static_cast<uint64_t>(r->count) == 0) {
    logFault(FaultKind::DropRandom);
    end("fault drop-random");
  }
}

bool StreamConnection::renderAndEncode(int64_t slot) {
  const ChannelConfig& channel = *runtime_->config;
  if (!encoder_) {
    std::string error;
    encoder_ = PictureEncoder::create(channel, error);
    if (!encoder_) {
      log_.write("error", {{"connection", id_}, {"channel", channel_}, {"reason", error}});
      end("no encoder");
      return false;
    }
    picture_ = YuvImage(channel.width, channel.height);
  }
  const auto now = Clock::now();
  const auto wallNow = std::chrono::system_clock::now();
  const View view = runtime_->camera->view(now);
  if (runtime_->file) {
    if (filePicture_.width == 0) filePicture_ = YuvImage(channel.width, channel.height);
    runtime_->file->pictureAt(now, filePicture_);
    renderView(filePicture_, view, picture_, columns_);
  } else {
    renderView(runtime_->world, view, picture_, columns_);
    const double seconds = std::chrono::duration<double>(wallNow.time_since_epoch()).count();
    drawBalls(picture_, channel_, std::fmod(seconds, 86400.0), view, runtime_->world.width,
              runtime_->world.height);
  }
  drawClock(picture_, localTime(wallNow));
  const bool intra = forceIntra_ || fault(FaultKind::Flood) != nullptr;
  if (!encoder_->encode(picture_, slot, intra, coded_)) {
    log_.write("error",
               {{"connection", id_}, {"channel", channel_}, {"reason", "encoding failed"}});
    return false;
  }
  return true;
}

void StreamConnection::queue(double stamp, int32_t lengthCode, const uint8_t* payload,
                             size_t length) {
  if (sent_ == out_.size()) {
    out_.clear();
    sent_ = 0;
  }
  const auto header = stream::formatHeader(stamp, lengthCode);
  out_.insert(out_.end(), header.begin(), header.end());
  if (length > 0) out_.insert(out_.end(), payload, payload + length);
  flush();
}

bool StreamConnection::flush() {
  while (sent_ < out_.size()) {
    const ssize_t written =
        ::send(fd_, out_.data() + sent_, out_.size() - sent_, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    sent_ += static_cast<size_t>(written);
    lastProgress_ = Clock::now();
  }
  out_.clear();
  sent_ = 0;
  // Keep the buffer from holding on to an oversized picture's memory.
  if (out_.capacity() > 4 * kOversizePayload) out_.shrink_to_fit();
  return true;
}

const Fault* StreamConnection::fault(FaultKind kind) const {
  if (runtime_ == nullptr) return nullptr;
  for (const Fault& f : runtime_->config->faults)
    if (f.kind == kind) return &f;
  return nullptr;
}

bool StreamConnection::fireOnce(FaultKind kind) {
  if (!fault(kind) || std::find(fired_.begin(), fired_.end(), kind) != fired_.end()) return false;
  fired_.push_back(kind);
  return true;
}

void StreamConnection::logFault(FaultKind kind) {
  log_.write("fault", {{"connection", id_},
                       {"channel", channel_},
                       {"kind", faultName(kind)},
                       {"pictures", picturesSent_}});
}

}  // namespace

void serveStream(Server& server, int fd, const std::string& address, uint64_t id) {
  StreamConnection(server, fd, address, id).run();
}

void serveHttp(Server& server, int fd, uint64_t id) {
  // Read the request head, at most 2 KiB and 3 seconds.
  std::string request;
  const auto deadline = Clock::now() + 3s;
  bool complete = false;
  while (!complete && request.size() < 2048 && !server.stopping()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd waiting[2] = {{fd, POLLIN, 0}, {server.wakeDescriptor(), POLLIN, 0}};
    if (::poll(waiting, 2, static_cast<int>(left.count())) <= 0 || (waiting[1].revents & POLLIN))
      break;
    char buffer[512];
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      break;
    }
    request.append(buffer, static_cast<size_t>(got));
    complete =
        request.find("\r\n\r\n") != std::string::npos || request.find("\n\n") != std::string::npos;
  }
  std::string_view line = request;
  line = line.substr(0, line.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (!complete) {
    server.log().write("http", {{"connection", id},
                                {"request", printable(line)},
                                {"status", 0},
                                {"reason", "incomplete request"}});
    return;
  }

  // Only the port query is known: "GET ports HTTP/1.x", the object without a slash.
  const bool ports = line == "GET ports HTTP/1.0" || line == "GET ports HTTP/1.1";
  std::string body;
  std::string response;
  if (ports) {
    body = std::to_string(server.httpPort()) + " " + std::to_string(server.streamPort());
    response = "HTTP/1.0 200 OK\r\n";
  } else {
    body = "Not Found\r\n";
    response = "HTTP/1.0 404 Not Found\r\n";
  }
  response += "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
              "\r\nConnection: close\r\n\r\n" + body;
  server.log().write(
      "http", {{"connection", id}, {"request", printable(line)}, {"status", ports ? 200 : 404}});
  size_t sent = 0;
  const auto sendLimit = Clock::now() + 2s;
  while (sent < response.size() && Clock::now() < sendLimit) {
    const ssize_t written =
        ::send(fd, response.data() + sent, response.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written > 0) {
      sent += static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno != EAGAIN && errno != EINTR) break;
    pollfd waiting{fd, POLLOUT, 0};
    ::poll(&waiting, 1, 100);
  }
  ::shutdown(fd, SHUT_WR);
}

}  // namespace zenta::sim
