// A program's link to one recorder: up to sixteen channel connections to the
// same address and stream port, all with one login. The session runs the
// one connect sequence every program uses and, on each channel's receive
// thread, the pump that reads the channel's messages, keeps its connection
// and hands what comes to the program's sink.
#pragma once

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "stream/channel_sink.h"
#include "stream/connection.h"
#include "stream/login.h"
#include "stream/protocol.h"

namespace zenta::stream {

struct SessionSettings {
  // A read that waits longer than this fails and reconnects the channel.
  std::chrono::milliseconds receiveTimeout{30000};
  // Reachability probe of the stream port.
  std::chrono::milliseconds probeTimeout{10000};
  // The whole HTTP port query, from connecting to the last body byte.
  std::chrono::milliseconds portQueryTimeout{3000};
  // One connection attempt of an opening or of a reconnection.
  std::chrono::milliseconds connectTimeout{10000};
  // A resumed channel whose connection brings nothing for this long is
  // reconnected (a paused one waits receiveTimeout).
  std::chrono::milliseconds activeSilenceLimit{10000};
  // A failed connection is replaced at once when it made progress: it lived
  // steadyConnection, or the sink took a picture from it and it lived
  // pictureConnection. Otherwise the next attempt waits reconnectPause,
  // doubling with each fruitless one up to reconnectPauseLimit, so that a
  // server that refuses connections, or takes them and closes them again
  // after a header or a picture, is not hammered by sixteen threads.
  std::chrono::milliseconds reconnectPause{500};
  std::chrono::milliseconds reconnectPauseLimit{4000};
  std::chrono::milliseconds steadyConnection{5000};
  std::chrono::milliseconds pictureConnection{1000};
  // A channel whose connections the server closes before any byte is one
  // the recorder does not have: it is tried again after this.
  std::chrono::milliseconds absentRetry{30000};
  // The whole connect sequence (port query, probe, the openings, the wait
  // for the first answer).
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

struct ConnectOptions {
  // The channels to open (bit n-1: channel n); all must open.
  uint32_t channels = 0xFFFF;
  // The channels that stream from the start; the others are paused once
  // their INFO text has come, until the program resumes them. (A channel
  // the program marked active itself streams too.)
  uint32_t streaming = 0;
  // The channel whose answer (its INFO text, or the recorder closing it
  // before one) the sequence waits for; 0: none.
  int awaitChannel = 1;
  // Close what was opened when the sequence fails (a program that shows
  // the failure first closes them itself).
  bool closeOnFailure = true;
};

enum class ConnectResult {
  Connected,
  Unreachable,  // no port, no address, no connection
  Unanswered,   // connected, but the recorder said nothing within the limit
  Cancelled,
  Busy,  // another sequence is under way
};

class StreamSession {
 public:
  explicit StreamSession(SessionSettings settings = {});
  ~StreamSession();
  StreamSession(const StreamSession&) = delete;
  StreamSession& operator=(const StreamSession&) = delete;

  const SessionSettings& settings() const { return settings_; }
  Connection& channel(int number) { return channels_[size_t(number - 1)]; }
  const Connection& channel(int number) const { return channels_[size_t(number - 1)]; }

  // The connect sequence: the port query when the host names an HTTP port,
  // the probe of the stream port, the openings of the channels asked for
  // (each logs in on its own thread and runs the pump with `sink`), then
  // the wait for the awaited channel's answer; all within connectLimit, and
  // given up at once on cancelConnect. Every channel opened is paused until
  // the program resumes it. The sink must outlive the channels.
  ConnectResult connect(const Login& login, ChannelSink& sink, const ConnectOptions& options = {});
  // From any thread: the sequence under way gives up at once.
  void cancelConnect();

  // Called once a channel's connection is made in the sequence, before its
  // receive thread starts.
  using OpenedHook = std::function<void(Connection&)>;
  void setOpenedHook(OpenedHook hook) { openedHook_ = std::move(hook); }

  // Runs the channel on a connection made elsewhere (a socket the session
  // takes over, as if its sequence had opened it): for replaying what a
  // recorder sent. Its reconnections go where the last sequence went.
  bool openOn(int number, int socket, ChannelSink& sink);

  // Sends the resume command on every open channel and closes it; waits for
  // the receive threads to end. Without `resumeFirst` the connections just
  // end, as they would with the process. A channel waiting to reconnect
  // stops waiting and makes no more attempts.
  void closeAllChannels(bool resumeFirst = true);

  // The channel streams (or not) from now: the command goes to the
  // recorder, the flag is set, and silence is counted from now.
  void pause(int number);
  void resume(int number);
  // Sends a camera command word on the channel with the session's login.
  void sendCameraCommand(int number, std::string_view word);
  // Sends bytes on the channel's connection, if it has one. Never blocks and
  // never raises SIGPIPE; a failed send is ignored.
  void send(int number, std::string_view bytes);

  // The channels opened in the last sequence that have not answered yet.
  uint32_t unanswered() const { return unanswered_; }
  // The login of the last sequence, as sent.
  WireLogin wireLoginCopy() const;
  int streamPort() const { return streamPort_; }

 private:
  enum class Failure { Closed, Silent, Error };
  bool probeServer(const HostSpec& host, in_addr& address);
  bool openChannel(Connection& channel, in_addr host, ChannelSink& sink);
  bool startChannel(Connection& channel, int socket, ChannelSink& sink);
  bool awaitAnswer(int number);
  bool cancelled() const;
  // What is left of `limit` within the connect sequence's time limit.
  std::chrono::milliseconds withinSequence(std::chrono::milliseconds limit) const;

  // The pump: the receive thread's body.
  void pump(Connection& channel, ChannelSink& sink);
  bool logIn(Connection& channel);
  // 0: read whole; 1: the session was closed and the thread must end; -1:
  // the connection failed and was replaced, the message is dropped.
  int readExact(Connection& channel, ChannelSink& sink, void* buffer, size_t count);
  int readHeader(Connection& channel, ChannelSink& sink, MessageHeader& header);
  // A payload that does not fit the receive buffer is read and discarded
  // in pieces, and `stored` is false.
  int readPayload(Connection& channel, ChannelSink& sink, uint32_t length, bool& stored);
  ssize_t receiveSome(Connection& channel, int socket, uint8_t* to, size_t count, Failure& why);
  int reconnect(Connection& channel, ChannelSink& sink, Failure why);
  std::chrono::milliseconds pauseBeforeReconnecting(Connection& channel, ChannelSink& sink,
                                                    Failure why);
  void markEstablished(Connection& channel);
  std::string loginLines(int number) const;
  void sendLocked(Connection& channel, std::string_view bytes);
  void applyReceiveTimeout(int socket) const;
  void waitForClose(std::chrono::milliseconds pause) const;
  void clearUnanswered(int number);

  SessionSettings settings_;
  std::array<Connection, kChannelCount> channels_;
  OpenedHook openedHook_;
  std::atomic<bool> connecting_{false};
  std::atomic<uint32_t> unanswered_{0};
  std::atomic<int> streamPort_{kDefaultStreamPort};
  int wakeFd_ = -1;    // readable while closeAllChannels is ending the threads
  int cancelFd_ = -1;  // readable once the connect sequence is cancelled
  std::atomic<int64_t> sequenceDeadlineMs_{0};  // 0: no sequence under way
  mutable std::mutex loginLock_;
  WireLogin wire_;
  sockaddr_in serverAddress_{};  // under loginLock_
};

}  // namespace zenta::stream
