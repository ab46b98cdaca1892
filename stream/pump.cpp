// The pump: each channel's receive thread reads the channel's messages,
// hands them to the program's sink, and keeps the connection. The rules of
// reconnection, of the pause between attempts, of absent and of silent
// channels live here and nowhere else.
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "stream/session.h"
#include "stream/sockets.h"

namespace zenta::stream {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

void StreamSession::pump(Connection& channel, ChannelSink& sink) {
  if (!logIn(channel)) return;
  for (;;) {
    MessageHeader header;
    const int read = readHeader(channel, sink, header);
    if (read == 1) return;
    if (read == -1) continue;
    if (header.kind == MessageKind::TimeTick) {
      sink.onTick(channel, header.timestamp);
      continue;
    }
    bool stored = false;
    const int payload = readPayload(channel, sink, header.payloadLength, stored);
    if (payload == 1) return;
    if (payload == -1 || !stored) continue;
    const std::span<const uint8_t> bytes(channel.receiveBuffer.get(), header.payloadLength);
    if (header.kind == MessageKind::TextMessage) {
      const auto info = parseInfo(bytes.data(), bytes.size());
      if (!info) continue;
      sink.onInfo(channel, *info);
      // A channel the program does not watch is paused once it is known;
      // under the lock that resume takes, so a resume is never overtaken.
      std::lock_guard guard(channel.lock);
      if (!channel.active) sendLocked(channel, formatPause(channel.number));
    } else if (header.kind == MessageKind::VideoFrame) {
      if (!sink.onPicture(channel, bytes, header.timestamp)) continue;
      channel.book.pictureTaken = true;
      channel.lastPictureMs = steadyMilliseconds();
    }
  }
}

bool StreamSession::logIn(Connection& channel) {
  const std::string lines = loginLines(channel.number);
  std::lock_guard guard(channel.lock);
  if (channel.socket == kNoConnection) return false;
  sendLocked(channel, lines);
  return true;
}

std::string StreamSession::loginLines(int number) const {
  std::string lines = formatConnect(number);
  const WireLogin login = wireLoginCopy();
  const std::string line = formatLogin(number, login.account, login.password);
  for (int copy = 0; copy < 3; ++copy)
    lines += line;
  return lines;
}

int StreamSession::readHeader(Connection& channel, ChannelSink& sink, MessageHeader& header) {
  uint8_t bytes[kHeaderSize];
  if (const int result = readExact(channel, sink, bytes, kHeaderSize)) return result;
  header = parseHeader(bytes);
  // Out of step: what follows cannot be framed, so start on a new connection.
  if (header.kind == MessageKind::Broken) return reconnect(channel, sink, Failure::Error);
  if (header.kind == MessageKind::TextMessage) {
    channel.book.textOnConnection = true;
    channel.answered = true;
    channel.absent = false;
    clearUnanswered(channel.number);
  }
  return 0;
}

int StreamSession::readPayload(Connection& channel, ChannelSink& sink, uint32_t length,
                               bool& stored) {
  uint8_t* buffer = channel.receiveBuffer.get();
  stored = length <= kReceiveBufferSize;
  while (length > 0) {
    const uint32_t piece = std::min<uint32_t>(length, kReceiveBufferSize);
    if (const int result = readExact(channel, sink, buffer, piece)) return result;
    length -= piece;
  }
  return 0;
}

int StreamSession::readExact(Connection& channel, ChannelSink& sink, void* buffer, size_t count) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  size_t have = 0;
  while (have < count) {
    const int socket = channel.socket;
    Failure why = Failure::Closed;
    const ssize_t got =
        socket < 0 ? -1 : receiveSome(channel, socket, bytes + have, count - have, why);
    if (got <= 0) return reconnect(channel, sink, why);
    have += size_t(got);
  }
  return 0;
}

