#include "stream/session.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "stream/port_query.h"
#include "stream/sockets.h"

namespace zenta::stream {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

namespace {

// A host-name lookup on a thread of its own, which the caller may give up
// on: whoever ends last releases the shared record.
struct Lookup {
  std::mutex lock;
  std::optional<in_addr> result;
  int doneFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  ~Lookup() {
    if (doneFd >= 0) ::close(doneFd);
  }
};

std::optional<in_addr> lookUp(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  // A name beyond ASCII (UTF-8) as an internationalised name first, then as
  // it is spelt (a hosts file may hold it so).
  hints.ai_flags = AI_IDN;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    hints.ai_flags = 0;
    found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
      return std::nullopt;
  }
  const in_addr address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  ::freeaddrinfo(found);
  return address;
}

}  // namespace

std::optional<in_addr> resolveHost(const std::string& name, std::chrono::milliseconds limit,
                                   int cancelFd) {
  if (name.empty()) return std::nullopt;
  in_addr address{};
  if (::inet_aton(name.c_str(), &address) != 0) return address;
  auto lookup = std::make_shared<Lookup>();
  if (lookup->doneFd < 0) return std::nullopt;
  try {
    std::thread([lookup, name] {
      auto found = lookUp(name);
      std::lock_guard guard(lookup->lock);
      lookup->result = found;
      const uint64_t one = 1;
      [[maybe_unused]] const auto written = ::write(lookup->doneFd, &one, sizeof one);
    }).detach();
  } catch (const std::system_error&) {
    return std::nullopt;
  }
  const auto deadline = Clock::now() + limit;
  pollfd fds[2] = {{lookup->doneFd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    const int ready = ::poll(fds, cancelFd >= 0 ? 2 : 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (cancelFd >= 0 && fds[1].revents != 0)) return std::nullopt;
    std::lock_guard guard(lookup->lock);
    return lookup->result;
  }
}

WireLogin wireLogin(const Login& login) {
  if (login.guest) return {std::string(kGuestAccount), std::string(kGuestPassword)};
  return {toWireText(login.account), toWireText(login.password)};
}

Connection::Connection() : receiveBuffer(std::make_unique<uint8_t[]>(kReceiveBufferSize)) {}

StreamSession::StreamSession(SessionSettings settings) : settings_(settings) {
  for (size_t i = 0; i < channels_.size(); ++i)
    channels_[i].number = static_cast<int32_t>(i + 1);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  cancelFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

StreamSession::~StreamSession() {
  closeAllChannels();
  if (wakeFd_ >= 0) ::close(wakeFd_);
  if (cancelFd_ >= 0) ::close(cancelFd_);
}

ConnectResult StreamSession::connect(const Login& login, ChannelSink& sink,
                                     const ConnectOptions& options) {
  if (connecting_.exchange(true)) return ConnectResult::Busy;
  uint64_t drained = 0;
  [[maybe_unused]] const auto read = ::read(cancelFd_, &drained, sizeof drained);
  sequenceDeadlineMs_ = steadyMilliseconds() + settings_.connectLimit.count();
  {
    std::lock_guard guard(loginLock_);
    wire_ = wireLogin(login);
  }
  const uint32_t wanted = options.channels & 0xFFFF;
  unanswered_ = wanted;

  const HostSpec host = splitHostText(login.host);
  ConnectResult result = ConnectResult::Connected;
  in_addr address{};
  if (!probeServer(host, address)) result = ConnectResult::Unreachable;
  for (Connection& channel : channels_) {
    if (result != ConnectResult::Connected) break;
    if ((wanted & (uint32_t{1} << (channel.number - 1))) == 0) continue;
    if ((options.streaming & (uint32_t{1} << (channel.number - 1))) != 0) channel.active = true;
    if (!openChannel(channel, address, sink)) result = ConnectResult::Unreachable;
  }
  // Connected once the recorder speaks: one that takes the connections and
  // then says nothing is no recorder to watch.
  if (result == ConnectResult::Connected && options.awaitChannel > 0 &&
      !awaitAnswer(options.awaitChannel)) {
    result = ConnectResult::Unanswered;
  }
  if (result != ConnectResult::Connected && cancelled()) result = ConnectResult::Cancelled;
  sequenceDeadlineMs_ = 0;
  if (result != ConnectResult::Connected && options.closeOnFailure) closeAllChannels();
  connecting_ = false;
  return result;
}

void StreamSession::cancelConnect() {
  const uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(cancelFd_, &one, sizeof one);
}

bool StreamSession::cancelled() const {
  pollfd cancel{cancelFd_, POLLIN, 0};
  return cancelFd_ >= 0 && ::poll(&cancel, 1, 0) > 0;
}

std::chrono::milliseconds StreamSession::withinSequence(std::chrono::milliseconds limit) const {
  const int64_t deadline = sequenceDeadlineMs_;
  if (deadline == 0) return limit;
  return std::chrono::milliseconds(
      std::clamp<int64_t>(deadline - steadyMilliseconds(), 0, limit.count()));
}

bool StreamSession::awaitAnswer(int number) {
  for (;;) {
    if ((unanswered_ & (uint32_t{1} << (number - 1))) == 0) return true;
    const auto left = withinSequence(std::chrono::milliseconds(25));
    if (left.count() <= 0) return false;
    pollfd cancel{cancelFd_, POLLIN, 0};
    if (::poll(&cancel, cancelFd_ >= 0 ? 1 : 0, static_cast<int>(left.count())) > 0) return false;
  }
}

bool StreamSession::probeServer(const HostSpec& host, in_addr& address) {
  streamPort_ = kDefaultStreamPort;
  if (host.httpPort) {
    if (const auto port = queryStreamPort(host.name, *host.httpPort,
                                          withinSequence(settings_.portQueryTimeout), cancelFd_)) {
      streamPort_ = *port;
    }
  }
  if (cancelled()) return false;
  const auto found = resolveHost(host.name, withinSequence(settings_.probeTimeout), cancelFd_);
  if (!found) return false;
  address = *found;
  const int probe = newStreamSocket();
  if (probe < 0) return false;
  // The probe connection is only a test: closed at once, nothing sent.
  const bool reached = connectWithin(probe, makeAddress(address, streamPort_),
                                     withinSequence(settings_.probeTimeout), cancelFd_);
  ::close(probe);
  return reached && !cancelled();
}

bool StreamSession::openChannel(Connection& channel, in_addr host, ChannelSink& sink) {
  // A channel whose connection is open still has its receive thread.
  if (channel.socket != kNoConnection) return false;
  if (channel.receiveThread.joinable()) channel.receiveThread.join();

  channel.book = {};
  channel.answered = false;
  channel.absent = false;
  const sockaddr_in address = makeAddress(host, streamPort_);
  {
    std::lock_guard guard(loginLock_);
    serverAddress_ = address;
  }
  int socket = -1;
  for (int attempt = 0; attempt < settings_.connectAttempts && !cancelled(); ++attempt) {
    socket = newStreamSocket();
    if (socket < 0) return false;
    if (connectWithin(socket, address, withinSequence(settings_.connectTimeout), cancelFd_)) break;
    ::close(socket);
    socket = -1;
  }
  if (socket >= 0 && cancelled()) {
    ::close(socket);
    socket = -1;
  }
  if (socket < 0) return false;
  return startChannel(channel, socket, sink);
}

bool StreamSession::openOn(int number, int socket, ChannelSink& sink) {
  if (number < 1 || number > kChannelCount || socket < 0) return false;
  Connection& channel = channels_[size_t(number - 1)];
  if (channel.socket != kNoConnection) return false;
  if (channel.receiveThread.joinable()) channel.receiveThread.join();
  channel.book = {};
  channel.answered = false;
  channel.absent = false;
  return startChannel(channel, socket, sink);
}

bool StreamSession::startChannel(Connection& channel, int socket, ChannelSink& sink) {
  applyReceiveTimeout(socket);
  {
    std::lock_guard guard(channel.lock);
    channel.socket = socket;
  }
  markEstablished(channel);
  channel.lastPictureMs = steadyMilliseconds();
  sink.onState(channel, LinkState::Opened);
  if (openedHook_) openedHook_(channel);
  try {
    channel.receiveThread = std::thread([this, &channel, &sink] { pump(channel, sink); });
  } catch (const std::system_error&) {
    std::lock_guard guard(channel.lock);
    channel.socket = kNoConnection;
    channel.linked = false;
    ::close(socket);
    return false;
  }
  return true;
}

void StreamSession::closeAllChannels(bool resumeFirst) {
  std::array<int, kChannelCount> closed;
  closed.fill(kNoConnection);
  for (size_t i = 0; i < channels_.size(); ++i) {
    Connection& channel = channels_[i];
    std::lock_guard guard(channel.lock);
    const int socket = channel.socket;
    if (socket == kNoConnection) continue;
    if (resumeFirst) sendLocked(channel, formatResume(channel.number));
    // None before the socket goes down: a read that fails from here on ends
    // its thread instead of reconnecting. Shutting the socket down wakes a
    // thread blocked in recv; the number itself is released only after the
    // thread has ended, so it cannot be reused under the thread's feet.
    channel.socket = kNoConnection;
    channel.linked = false;
    channel.active = false;
    ::shutdown(socket, SHUT_RDWR);
    closed[i] = socket;
  }
  // Every channel reads none before a thread waiting to reconnect is woken,
  // so that none of them makes one more attempt.
  if (wakeFd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
  }
  for (auto& channel : channels_) {
    if (channel.receiveThread.joinable()) channel.receiveThread.join();
  }
  for (const int socket : closed) {
    if (socket != kNoConnection) ::close(socket);
  }
  if (wakeFd_ >= 0) {
    uint64_t drained = 0;
    [[maybe_unused]] const auto read = ::read(wakeFd_, &drained, sizeof drained);
  }
}

void StreamSession::pause(int number) {
  if (number < 1 || number > kChannelCount) return;
  Connection& channel = channels_[size_t(number - 1)];
  std::lock_guard guard(channel.lock);
  sendLocked(channel, formatPause(number));
  channel.active = false;
}

void StreamSession::resume(int number) {
  if (number < 1 || number > kChannelCount) return;
  Connection& channel = channels_[size_t(number - 1)];
  std::lock_guard guard(channel.lock);
  sendLocked(channel, formatResume(number));
  // Silence is counted from here, not from its last picture before.
  channel.lastPictureMs = steadyMilliseconds();
  channel.active = true;
}

void StreamSession::sendCameraCommand(int number, std::string_view word) {
  if (number < 1 || number > kChannelCount) return;
  const WireLogin login = wireLoginCopy();
  send(number, formatCameraCommand(number, word, login.account, login.password));
}

WireLogin StreamSession::wireLoginCopy() const {
  std::lock_guard guard(loginLock_);
  return wire_;
}

void StreamSession::send(int number, std::string_view bytes) {
  if (number < 1 || number > kChannelCount) return;
  Connection& channel = channels_[size_t(number - 1)];
  std::lock_guard guard(channel.lock);
  sendLocked(channel, bytes);
}

void StreamSession::sendLocked(Connection& channel, std::string_view bytes) {
  const int socket = channel.socket;
  if (socket == kNoConnection) return;
  [[maybe_unused]] const auto sent =
      ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void StreamSession::clearUnanswered(int number) {
  unanswered_.fetch_and(~(uint32_t{1} << (number - 1)));
}

}  // namespace zenta::stream
