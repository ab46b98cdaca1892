// libFuzzer target: the framing of a channel's byte stream. The input is
// what a recorder sent on one connection; the session's pump takes it from a
// real socket, header after header, until the stream ends or a header
// cannot be framed. What reaches the sink must be what the input holds, in
// order: every tick, every INFO text that parses, and every picture whose
// payload fits the receive buffer, with the bytes the headers put there.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <span>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "stream/session.h"

namespace {

using namespace zenta::stream;

// One message the sink must see.
struct Expected {
  MessageKind kind;
  std::span<const uint8_t> payload;  // a picture's
};

// What the input holds, framed as the pump frames it.
std::vector<Expected> frame(const uint8_t* data, size_t size) {
  std::vector<Expected> expected;
  size_t offset = 0;
  while (size - offset >= kHeaderSize) {
    const MessageHeader header = parseHeader(data + offset);
    offset += kHeaderSize;
    if (header.kind == MessageKind::Broken) break;
    if (header.kind == MessageKind::TimeTick) {
      expected.push_back({header.kind, {}});
      continue;
    }
    if (header.payloadLength > size - offset) break;
    const std::span<const uint8_t> payload(data + offset, header.payloadLength);
    offset += header.payloadLength;
    if (header.payloadLength > kReceiveBufferSize) continue;
    if (header.kind == MessageKind::TextMessage) {
      if (parseInfo(payload.data(), payload.size())) expected.push_back({header.kind, {}});
    } else {
      expected.push_back({header.kind, payload});
    }
  }
  return expected;
}

struct CheckingSink : ChannelSink {
  void check(MessageKind kind, std::span<const uint8_t> payload = {}) {
    std::lock_guard guard(lock);
    if (ended) return;
    if (next >= expected.size() || expected[next].kind != kind) __builtin_trap();
    if (kind == MessageKind::VideoFrame &&
        (payload.size() != expected[next].payload.size() ||
         std::memcmp(payload.data(), expected[next].payload.data(), payload.size()) != 0)) {
      __builtin_trap();  // the payload is not what the headers put there
    }
    ++next;
  }
  void onInfo(Connection&, const InfoText&) override { check(MessageKind::TextMessage); }
  bool onPicture(Connection&, std::span<const uint8_t> payload, double) override {
    check(MessageKind::VideoFrame, payload);
    return false;
  }
  void onTick(Connection&, double) override { check(MessageKind::TimeTick); }
  void onState(Connection&, LinkState state) override {
    if (state != LinkState::Reconnecting) return;
    std::lock_guard guard(lock);
    ended = true;
    done.notify_all();
  }

  std::mutex lock;
  std::condition_variable done;
  std::vector<Expected> expected;
  size_t next = 0;
  bool ended = false;
};

SessionSettings quickSettings() {
  SessionSettings settings;
  settings.reconnectPause = std::chrono::milliseconds(1);
  settings.reconnectPauseLimit = std::chrono::milliseconds(1);
  settings.connectTimeout = std::chrono::milliseconds(50);
  settings.receiveTimeout = std::chrono::milliseconds(1000);
  return settings;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Larger inputs would not fit the socket's buffer before the pump runs.
  if (size > 65536) return 0;
  static StreamSession* session = new StreamSession(quickSettings());
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

  CheckingSink sink;
  sink.expected = frame(data, sent);
  if (!session->openOn(1, ends[0], sink)) {
    ::close(ends[0]);
  } else {
    // The stream's end (or a header out of step) reconnects: the pump is
    // through the input then.
    std::unique_lock guard(sink.lock);
    sink.done.wait_for(guard, std::chrono::seconds(5), [&] { return sink.ended; });
    const bool whole = sink.ended && sink.next == sink.expected.size();
    guard.unlock();
    session->closeAllChannels(false);
    if (!whole) __builtin_trap();  // something the input holds never reached the sink
  }
  ::close(ends[1]);
  return 0;
}
