#include "stream/session.h"

#include <gtest/gtest.h>

#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "tests/support/loopback.h"

namespace zenta::stream {
namespace {

using namespace std::chrono_literals;
using zenta::testing::eventually;
using zenta::testing::Listener;
using zenta::testing::messageHeader;
using zenta::testing::Peer;
using zenta::testing::TestServer;
using Clock = std::chrono::steady_clock;

SessionSettings fastSettings() {
  SessionSettings settings;
  settings.receiveTimeout = 5s;
  settings.probeTimeout = 1s;
  settings.portQueryTimeout = 1s;
  settings.connectTimeout = 300ms;
  settings.reconnectPause = 20ms;
  return settings;
}

// What the test receive loops saw, in order, per channel.
struct EventLog {
  void add(int channel, std::string event) {
    std::lock_guard guard(mutex);
    events.push_back(std::to_string(channel) + ":" + std::move(event));
  }
  std::vector<std::string> copy() {
    std::lock_guard guard(mutex);
    return events;
  }
  bool contains(const std::string& event) {
    std::lock_guard guard(mutex);
    return std::find(events.begin(), events.end(), event) != events.end();
  }
  std::mutex mutex;
  std::vector<std::string> events;
};

// A receive loop built from the session's readers: logs every message.
StreamSession::ReceiveEntry loggingLoop(EventLog& log) {
  return [&log](StreamSession& session, ChannelView& channel) {
    if (!session.logIn(channel)) {
      // Closed before the thread ran (a loaded machine): it ends all the same.
      log.add(channel.number, "ended");
      return;
    }
    for (;;) {
      MessageHeader header;
      int result = session.readHeader(channel, header);
      if (result == 1) break;
      if (result == -1) {
        log.add(channel.number, "reconnected");
        continue;
      }
      if (header.kind == MessageKind::TimeTick) {
        log.add(channel.number, "tick");
        continue;
      }
      bool stored = false;
      result = session.readPayload(channel, header.payloadLength, stored);
      if (result == 1) break;
      if (result == -1) {
        log.add(channel.number, "reconnected");
        continue;
      }
      std::string event = header.kind == MessageKind::VideoFrame ? "frame " : "text ";
      event += std::to_string(header.payloadLength);
      if (!stored) event += " discarded";
      if (stored && header.kind == MessageKind::TextMessage) {
        if (const auto info = parseInfo(channel.receiveBuffer.get(), header.payloadLength)) {
          event += " info ";
          event += info->permission;
        }
      }
      log.add(channel.number, event);
    }
    log.add(channel.number, "ended");
  };
}

// Reads the channel request and the three logins of a new channel connection.
std::string readLogin(Peer& peer) {
  std::string lines;
  for (int i = 0; i < 4; ++i)
    lines += peer.readLine();
  return lines;
}

// An HTTP port server that answers every request with `body`.
std::unique_ptr<TestServer> portServer(const std::string& body) {
  return std::make_unique<TestServer>([body](Peer& peer) {
    while (peer.readLine(2s).size() > 2) {
    }
    peer.send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body);
    peer.close();
  });
}

std::string expectedLogin(int channel) {
  const std::string login = formatLogin(channel, "guest", "mirel");
  return formatConnect(channel) + login + login + login;
}

TEST(Probe, ReachableRefusedAndUnresolvable) {
  ViewerState state;
  StreamSession session(state, {}, fastSettings());
  Listener listener;
  ASSERT_TRUE(listener.ok());
  EXPECT_FALSE(session.probeServer(u"no-such-host.invalid"));

  // The probe goes to the stream port found by the port query.
  auto http = portServer("80 " + std::to_string(listener.port()));
  const std::string text = "127.0.0.1:" + std::to_string(http->port());
  EXPECT_TRUE(session.probeServer(std::u16string(text.begin(), text.end())));
  EXPECT_EQ(state.streamPort, listener.port());
  EXPECT_EQ(http->connectionCount(), 1u);

  // Closed port: the connection is refused.
  const uint16_t closedPort = listener.port();
  listener.close();
  auto http2 = portServer("80 " + std::to_string(closedPort));
  const std::string text2 = "127.0.0.1:" + std::to_string(http2->port());
  EXPECT_FALSE(session.probeServer(std::u16string(text2.begin(), text2.end())));
  EXPECT_EQ(state.streamPort, closedPort);
}

TEST(Probe, UnansweredConnectGivesUpAtTheLimit) {
  // A listen queue of one that nobody accepts from: once it is full, further
  // connection attempts get no answer at all.
  Listener listener(0);
  ASSERT_TRUE(listener.ok());
  std::vector<int> fillers;
  for (int i = 0; i < 2; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(listener.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers.push_back(fd);
  }
  std::this_thread::sleep_for(50ms);

  ViewerState state;
  SessionSettings settings = fastSettings();
  settings.probeTimeout = 400ms;
  StreamSession session(state, {}, settings);
  auto http = portServer("80 " + std::to_string(listener.port()));
  const std::string text = "127.0.0.1:" + std::to_string(http->port());
  const auto start = Clock::now();
  EXPECT_FALSE(session.probeServer(std::u16string(text.begin(), text.end())));
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 350ms);
  EXPECT_LT(took, 3s);
  for (int fd : fillers)
    ::close(fd);
}

class ConnectTest : public ::testing::Test {
 protected:
  // Points the viewer at `stream` through a port query on a second server.
  void serve(const TestServer& stream) {
    http_ = (portServer("80 " + std::to_string(stream.port())));
    const std::string text = "127.0.0.1:" + std::to_string(http_->port());
    std::lock_guard guard(state.loginLock);
    state.hostText.assign(text.begin(), text.end());
  }

