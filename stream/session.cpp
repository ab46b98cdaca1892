#include "stream/session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "stream/port_query.h"

namespace zenta::stream {

namespace {

using Clock = std::chrono::steady_clock;

int newStreamSocket() {
  return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
}

// Connects with a time limit, by a non-blocking connect. Gives up early when
// `wakeFd` becomes readable. The socket is blocking again afterwards.
bool connectWithin(int socket, const sockaddr_in& address, std::chrono::milliseconds limit,
                   int wakeFd) {
  const int flags = ::fcntl(socket, F_GETFL);
  if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) return false;
  bool connected = false;
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    connected = true;
  } else if (errno == EINPROGRESS) {
    const auto deadline = Clock::now() + limit;
    pollfd fds[2] = {{socket, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
    const nfds_t count = wakeFd >= 0 ? 2 : 1;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      const int ready = ::poll(fds, count, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || (count == 2 && fds[1].revents != 0)) break;
      int error = 0;
      socklen_t size = sizeof error;
      connected = ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
      break;
    }
  }
  ::fcntl(socket, F_SETFL, flags);
  return connected;
}

sockaddr_in makeAddress(in_addr host, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr = host;
  return address;
}

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
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
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

StreamSession::StreamSession(ViewerState& state, ReceiveEntry entry, SessionSettings settings)
    : state_(state), entry_(std::move(entry)), settings_(settings) {
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  cancelFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

StreamSession::~StreamSession() {
  closeAllChannels();
  if (wakeFd_ >= 0) ::close(wakeFd_);
  if (cancelFd_ >= 0) ::close(cancelFd_);
}

void StreamSession::beginConnectSequence() {
  uint64_t drained = 0;
  [[maybe_unused]] const auto read = ::read(cancelFd_, &drained, sizeof drained);
  sequenceDeadlineMs_ = steadyMilliseconds() + settings_.connectLimit.count();
}

bool StreamSession::awaitAnswer(const ChannelView& channel) {
  for (;;) {
    if ((state_.infoPending & (uint32_t{1} << (channel.number - 1))) == 0) return true;
    if (sequenceDeadlineMs_ == 0) return false;
    const auto left = withinSequence(std::chrono::milliseconds(25));
    if (left.count() <= 0) return false;
    pollfd cancel{cancelFd_, POLLIN, 0};
    if (::poll(&cancel, cancelFd_ >= 0 ? 1 : 0, static_cast<int>(left.count())) > 0) return false;
  }
}

void StreamSession::endConnectSequence() {
  sequenceDeadlineMs_ = 0;
}

void StreamSession::cancelConnect() {
  const uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(cancelFd_, &one, sizeof one);
}

bool StreamSession::connectCancelled() const {
  pollfd cancel{cancelFd_, POLLIN, 0};
  return cancelFd_ >= 0 && ::poll(&cancel, 1, 0) > 0;
}

std::chrono::milliseconds StreamSession::withinSequence(std::chrono::milliseconds limit) const {
  const int64_t deadline = sequenceDeadlineMs_;
  if (deadline == 0) return limit;
  return std::chrono::milliseconds(
      std::clamp<int64_t>(deadline - steadyMilliseconds(), 0, limit.count()));
}

StreamSession::ConnectResult StreamSession::connect() {
  if (state_.connecting.exchange(true)) return ConnectResult::Ignored;
  state_.ptzMode = false;
  state_.channelCount = 0;
  state_.infoPending = 0xFFFF;
  state_.layoutMode = 1;
  state_.firstShown = 0;
  state_.current = &state_.channels[0];
  state_.channels[0].active = true;

  std::u16string host;
  {
    std::lock_guard guard(state_.loginLock);
    host = state_.hostText;
  }
  beginConnectSequence();
  bool opened = probeServer(host);
  for (auto& channel : state_.channels) {
    if (!opened) break;
    opened = openChannel(channel, host);
  }
  endConnectSequence();
  if (!opened) {
    state_.current.load()->active = false;
    for (auto& channel : state_.channels)
      channel.active = false;
    closeAllChannels();
  }
  state_.connecting = false;
  return opened ? ConnectResult::Connected : ConnectResult::Failed;
}

bool StreamSession::probeServer(std::u16string_view hostText) {
  state_.streamPort = kDefaultStreamPort;
  const HostSpec host = splitHostText(hostText);
  if (host.httpPort) {
    if (const auto port = queryStreamPort(host.name, *host.httpPort,
                                          withinSequence(settings_.portQueryTimeout), cancelFd_)) {
      state_.streamPort = *port;
    }
  }
  if (connectCancelled()) return false;
  const auto address = resolveHost(host.name, withinSequence(settings_.probeTimeout), cancelFd_);
  if (!address) return false;
  const int probe = newStreamSocket();
  if (probe < 0) return false;
  // The probe connection is only a test: closed at once, nothing sent.
  const bool reached = connectWithin(probe, makeAddress(*address, state_.streamPort),
                                     withinSequence(settings_.probeTimeout), cancelFd_);
  ::close(probe);
  return reached && !connectCancelled();
}

bool StreamSession::openChannel(ChannelView& channel, std::u16string_view hostText) {
  // A channel whose connection is open still has its receive thread.
  if (channel.connection != kNoConnection) return false;
  if (channel.receiveThread.joinable()) channel.receiveThread.join();

  channel.snapshotPending = false;
  channel.reconnectsWithoutMessage = 0;
  channel.answered = false;
  channel.absent = false;
  channel.closedWithoutByte = 0;
  // A decoder left from window creation or from a failed open is released
  // before the handle is cleared for the fresh one.
  video::h263Destroy(channel.decoder);
  channel.decoder = {};
  if (video::h263Create(channel.decoder) != 0) return false;

  const auto fail = [&] {
    state_.current.load()->active = false;
    return false;
  };
  const auto host = resolveHost(splitHostText(hostText).name,
                                withinSequence(settings_.connectTimeout), cancelFd_);
  if (!host) return fail();
  const sockaddr_in address = makeAddress(*host, state_.streamPort);
  state_.setServerAddress(address);
  channel.viewState = ViewState::Pending;

  int socket = -1;
  for (int attempt = 0; attempt < settings_.connectAttempts && !connectCancelled(); ++attempt) {
    socket = newStreamSocket();
    if (socket < 0) return fail();
    if (connectWithin(socket, address, withinSequence(settings_.connectTimeout), cancelFd_)) break;
    ::close(socket);
    socket = -1;
  }
  if (socket >= 0 && connectCancelled()) {
    ::close(socket);
    socket = -1;
  }
  if (socket < 0) return fail();

  applyReceiveTimeout(socket);
  {
    std::lock_guard guard(channel.lock);
    channel.connection = socket;
  }
  markEstablished(channel);
  channel.lastPictureMs = steadyMilliseconds();
  if (openedHook_) openedHook_(channel);
  try {
    channel.threadId = ++threadSerial_;
    channel.receiveThread = std::thread([this, &channel] { entry_(*this, channel); });
  } catch (const std::system_error&) {
    std::lock_guard guard(channel.lock);
    channel.connection = kNoConnection;
    ::close(socket);
    return fail();
  }
  return true;
}

int StreamSession::readExact(ChannelView& channel, void* buffer, int count, int number) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  int have = 0;
  while (have < count) {
    const int socket = channel.connection;
    Failure why = Failure::Closed;
    const ssize_t got = socket < 0 ? -1
                                   : receiveSome(channel, socket, bytes + have,
                                                 static_cast<size_t>(count - have), why);
    if (got <= 0) return reconnect(channel, number, why);
    have += static_cast<int>(got);
  }
  return 0;
}

ssize_t StreamSession::receiveSome(ChannelView& channel, int socket, uint8_t* to, size_t count,
                                   Failure& why) {
  for (;;) {
    // What has arrived already is taken without waiting.
    const ssize_t got = ::recv(socket, to, count, MSG_DONTWAIT);
    if (got > 0) {
      channel.lastReceived = Clock::now();
      return got;
    }
    if (got == 0) {
      why = Failure::Closed;
      return -1;
    }
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      why = errno == ECONNRESET ? Failure::Closed : Failure::Error;
      return -1;
    }
    const auto limit = channel.active ? settings_.activeSilenceLimit : settings_.receiveTimeout;
    const auto silent =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - channel.lastReceived);
    if (silent >= limit) {
      why = Failure::Silent;
      return -1;
    }
    // Waits a second at most, so that a channel resumed meanwhile is held
    // to the shorter limit.
    pollfd readable{socket, POLLIN, 0};
    const auto wait = std::min<int64_t>((limit - silent).count(), 1000);
    if (::poll(&readable, 1, static_cast<int>(wait)) < 0 && errno != EINTR) {
      why = Failure::Error;
      return -1;
    }
  }
}