ssize_t StreamSession::receiveSome(Connection& channel, int socket, uint8_t* to, size_t count,
                                   Failure& why) {
  for (;;) {
    // What has arrived already is taken without waiting.
    const ssize_t got = ::recv(socket, to, count, MSG_DONTWAIT);
    if (got > 0) {
      channel.book.lastReceived = Clock::now();
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
    const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(
        Clock::now() - channel.book.lastReceived);
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

void StreamSession::markEstablished(Connection& channel) {
  Connection::Bookkeeping& book = channel.book;
  book.established = true;
  book.connectedAt = book.lastReceived = Clock::now();
  book.textOnConnection = book.pictureTaken = false;
  channel.linked = true;
}

std::chrono::milliseconds StreamSession::pauseBeforeReconnecting(Connection& channel,
                                                                 ChannelSink& sink, Failure why) {
  Connection::Bookkeeping& book = channel.book;
  if (book.established) {
    // The connection that failed had been made: did it get anywhere? A
    // picture counts only with a connection that then stayed a while: a
    // recorder that closes after every picture is not hammered either.
    const auto lived = Clock::now() - book.connectedAt;
    if (lived >= settings_.steadyConnection ||
        (book.pictureTaken && lived >= settings_.pictureConnection)) {
      book.fruitless = 0;
    }
    const bool silent = book.lastReceived == book.connectedAt;
    if (!silent) book.closedWithoutByte = 0;
    if (why == Failure::Closed && !book.textOnConnection) {
      // Closed by the server before the channel's first text: it counts as
      // answered. Closed before any byte at all, twice running: the
      // recorder has no such channel, or no longer (a server that is going
      // away may close one connection so), and it is tried again only now
      // and then.
      if (!channel.answered) clearUnanswered(channel.number);
      if (silent && ++book.closedWithoutByte >= 2) {
        channel.absent = true;
        sink.onState(channel, LinkState::Absent);
        return settings_.absentRetry;
      }
    }
  }
  const uint32_t fruitless = book.fruitless;
  if (fruitless == 0) return std::chrono::milliseconds(0);
  const int64_t grown = settings_.reconnectPause.count() << std::min<uint32_t>(fruitless - 1, 16);
  return std::chrono::milliseconds(
      std::max(settings_.reconnectPause.count(),
               std::min<int64_t>(grown, settings_.reconnectPauseLimit.count())));
}

int StreamSession::reconnect(Connection& channel, ChannelSink& sink, Failure why) {
  if (channel.socket == kNoConnection) return 1;
  channel.linked = false;
  sink.onState(channel, LinkState::Reconnecting);
  waitForClose(pauseBeforeReconnecting(channel, sink, why));
  if (channel.socket == kNoConnection) return 1;
  ++channel.book.fruitless;
  channel.book.established = false;
  // The new socket is made first, so that a failure to make one leaves the
  // channel with its (broken) socket and a later read tries again.
  const int fresh = newStreamSocket();
  sockaddr_in address{};
  {
    std::lock_guard guard(loginLock_);
    address = serverAddress_;
  }
  {
    std::lock_guard guard(channel.lock);
    const int old = channel.socket;
    if (old == kNoConnection) {
      if (fresh >= 0) ::close(fresh);
      return 1;
    }
    if (fresh >= 0) {
      // Only this thread reads this socket and every sender holds the lock,
      // so closing it here cannot hit a number that was reused meanwhile.
      ::close(old);
      channel.socket = fresh;
    }
  }
  if (fresh < 0) return -1;
  const bool connected = connectWithin(fresh, address, settings_.connectTimeout, wakeFd_);
  // The new connection logs in as the first one did: a recorder that
  // restarted knows nothing of the old one.
  const std::string lines = loginLines(channel.number);
  {
    std::lock_guard guard(channel.lock);
    if (channel.socket != fresh) return 1;  // closed by the session meanwhile
    if (!connected) return -1;
    markEstablished(channel);
    applyReceiveTimeout(fresh);
    sendLocked(channel, lines);
  }
  sink.onState(channel, LinkState::Connected);
  return -1;
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