  ViewerState state;
  EventLog log;
  std::unique_ptr<TestServer> http_;
};

TEST_F(ConnectTest, SixteenChannelsLogInAndAreResumedAtClose) {
  TestServer server([](Peer& peer) { peer.readToEnd(10s); });
  serve(server);
  StreamSession session(state, loggingLoop(log), fastSettings());
  state.ptzMode = true;
  state.layoutMode = 12;
  state.channelCount = 9;

  ASSERT_EQ(session.connect(), StreamSession::ConnectResult::Connected);
  EXPECT_FALSE(state.connecting);
  EXPECT_FALSE(state.ptzMode);
  EXPECT_EQ(state.layoutMode, 1);
  EXPECT_EQ(state.channelCount, 0);
  EXPECT_EQ(state.infoPending, 0xFFFFu);
  EXPECT_EQ(state.current.load(), &state.channels[0]);
  EXPECT_TRUE(state.channels[0].active);
  for (const auto& channel : state.channels) {
    EXPECT_NE(channel.connection, kNoConnection);
    EXPECT_EQ(channel.viewState, ViewState::Pending);
    EXPECT_NE(channel.decoder.context, nullptr);
  }

  // The probe connection plus one connection per channel, in order.
  ASSERT_TRUE(server.waitForConnections(17));
  ASSERT_TRUE(eventually([&] {
    for (size_t i = 1; i <= 16; ++i) {
      if (server.received(i).size() < expectedLogin(static_cast<int>(i)).size()) return false;
    }
    return true;
  }));
  EXPECT_EQ(server.received(0), "");
  {
    std::lock_guard guard(state.loginLock);
    EXPECT_EQ(state.wireAccount, "guest");
    EXPECT_EQ(state.wirePassword, "mirel");
  }

  const auto start = Clock::now();
  session.closeAllChannels();
  EXPECT_LT(Clock::now() - start, 2s);
  for (size_t i = 1; i <= 16; ++i) {
    const int channel = static_cast<int>(i);
    ASSERT_TRUE(eventually([&] { return server.closedByClient(i); })) << i;
    EXPECT_EQ(server.received(i), expectedLogin(channel) + formatResume(channel)) << i;
    EXPECT_EQ(state.channels[i - 1].connection, kNoConnection);
    EXPECT_EQ(state.channels[i - 1].decoder.context, nullptr);
  }
  EXPECT_EQ(server.connectionCount(), 17u);  // nobody reconnected
  for (int channel = 1; channel <= 16; ++channel) {
    EXPECT_TRUE(log.contains(std::to_string(channel) + ":ended"));
    EXPECT_FALSE(log.contains(std::to_string(channel) + ":reconnected"));
  }
}

TEST_F(ConnectTest, AccountLoginIsSentAsEightBitText) {
  TestServer server([](Peer& peer) { peer.readToEnd(10s); });
  serve(server);
  {
    std::lock_guard guard(state.loginLock);
    state.accountText = u"oper\u00e4tor";
    state.passwordText = u"pa55";
  }
  state.guestLogin = false;
  StreamSession session(state, loggingLoop(log), fastSettings());
  ASSERT_EQ(session.connect(), StreamSession::ConnectResult::Connected);
  const std::string login = formatLogin(5, "oper\xe4tor", "pa55");
  ASSERT_TRUE(eventually([&] { return server.received(5).size() >= 13 + 3 * login.size(); }));
  EXPECT_EQ(server.received(5), formatConnect(5) + login + login + login);
}

TEST_F(ConnectTest, FifteenConnectionsAndNoSixteenth) {
  // The listen queue takes the probe and fifteen channels; nothing is
  // accepted until the sequence is over, so the sixteenth gets no answer.
  TestServer server([](Peer& peer) { peer.readToEnd(5s); }, 15, false);
  serve(server);
  StreamSession session(state, loggingLoop(log), fastSettings());
  ASSERT_EQ(session.connect(), StreamSession::ConnectResult::Failed);
  EXPECT_FALSE(state.connecting);
  for (const auto& channel : state.channels) {
    EXPECT_EQ(channel.connection, kNoConnection);
    EXPECT_FALSE(channel.active);
  }

  server.acceptQueued();
  ASSERT_TRUE(server.waitForConnections(16));
  for (size_t i = 1; i <= 15; ++i) {
    ASSERT_TRUE(eventually([&] { return server.closedByClient(i); })) << i;
    const std::string got = server.received(i);
    const std::string resume = formatResume(static_cast<int>(i));
    // The thread may not have logged in before it was closed; the resume
    // command always comes, and last.
    ASSERT_GE(got.size(), resume.size()) << i;
    EXPECT_EQ(got.substr(got.size() - resume.size()), resume) << i;
    EXPECT_TRUE(got == resume || got == expectedLogin(static_cast<int>(i)) + resume) << got;
  }
  EXPECT_FALSE(eventually([&] { return server.connectionCount() > 16; }, 200ms));
}

TEST_F(ConnectTest, SecondConnectIsIgnoredWhileOneRuns) {
  state.connecting = true;
  StreamSession session(state, loggingLoop(log), fastSettings());
  EXPECT_EQ(session.connect(), StreamSession::ConnectResult::Ignored);
  EXPECT_TRUE(state.connecting);
}

TEST_F(ConnectTest, UnreachableServerFails) {
  Listener closed;
  const uint16_t port = closed.port();
  closed.close();
  http_ = (portServer("80 " + std::to_string(port)));
  const std::string text = "127.0.0.1:" + std::to_string(http_->port());
  state.hostText.assign(text.begin(), text.end());
  StreamSession session(state, loggingLoop(log), fastSettings());
  EXPECT_EQ(session.connect(), StreamSession::ConnectResult::Failed);
  EXPECT_FALSE(state.channels[0].active);
  EXPECT_EQ(state.channels[0].connection, kNoConnection);
}

// One channel opened directly against `server`.
class ChannelTest : public ::testing::Test {
 protected:
  void open(const TestServer& server, SessionSettings settings = fastSettings()) {
    session = std::make_unique<StreamSession>(state, loggingLoop(log), settings);
    state.streamPort = server.port();
    ASSERT_TRUE(session->openChannel(state.channels[0], u"127.0.0.1"));
  }
  ViewerState state;
  EventLog log;
  std::unique_ptr<StreamSession> session;
};

TEST_F(ChannelTest, DroppedConnectionReconnectsAndLogsInAgain) {
  TestServer server([](Peer& peer) {
    if (peer.index() == 0) {
      readLogin(peer);
      peer.send(messageHeader(39156.5, 0));
      peer.close();  // drop while streaming
      return;
    }
    peer.readLine();
    peer.send(messageHeader(39156.5, 0));
    peer.readToEnd(10s);
  });
  open(server);
  ASSERT_TRUE(eventually([&] { return log.copy().size() >= 3; }));
  const auto start = Clock::now();
  ASSERT_TRUE(server.waitForConnections(2));
  EXPECT_LT(Clock::now() - start, 1s);
  // A recorder that restarted knows nothing of the first login.
  ASSERT_TRUE(eventually([&] { return server.received(1) == expectedLogin(1); }));
  EXPECT_EQ(log.copy(), (std::vector<std::string>{"1:tick", "1:reconnected", "1:tick"}));
  EXPECT_EQ(server.received(0), expectedLogin(1));

  session->closeAllChannels();
  ASSERT_TRUE(eventually([&] { return server.closedByClient(1); }));
  EXPECT_EQ(server.received(1), expectedLogin(1) + formatResume(1));
}

TEST_F(ChannelTest, SilentServerCountsAsAFailedRead) {
  TestServer server([](Peer& peer) { peer.readToEnd(10s); });
  SessionSettings settings = fastSettings();
  settings.receiveTimeout = 300ms;
  open(server, settings);
  const auto start = Clock::now();
  ASSERT_TRUE(server.waitForConnections(2));
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 250ms);
  EXPECT_LT(took, 2s);
  ASSERT_TRUE(eventually([&] { return server.received(1) == expectedLogin(1); }));
  EXPECT_TRUE(log.contains("1:reconnected"));
}