void StreamSession::markEstablished(ChannelView& channel) {
  channel.established = true;
  channel.linked = true;
  channel.connectedAt = channel.lastReceived = Clock::now();
  channel.textOnConnection = channel.pictureOnConnection = false;
}

std::chrono::milliseconds StreamSession::pauseBeforeReconnecting(ChannelView& channel,
                                                                 Failure why) {
  if (channel.established) {
    // The connection that failed had been made: did it get anywhere?
    if (channel.pictureOnConnection ||
        Clock::now() - channel.connectedAt >= settings_.steadyConnection)
      channel.reconnectsWithoutMessage = 0;
    const bool silent = channel.lastReceived == channel.connectedAt;
    if (!silent) channel.closedWithoutByte = 0;
    if (why == Failure::Closed && !channel.textOnConnection) {
      // Closed by the server before the channel's first text: it counts as
      // answered for the four-picture view. Closed before any byte at all,
      // twice running: the recorder has no such channel, or no longer (a
      // server that is going away may close one connection so), and it is
      // tried again only now and then.
      if (!channel.answered) state_.clearInfoPending(channel.number);
      if (silent && ++channel.closedWithoutByte >= 2) {
        channel.absent = true;
        return settings_.absentRetry;
      }
    }
  }
  const uint32_t fruitless = channel.reconnectsWithoutMessage;
  if (fruitless == 0) return std::chrono::milliseconds(0);
  const int64_t grown = settings_.reconnectPause.count() << std::min<uint32_t>(fruitless - 1, 16);
  return std::chrono::milliseconds(
      std::max(settings_.reconnectPause.count(),
               std::min<int64_t>(grown, settings_.reconnectPauseLimit.count())));
}

