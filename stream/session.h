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
  // A resumed channel whose connection brings nothing for this long is
  // reconnected (a paused one waits receiveTimeout).
  std::chrono::milliseconds activeSilenceLimit{10000};
  // A failed connection is replaced at once when it had made progress (a
  // picture came, or it lived steadyConnection). Otherwise the next attempt
  // waits reconnectPause, doubling with each fruitless one up to
  // reconnectPauseLimit, so that a server that refuses connections, or
  // takes them and closes them again, is not hammered by sixteen threads.
  std::chrono::milliseconds reconnectPause{500};
  std::chrono::milliseconds reconnectPauseLimit{4000};
  std::chrono::milliseconds steadyConnection{5000};
  // A channel whose connections the server closes before any text is one
  // the recorder does not have: it is tried again after this.
  std::chrono::milliseconds absentRetry{30000};
  // The whole connect sequence (port query, probe, sixteen connections).
  std::chrono::milliseconds connectLimit{11500};
  int connectAttempts = 5;
};

// Resolves a host name: a dotted IPv4 address first, else a host-name
// lookup (first IPv4 address). Nothing when both fail, when the lookup takes
// longer than `limit`, or when `cancelFd` becomes readable first; a lookup
// given up on finishes on its own in the background.
std::optional<in_addr> resolveHost(const std::string& name,
                                   std::chrono::milliseconds limit = std::chrono::seconds(10),
                                   int cancelFd = -1);

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

  // Bounds the probe and channel openings that follow to the time limit of
  // a connect sequence from now, and forgets an earlier cancellation.
  void beginConnectSequence();
  // Waits, within the sequence's limit, until the server has answered on
  // the channel's connection (its INFO text, or closing the connection
  // before it). False when the limit passed or the sequence was cancelled
  // first: a server that takes connections and then says nothing.
  bool awaitAnswer(const ChannelView& channel);
  // Ends the sequence's limit.
  void endConnectSequence();
  // From any thread: the probe or opening under way gives up at once, and
  // so does every one after it until the next beginConnectSequence.
  void cancelConnect();
  bool connectCancelled() const;

  // Called by openChannel once the channel's connection is made, before
  // its receive thread starts.
  using OpenedHook = std::function<void(ChannelView&)>;
  void setOpenedHook(OpenedHook hook) { openedHook_ = std::move(hook); }

  // Runs the port query when the host text names an HTTP port, then tests
  // within probeTimeout whether the stream port takes a TCP connection.
  bool probeServer(std::u16string_view hostText);

  // Connects the channel (up to connectAttempts tries) and starts its
  // receive thread. Sends nothing.
  bool openChannel(ChannelView& channel, std::u16string_view hostText);

  // Reads exactly `count` bytes. 0: all there; 1: the session was closed
  // and the thread must end; -1: the connection failed and was replaced
  // (with the channel request and the login, as the first connection), the
  // caller drops the message it was reading. A read fails when the server
  // closes the connection, on an error, and when nothing arrives for
  // receiveTimeout (activeSilenceLimit while the channel is active).
  int readExact(ChannelView& channel, void* buffer, int count, int number);

  // Sends the resume command on every open channel and closes it; waits for
  // the receive threads to end, then destroys their decoders. Without
  // `resumeFirst` the connections just end, as they would with the process.
  // A channel waiting to reconnect stops waiting and makes no more attempts.
  void closeAllChannels(bool resumeFirst = true);

  // What a receive thread does first: the channel request and the login,
  // three times. False when the channel was closed before the thread ran.
  bool logIn(ChannelView& channel);

  // Reads one message header (0 / 1 / -1 as readExact). A header whose
  // length code has no meaning reconnects the channel and yields -1. A text
  // message marks the channel answered (and present).
  int readHeader(ChannelView& channel, MessageHeader& header);

  // Reads a payload into the channel's receive buffer. One that does not fit
  // is read and discarded in pieces, and `stored` is false.
  int readPayload(ChannelView& channel, uint32_t length, bool& stored);

  // Sends bytes on the channel's connection, if it has one. Never blocks and
  // never raises SIGPIPE; a failed send is ignored.
  void send(ChannelView& channel, std::string_view bytes);

 private:
  enum class Failure { Closed, Silent, Error };
  // Waits for bytes on the channel's socket and reads some: the count, 0
  // when none are wanted, or -1 with `why` set.
  ssize_t receiveSome(ChannelView& channel, int socket, uint8_t* to, size_t count, Failure& why);
  int reconnect(ChannelView& channel, int number, Failure why);
  std::chrono::milliseconds pauseBeforeReconnecting(ChannelView& channel, Failure why);
  void markEstablished(ChannelView& channel);
  std::string loginLines(int number);
  void sendLocked(ChannelView& channel, std::string_view bytes);
  void applyReceiveTimeout(int socket) const;
  void waitForClose(std::chrono::milliseconds pause) const;
  // What is left of `limit` within the connect sequence's time limit.
  std::chrono::milliseconds withinSequence(std::chrono::milliseconds limit) const;

  ViewerState& state_;
  ReceiveEntry entry_;
  SessionSettings settings_;
  OpenedHook openedHook_;
  int wakeFd_ = -1;    // readable while closeAllChannels is ending the threads
  int cancelFd_ = -1;  // readable once the connect sequence is cancelled
  std::atomic<uint32_t> threadSerial_{0};
  std::atomic<int64_t> sequenceDeadlineMs_{0};  // 0: no sequence under way
};

}  // namespace zenta::stream