TEST_F(ChannelTest, RefusedReconnectionsKeepTryingWithoutSpinning) {
  auto server = std::make_unique<TestServer>([](Peer& peer) {
    peer.send(messageHeader(39156.5, 0));
    peer.close();
  });
  SessionSettings settings = fastSettings();
  settings.reconnectPauseLimit = 40ms;
  settings.receiveTimeout = 200ms;  // a connection made while the server goes away
  open(*server, settings);
  ASSERT_TRUE(server->waitForConnections(1));
  server.reset();  // the server goes away: every reconnection is refused
  // It keeps trying (a loaded machine may take a while for the first few)...
  EXPECT_TRUE(eventually([&] { return log.copy().size() >= 3; }, 3s));
  // ...without spinning: pauses of 20 ms, then 40 ms after each failed
  // attempt, about 15 in 600 ms.
  const auto before = log.copy().size();
  std::this_thread::sleep_for(600ms);
  EXPECT_LT(log.copy().size() - before, 100u);
  const auto start = Clock::now();
  session->closeAllChannels();
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_TRUE(log.contains("1:ended"));
}

TEST_F(ChannelTest, AServerThatClosesAfterItsInfoTextIsNotHammeredAndServesAgainPromptly) {
  std::atomic<bool> serving{false};
  TestServer server([&](Peer& peer) {
    if (!serving) {
      // Accepts, sends the INFO text (a complete message) and closes.
      const std::string info = "INFO\r\nCam\r\nSrv\r\n1";
      peer.send(messageHeader(2, 0x100000 + static_cast<int32_t>(info.size())) + info);
      return peer.close();
    }
    peer.readLine();
    for (int i = 0; i < 50 && peer.send(messageHeader(39156.5, 0)); ++i)
      std::this_thread::sleep_for(100ms);
  });
  SessionSettings settings = fastSettings();
  settings.reconnectPause = 100ms;
  settings.reconnectPauseLimit = 800ms;
  open(server, settings);
  std::this_thread::sleep_for(2s);
  // Pauses of 0.1, 0.2, 0.4, 0.8, 0.8 ... s: a handful of connections in two
  // seconds, not thousands.
  const size_t fruitless = server.connectionCount();
  EXPECT_GE(fruitless, 3u);
  EXPECT_LE(fruitless, 10u);
  serving = true;
  const auto start = Clock::now();
  ASSERT_TRUE(eventually([&] { return log.contains("1:tick"); }, 5s));
  EXPECT_LT(Clock::now() - start, 2s);  // within one longest pause and a little
}

