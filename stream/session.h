// The viewer's link to one video server: sixteen channel connections to the
// same address and stream port, with the login that every channel uses.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "stream/channel_state.h"
#include "stream/protocol.h"

namespace zenta::stream {

inline constexpr std::u16string_view kStatusConnecting = u"Connecting...  ";
inline constexpr std::u16string_view kStatusCantConnect = u"Can't Connect !";

struct SessionSettings {
  // A read that waits longer than this fails and reconnects the channel.
  std::chrono::milliseconds receiveTimeout{30000};
  // Reachability probe of the stream port.
  std::chrono::milliseconds probeTimeout{10000};
  // The whole HTTP port query, from connecting to the last body byte.
  std::chrono::milliseconds portQueryTimeout{3000};
  // One connection attempt of openChannel or of a reconnection.
  std::chrono::milliseconds connectTimeout{10000};
  // Pause before the next reconnection once one has failed, so that a
  // server that refuses connections is not hammered by sixteen threads.
  std::chrono::milliseconds reconnectPause{500};
  // A server that takes connections and closes them at once (a recorder
  // with fewer channels, one at its client limit) is not hammered either:
  // after a reconnection that brought no complete message, the next waits
  // reconnectPause, doubling up to this.
  std::chrono::milliseconds reconnectPauseLimit{4000};
  int connectAttempts = 5;
};

// Resolves a host name: a dotted IPv4 address first, else a host-name
// lookup (first IPv4 address). Nothing when both fail.
std::optional<in_addr> resolveHost(const std::string& name);

class StreamSession {
 public:
  // The body of a channel's receive thread; it runs until readExact (or one
  // of the readers below) reports that the session was closed.
  using ReceiveEntry = std::function<void(StreamSession&, ChannelView&)>;

  enum class ConnectResult { Connected, Failed, Ignored };

  StreamSession(ViewerState& state, ReceiveEntry entry, SessionSettings settings = {});
  ~StreamSession();
  StreamSession(const StreamSession&) = delete;
  StreamSession& operator=(const StreamSession&) = delete;

  ViewerState& state() { return state_; }
  const SessionSettings& settings() const { return settings_; }

  // The connect sequence: probe the server named by hostText, then open
  // channels 1 to 16. All sixteen must open; otherwise every connection is
  // closed again. Ignored while another sequence is under way.
  ConnectResult connect();

  // Runs the port query when the host text names an HTTP port, then tests
  // within probeTimeout whether the stream port takes a TCP connection.
  bool probeServer(std::u16string_view hostText);

  // Connects the channel (up to connectAttempts tries) and starts its
  // receive thread. Sends nothing.
  bool openChannel(ChannelView& channel, std::u16string_view hostText);

  // Reads exactly `count` bytes. 0: all there; 1: the session was closed
  // and the thread must end; -1: the connection failed and was replaced,
  // the caller drops the message it was reading.
  int readExact(ChannelView& channel, void* buffer, int count, int number);

  // Sends the resume command on every open channel and closes it; waits for
  // the receive threads to end, then destroys their decoders. Without
  // `resumeFirst` the connections just end, as they would with the process.
  void closeAllChannels(bool resumeFirst = true);

  // What a receive thread does first: the channel request and the login,
  // three times. False when the channel was closed before the thread ran.
  bool logIn(ChannelView& channel);

  // Reads one message header (0 / 1 / -1 as readExact). A header whose
  // length code has no meaning reconnects the channel and yields -1.
  int readHeader(ChannelView& channel, MessageHeader& header);

  // Reads a payload into the channel's receive buffer. One that does not fit
  // is read and discarded in pieces, and `stored` is false.
  int readPayload(ChannelView& channel, uint32_t length, bool& stored);

  // Sends bytes on the channel's connection, if it has one. Never blocks and
  // never raises SIGPIPE; a failed send is ignored.
  void send(ChannelView& channel, std::string_view bytes);

 private:
  int reconnect(ChannelView& channel, int number);
  void sendLocked(ChannelView& channel, std::string_view bytes);
  void applyReceiveTimeout(int socket) const;
  void waitForClose(std::chrono::milliseconds pause) const;

  ViewerState& state_;
  ReceiveEntry entry_;
  SessionSettings settings_;
  int wakeFd_ = -1;  // readable while closeAllChannels is ending the threads
  std::atomic<uint32_t> threadSerial_{0};
};

}  // namespace zenta::stream
