// libFuzzer target: the framing of a channel's byte stream. The input is
// what a server sent on one connection; the session's own readers take it
// from a real socket, header after header, the payloads of texts and
// pictures in the receive buffer (or read and dropped when they do not
// fit), until the stream ends or a header cannot be framed. Every payload
// the readers store must be the input's bytes at the place the headers
// put it, and a text payload goes on to the INFO reader.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_target.h"
#include "stream/session.h"

namespace {

using namespace zenta::stream;

struct Harness {
  ViewerState state;
  StreamSession session;
  Harness()
      : session(
            state, [](StreamSession&, ChannelView&) {}, quickSettings()) {
    ChannelView& channel = state.channels[0];
    channel.number = 1;
    channel.receiveBuffer = std::make_unique<uint8_t[]>(kReceiveBufferSize);
    // The end of the stream reconnects: to an address where nothing
    // listens, which fails at once.
    sockaddr_in nowhere{};
    nowhere.sin_family = AF_INET;
    nowhere.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    nowhere.sin_port = 0;
    state.setServerAddress(nowhere);
  }
  static SessionSettings quickSettings() {
    SessionSettings settings;
    settings.reconnectPause = std::chrono::milliseconds(0);
    settings.reconnectPauseLimit = std::chrono::milliseconds(0);
    settings.connectTimeout = std::chrono::milliseconds(50);
    settings.receiveTimeout = std::chrono::milliseconds(1000);
    return settings;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Larger inputs would not fit the socket's buffer before the reader runs.
  if (size > 65536) return 0;
  static Harness* harness = new Harness;
  ChannelView& channel = harness->state.channels[0];
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return 0;
  const int buffer = 1 << 18;
  ::setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  ::setsockopt(ends[0], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  size_t sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(ends[1], data + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += size_t(n);
  }
  ::shutdown(ends[1], SHUT_WR);
  channel.connection = ends[0];
  channel.reconnectsWithoutMessage = 0;
  // A connection just made: its silence counts from now.
  channel.established = false;
  channel.lastReceived = std::chrono::steady_clock::now();

  size_t offset = 0;
  for (;;) {
    MessageHeader header;
    if (harness->session.readHeader(channel, header) != 0) break;
    offset += kHeaderSize;
    if (header.kind != MessageKind::TextMessage && header.kind != MessageKind::VideoFrame) continue;
    bool stored = false;
    if (harness->session.readPayload(channel, header.payloadLength, stored) != 0) break;
    if (offset + header.payloadLength > sent) __builtin_trap();  // read past the stream's end
    if (stored) {
      if (header.payloadLength > kReceiveBufferSize) __builtin_trap();
      if (std::memcmp(channel.receiveBuffer.get(), data + offset, header.payloadLength) != 0)
        __builtin_trap();  // the payload is not where the headers put it
      if (header.kind == MessageKind::TextMessage)
        (void)parseInfo(channel.receiveBuffer.get(), header.payloadLength);
    }
    offset += header.payloadLength;
  }
  // A reconnection closed ends[0] and left its own socket in its place.
  const int left = channel.connection.exchange(kNoConnection);
  if (left >= 0) ::close(left);
  ::close(ends[1]);
  return 0;
}