TEST_F(ChannelTest, OversizedAndMeaninglessLengthCodes) {
  TestServer server([](Peer& peer) {
    if (peer.index() == 0) {
      readLogin(peer);
      const std::string big(1000000, '\x5a');
      peer.send(messageHeader(1, 1000000) + big);  // frame beyond the buffer
      const std::string text(0xFFFFF, 'I');
      peer.send(messageHeader(1, 0x1FFFFF) + text);                      // text beyond the buffer
      peer.send(messageHeader(1, -158976) + std::string(158976, '\0'));  // exactly fits
      peer.send(messageHeader(1, 0));
      peer.send(messageHeader(1, INT32_MIN));  // out of step
      peer.send(std::string(64, '\xff'));
      peer.readToEnd(10s);
      return;
    }
    peer.readLine();
    const std::string info = "INFO\r\nCam\r\nSrv\r\n1";
    peer.send(messageHeader(2, 0x100000 + static_cast<int32_t>(info.size())) + info);
    peer.readToEnd(10s);
  });
  open(server);
  ASSERT_TRUE(eventually([&] { return log.contains("1:text 17 info 1"); }));
  EXPECT_EQ(log.copy(), (std::vector<std::string>{"1:frame 1000000 discarded",
                                                  "1:text 1048575 discarded", "1:frame 158976",
                                                  "1:tick", "1:reconnected", "1:text 17 info 1"}));
  // The server reads the reconnection's login while the client goes on.
  EXPECT_TRUE(eventually([&] { return server.received(1) == expectedLogin(1); }))
      << server.received(1);
}