std::string StreamSession::loginLines(int number) {
  std::string lines = formatConnect(number);
  std::lock_guard guard(state_.loginLock);
  const std::string login = formatLogin(number, state_.wireAccount, state_.wirePassword);
  for (int copy = 0; copy < 3; ++copy)
    lines += login;
  return lines;
}

int StreamSession::reconnect(ChannelView& channel, int number, Failure why) {
  if (channel.connection == kNoConnection) return 1;
  channel.linked = false;
  waitForClose(pauseBeforeReconnecting(channel, why));
  if (channel.connection == kNoConnection) return 1;
  ++channel.reconnectsWithoutMessage;
  channel.established = false;
  // The new socket is made first, so that a failure to make one leaves the
  // channel with its (broken) socket and a later read tries again.
  const int fresh = newStreamSocket();
  {
    std::lock_guard guard(channel.lock);
    const int old = channel.connection;
    if (old == kNoConnection) {
      if (fresh >= 0) ::close(fresh);
      return 1;
    }
    if (fresh >= 0) {
      // Only this thread reads this socket and every sender holds the lock,
      // so closing it here cannot hit a number that was reused meanwhile.
      ::close(old);
      channel.connection = fresh;
    }
  }
  if (fresh < 0) return -1;
  const bool connected =
      connectWithin(fresh, state_.serverAddressCopy(), settings_.connectTimeout, wakeFd_);
  // The new connection logs in as the first one did: a recorder that
  // restarted knows nothing of the old one.
  const std::string lines = loginLines(number);
  std::lock_guard guard(channel.lock);
  if (channel.connection != fresh) return 1;  // closed by the session meanwhile
  if (connected) {
    markEstablished(channel);
    applyReceiveTimeout(fresh);
    sendLocked(channel, lines);
  }
  return -1;
}