TEST_F(ChannelTest, AChannelClosedBeforeAnyByteIsAbsentAndTriedRarely) {
  std::atomic<bool> serving{false};
  TestServer server([&](Peer& peer) {
    if (!serving) return peer.close();  // a recorder without this channel
    readLogin(peer);
    const std::string info = "INFO\r\nCam\r\nSrv\r\n1";
    peer.send(messageHeader(2, 0x100000 + static_cast<int32_t>(info.size())) + info);
    peer.readToEnd(10s);
  });
  SessionSettings settings = fastSettings();
  settings.absentRetry = 1500ms;
  state.infoPending = 0xFFFF;
  open(server, settings);
  // Closed before a byte twice running: absent.
  ASSERT_TRUE(eventually([&] { return state.channels[0].absent.load(); }));
  // Answered for the four-picture view, and left alone meanwhile.
  EXPECT_EQ(state.infoPending, 0xFFFEu);
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(server.connectionCount(), 2u);
  serving = true;
  ASSERT_TRUE(eventually([&] { return log.contains("1:text 17 info 1"); }, 3s));
  EXPECT_EQ(server.connectionCount(), 3u);
  EXPECT_FALSE(state.channels[0].absent);
}

TEST(Channel, OpenFailsAfterFiveRefusedAttempts) {
  Listener closed;
  const uint16_t port = closed.port();
  closed.close();
  ViewerState state;
  EventLog log;
  StreamSession session(state, loggingLoop(log), fastSettings());
  state.streamPort = port;
  state.channels[0].active = true;
  EXPECT_FALSE(session.openChannel(state.channels[0], u"127.0.0.1:80"));
  EXPECT_FALSE(state.channels[0].active);
  EXPECT_EQ(state.channels[0].connection, kNoConnection);
  // A second failure does not leak the decoder of the first (leak check).
  EXPECT_FALSE(session.openChannel(state.channels[0], u"no-such-host.invalid"));
  EXPECT_TRUE(log.copy().empty());
}

TEST_F(ConnectTest, SixteenStreamingChannelsClosedRepeatedly) {
  TestServer server([](Peer& peer) {
    if (peer.index() == 0) return;  // the probe
    std::mt19937 random(static_cast<uint32_t>(peer.index()));
    const std::string payload(200000, '\x11');
    peer.readLine();
    for (int i = 0; !peer.closedByClient() && i < 100000; ++i) {
      const auto size = static_cast<int32_t>(random() % 200000 + 1);
      std::string message = messageHeader(i, i % 3 == 0 ? 0 : size);
      if (i % 3 != 0) message.append(payload, 0, static_cast<size_t>(size));
      if (!peer.send(message)) break;
    }
  });
  serve(server);
  StreamSession session(state, loggingLoop(log), fastSettings());
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_EQ(session.connect(), StreamSession::ConnectResult::Connected) << cycle;
    // The UI thread sends pause and resume commands while the threads read.
    for (int round = 0; round < 20; ++round) {
      for (auto& channel : state.channels) {
        session.send(channel,
                     round % 2 ? formatPause(channel.number) : formatResume(channel.number));
        channel.active = round % 2 == 0;
        state.layoutMode = round % 2 ? 11 : 1;
      }
      std::this_thread::sleep_for(5ms);
    }
    session.closeAllChannels();
    for (const auto& channel : state.channels)
      EXPECT_EQ(channel.connection, kNoConnection);
  }
  const auto events = log.copy();
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const std::string& e) { return e.ends_with(":ended"); }),
            48);
  EXPECT_GT(
      std::count_if(events.begin(), events.end(),
                    [](const std::string& e) { return e.find(":frame") != std::string::npos; }),
      48);
}

TEST(ChannelState, InitialValuesAndSharedCounters) {
  ViewerState state;
  EXPECT_EQ(state.current.load(), &state.channels[0]);
  EXPECT_EQ(state.layoutMode, 0);
  EXPECT_EQ(state.streamPort, 18083);
  EXPECT_TRUE(state.guestLogin);
  for (size_t i = 0; i < 16; ++i) {
    const ChannelView& channel = state.channels[i];
    EXPECT_EQ(channel.number, static_cast<int>(i + 1));
    EXPECT_EQ(channel.connection, kNoConnection);
    EXPECT_EQ(channel.codedWidth, 320);
    EXPECT_EQ(channel.codedHeight, 240);
    EXPECT_EQ(channel.shownWidth, 320);
    EXPECT_EQ(channel.shownHeight, 240);
    EXPECT_EQ(channel.viewState, ViewState::Pending);
    EXPECT_FALSE(channel.active);
    EXPECT_NE(channel.receiveBuffer, nullptr);
  }

  // Sixteen threads raising the count and clearing their bits at once.
  state.infoPending = 0xFFFF;
  std::vector<std::thread> threads;
  for (int number = 1; number <= 16; ++number) {
    threads.emplace_back([&state, number] {
      for (int i = 0; i < 1000; ++i)
        state.raiseChannelCount(number);
      state.clearInfoPending(number);
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(state.channelCount, 16);
  EXPECT_EQ(state.infoPending, 0u);
  state.clearInfoPending(0);
  state.clearInfoPending(17);
  EXPECT_EQ(state.infoPending, 0u);
}

}  // namespace
}  // namespace zenta::stream