void StreamSession::closeAllChannels(bool resumeFirst) {
  std::array<int, kChannelCount> closed;
  closed.fill(kNoConnection);
  for (size_t i = 0; i < state_.channels.size(); ++i) {
    ChannelView& channel = state_.channels[i];
    std::lock_guard guard(channel.lock);
    const int socket = channel.connection;
    if (socket == kNoConnection) continue;
    if (resumeFirst) sendLocked(channel, formatResume(channel.number));
    // None before the socket goes down: a read that fails from here on ends
    // its thread instead of reconnecting. Shutting the socket down wakes a
    // thread blocked in recv; the number itself is released only after the
    // thread has ended, so it cannot be reused under the thread's feet.
    channel.connection = kNoConnection;
    channel.linked = false;
    ::shutdown(socket, SHUT_RDWR);
    closed[i] = socket;
  }
  // Every channel reads none before a thread waiting to reconnect is woken,
  // so that none of them makes one more attempt.
  if (wakeFd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
  }
  for (auto& channel : state_.channels) {
    if (channel.receiveThread.joinable()) channel.receiveThread.join();
  }
  for (size_t i = 0; i < state_.channels.size(); ++i) {
    if (closed[i] == kNoConnection) continue;
    ::close(closed[i]);
    video::h263Destroy(state_.channels[i].decoder);
    state_.channels[i].decoder = {};
  }
  if (wakeFd_ >= 0) {
    uint64_t drained = 0;
    [[maybe_unused]] const auto read = ::read(wakeFd_, &drained, sizeof drained);
  }
}

bool StreamSession::logIn(ChannelView& channel) {
  if (channel.connection == kNoConnection) return false;
  send(channel, formatConnect(channel.number));
  std::string login;
  {
    std::lock_guard guard(state_.loginLock);
    if (state_.guestLogin) {
      state_.wireAccount = kGuestAccount;
      state_.wirePassword = kGuestPassword;
    } else {
      state_.wireAccount = toWireText(state_.accountText);
      state_.wirePassword = toWireText(state_.passwordText);
    }
    login = formatLogin(channel.number, state_.wireAccount, state_.wirePassword);
  }
  for (int copy = 0; copy < 3; ++copy)
    send(channel, login);
  return true;
}

int StreamSession::readHeader(ChannelView& channel, MessageHeader& header) {
  uint8_t bytes[kHeaderSize];
  if (const int result = readExact(channel, bytes, 8, channel.number)) return result;
  if (const int result = readExact(channel, bytes + 8, 4, channel.number)) return result;
  header = parseHeader(bytes);
  // Out of step: what follows cannot be framed, so start on a new connection.
  if (header.kind == MessageKind::Broken) return reconnect(channel, channel.number, Failure::Error);
  if (header.kind == MessageKind::TextMessage) {
    channel.textOnConnection = true;
    channel.answered = true;
    channel.absent = false;
  } else if (header.kind == MessageKind::VideoFrame) {
    channel.pictureOnConnection = true;
  }
  return 0;
}

int StreamSession::readPayload(ChannelView& channel, uint32_t length, bool& stored) {
  uint8_t* buffer = channel.receiveBuffer.get();
  stored = length <= kReceiveBufferSize;
  while (length > 0) {
    const uint32_t piece = std::min<uint32_t>(length, kReceiveBufferSize);
    if (const int result = readExact(channel, buffer, static_cast<int>(piece), channel.number)) {
      return result;
    }
    length -= piece;
  }
  return 0;
}

void StreamSession::send(ChannelView& channel, std::string_view bytes) {
  std::lock_guard guard(channel.lock);
  sendLocked(channel, bytes);
}

void StreamSession::sendLocked(ChannelView& channel, std::string_view bytes) {
  const int socket = channel.connection;
  if (socket == kNoConnection) return;
  [[maybe_unused]] const auto sent =
      ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void StreamSession::applyReceiveTimeout(int socket) const {
  const auto ms = settings_.receiveTimeout.count();
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(ms / 1000);
  limit.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

void StreamSession::waitForClose(std::chrono::milliseconds pause) const {
  if (pause.count() <= 0) return;
  pollfd wake{wakeFd_, POLLIN, 0};
  ::poll(&wake, wakeFd_ >= 0 ? 1 : 0, static_cast<int>(pause.count()));
}

}  // namespace zenta::stream
