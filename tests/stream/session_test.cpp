#include "stream/session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <string>
#include <thread>
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

// What the session handed the sink, in order, per channel.
struct RecordingSink : ChannelSink {
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
  size_t count(const std::string& part) {
    std::lock_guard guard(mutex);
    return size_t(std::count_if(events.begin(), events.end(), [&](const std::string& e) {
      return e.find(part) != std::string::npos;
    }));
  }

  void onInfo(Connection& channel, const InfoText& info) override {
    add(channel.number, std::string("info ") + info.permission);
  }
  bool onPicture(Connection& channel, std::span<const uint8_t> payload, double) override {
    add(channel.number, "frame " + std::to_string(payload.size()));
    return takePictures;
  }
  void onTick(Connection& channel, double) override { add(channel.number, "tick"); }
  void onState(Connection& channel, LinkState state) override {
    if (state == LinkState::Reconnecting) add(channel.number, "reconnected");
    if (state == LinkState::Absent) add(channel.number, "absent");
  }

  std::atomic<bool> takePictures{true};
  std::mutex mutex;
  std::vector<std::string> events;
};

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

// The login for `server` through a port query on a second server.
struct Route {
  explicit Route(uint16_t streamPort) : http(portServer("80 " + std::to_string(streamPort))) {
    const std::string text = "127.0.0.1:" + std::to_string(http->port());
    login.host.assign(text.begin(), text.end());
  }
  std::unique_ptr<TestServer> http;
  Login login;
};

ConnectOptions only(int number, int await = 0) {
  ConnectOptions options;
  options.channels = uint32_t{1} << (number - 1);
  options.awaitChannel = await;
  return options;
}

ConnectOptions noWait() {
  ConnectOptions options;
  options.awaitChannel = 0;
  return options;
}

TEST(Connect, ProbeReachesThePortTheQueryNamesAndFailsOtherwise) {
  StreamSession session(fastSettings());
  RecordingSink sink;
  Listener listener;
  ASSERT_TRUE(listener.ok());
  Login nowhere;
  nowhere.host = u"no-such-host.invalid";
  EXPECT_EQ(session.connect(nowhere, sink, only(1)), ConnectResult::Unreachable);

  Route route(listener.port());
  ConnectOptions none = noWait();
  none.channels = 0;
  EXPECT_EQ(session.connect(route.login, sink, none), ConnectResult::Connected);
  EXPECT_EQ(session.streamPort(), listener.port());
  EXPECT_EQ(route.http->connectionCount(), 1u);

  // Closed port: the connection is refused.
  const uint16_t closedPort = listener.port();
  listener.close();
  Route closed(closedPort);
  EXPECT_EQ(session.connect(closed.login, sink, none), ConnectResult::Unreachable);
  EXPECT_EQ(session.streamPort(), closedPort);
}

TEST(Connect, UnansweredProbeGivesUpAtItsLimit) {
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

  SessionSettings settings = fastSettings();
  settings.probeTimeout = 400ms;
  StreamSession session(settings);
  RecordingSink sink;
  Route route(listener.port());
  const auto start = Clock::now();
  EXPECT_EQ(session.connect(route.login, sink, only(1)), ConnectResult::Unreachable);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 350ms);
  EXPECT_LT(took, 3s);
  for (int fd : fillers)
    ::close(fd);
}

TEST(Connect, SixteenChannelsLogInPausedAndAreResumedAtClose) {
  TestServer server([](Peer& peer) { peer.readToEnd(10s); });
  Route route(server.port());
  StreamSession session(fastSettings());
  RecordingSink sink;
  ASSERT_EQ(session.connect(route.login, sink, noWait()), ConnectResult::Connected);
  EXPECT_EQ(session.unanswered(), 0xFFFFu);
  for (int n = 1; n <= 16; ++n) {
    EXPECT_NE(session.channel(n).socket, kNoConnection);
    EXPECT_FALSE(session.channel(n).active);
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
  EXPECT_EQ(session.wireLoginCopy().account, "guest");

  const auto start = Clock::now();
  session.closeAllChannels();
  EXPECT_LT(Clock::now() - start, 2s);
  for (size_t i = 1; i <= 16; ++i) {
    const int channel = static_cast<int>(i);
    ASSERT_TRUE(eventually([&] { return server.closedByClient(i); })) << i;
    EXPECT_EQ(server.received(i), expectedLogin(channel) + formatResume(channel)) << i;
    EXPECT_EQ(session.channel(channel).socket, kNoConnection);
  }
  EXPECT_EQ(server.connectionCount(), 17u);  // nobody reconnected
  EXPECT_EQ(sink.count("reconnected"), 0u);
}

TEST(Connect, ARecorderThatTakesTheConnectionsAndSaysNothingIsNotLoggedIn) {
  TestServer server([](Peer& peer) { peer.readToEnd(10s); });
  Route route(server.port());
  SessionSettings settings = fastSettings();
  settings.connectLimit = 600ms;
  StreamSession session(settings);
  RecordingSink sink;
  EXPECT_EQ(session.connect(route.login, sink), ConnectResult::Unanswered);
  for (int n = 1; n <= 16; ++n)
    EXPECT_EQ(session.channel(n).socket, kNoConnection);
}

TEST(Connect, AccountLoginIsSentAsEightBitTextAndUsedByCameraCommands) {
  TestServer server([](Peer& peer) { peer.readToEnd(10s); });
  Route route(server.port());
  route.login.guest = false;
  route.login.account = u"oper\u00e4tor";
  route.login.password = u"pa55";
  StreamSession session(fastSettings());
  RecordingSink sink;
  ASSERT_EQ(session.connect(route.login, sink, only(5)), ConnectResult::Connected);
  const std::string login = formatLogin(5, "oper\xe4tor", "pa55");
  ASSERT_TRUE(eventually([&] { return server.received(1).size() >= 13 + 3 * login.size(); }));
  session.sendCameraCommand(5, "up");
  const std::string command = formatCameraCommand(5, "up", "oper\xe4tor", "pa55");
  ASSERT_TRUE(eventually([&] { return server.received(1).ends_with(command); }));
  EXPECT_EQ(server.received(1), formatConnect(5) + login + login + login + command);
}

TEST(Connect, FifteenConnectionsAndNoSixteenthFails) {
  // The listen queue takes the probe and fifteen channels; nothing is
  // accepted until the sequence is over, so the sixteenth gets no answer.
  TestServer server([](Peer& peer) { peer.readToEnd(5s); }, 15, false);
  Route route(server.port());
  StreamSession session(fastSettings());
  RecordingSink sink;
  ASSERT_EQ(session.connect(route.login, sink, noWait()), ConnectResult::Unreachable);
  for (int n = 1; n <= 16; ++n)
    EXPECT_EQ(session.channel(n).socket, kNoConnection);

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

TEST(Connect, ASecondSequenceIsRefusedWhileOneRunsAndCancelEndsIt) {
  TestServer server([](Peer& peer) { peer.readToEnd(10s); });
  Route route(server.port());
  SessionSettings settings = fastSettings();
  settings.connectLimit = 10s;
  StreamSession session(settings);
  RecordingSink sink;
  std::atomic<int> first{-1};
  std::thread sequence([&] { first = int(session.connect(route.login, sink)); });
  ASSERT_TRUE(server.waitForConnections(17));
  EXPECT_EQ(session.connect(route.login, sink), ConnectResult::Busy);
  const auto start = Clock::now();
  session.cancelConnect();
  sequence.join();
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(first, int(ConnectResult::Cancelled));
  EXPECT_EQ(session.channel(1).socket, kNoConnection);
}

// One channel opened against `server` (its connection 1; 0 is the probe).
class ChannelTest : public ::testing::Test {
 protected:
  void open(const TestServer& server, SessionSettings settings = fastSettings()) {
    route = std::make_unique<Route>(server.port());
    session = std::make_unique<StreamSession>(settings);
    ASSERT_EQ(session->connect(route->login, sink, only(1)), ConnectResult::Connected);
  }
  RecordingSink sink;
  std::unique_ptr<Route> route;
  std::unique_ptr<StreamSession> session;
};

TEST_F(ChannelTest, DroppedConnectionReconnectsAndLogsInAgain) {
  TestServer server([](Peer& peer) {
    if (peer.index() == 0) return;
    if (peer.index() == 1) {
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
  ASSERT_TRUE(eventually([&] { return sink.copy().size() >= 3; }));
  ASSERT_TRUE(server.waitForConnections(3));
  // A recorder that restarted knows nothing of the first login.
  ASSERT_TRUE(eventually([&] { return server.received(2) == expectedLogin(1); }));
  EXPECT_EQ(sink.copy(), (std::vector<std::string>{"1:tick", "1:reconnected", "1:tick"}));
  EXPECT_EQ(server.received(1), expectedLogin(1));

  session->closeAllChannels();
  ASSERT_TRUE(eventually([&] { return server.closedByClient(2); }));
  EXPECT_EQ(server.received(2), expectedLogin(1) + formatResume(1));
}

TEST_F(ChannelTest, SilentServerCountsAsAFailedRead) {
  TestServer server([](Peer& peer) { peer.readToEnd(10s); });
  SessionSettings settings = fastSettings();
  settings.receiveTimeout = 300ms;
  // From before the first connection: the silence is timed from there.
  const auto start = Clock::now();
  open(server, settings);
  ASSERT_TRUE(server.waitForConnections(3));
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 250ms);
  EXPECT_LT(took, 2s);
  ASSERT_TRUE(eventually([&] { return server.received(2) == expectedLogin(1); }));
  EXPECT_TRUE(sink.contains("1:reconnected"));
}

TEST_F(ChannelTest, RefusedReconnectionsKeepTryingWithoutSpinning) {
  auto server = std::make_unique<TestServer>([](Peer& peer) {
    if (peer.index() == 0) return;
    peer.send(messageHeader(39156.5, 0));
    peer.close();
  });
  SessionSettings settings = fastSettings();
  settings.reconnectPauseLimit = 40ms;
  settings.receiveTimeout = 200ms;  // a connection made while the server goes away
  open(*server, settings);
  ASSERT_TRUE(server->waitForConnections(2));
  server.reset();  // the server goes away: every reconnection is refused
  // It keeps trying (a loaded machine may take a while for the first few)...
  EXPECT_TRUE(eventually([&] { return sink.copy().size() >= 3; }, 3s));
  // ...without spinning: pauses of 20 ms, then 40 ms after each failed
  // attempt, about 15 in 600 ms.
  const auto before = sink.copy().size();
  std::this_thread::sleep_for(600ms);
  EXPECT_LT(sink.copy().size() - before, 100u);
  const auto start = Clock::now();
  session->closeAllChannels();
  EXPECT_LT(Clock::now() - start, 1s);
}

// A recorder that closes every connection after its INFO text, after one
// picture header, or after one whole picture: progress is a picture the
// sink took on a connection that then lived, so none of them is reopened
// more than a few times a second.
TEST_F(ChannelTest, ConnectionsClosedEarlyAreNotReopenedInAStorm) {
  const std::string info = "INFO\r\nCam\r\nSrv\r\n1";
  const std::string picture(300, '\x11');
  std::atomic<int> mode{0};
  std::atomic<bool> serving{false};
  TestServer server([&](Peer& peer) {
    if (peer.index() == 0) return;
    if (serving) {
      peer.readLine();
      for (int i = 0; i < 50 && peer.send(messageHeader(39156.5, 0)); ++i)
        std::this_thread::sleep_for(100ms);
      return;
    }
    peer.send(messageHeader(2, 0x100000 + static_cast<int32_t>(info.size())) + info);
    if (mode == 1) peer.send(messageHeader(3, 300) + picture.substr(0, 10));
    if (mode == 2) peer.send(messageHeader(3, 300) + picture);
    std::this_thread::sleep_for(20ms);
    peer.close();
  });
  SessionSettings settings = fastSettings();
  settings.reconnectPause = 500ms;
  settings.reconnectPauseLimit = 4s;
  for (int m = 0; m < 3; ++m) {
    mode = m;
    open(server, settings);
    const size_t before = server.connectionCount();
    std::this_thread::sleep_for(2s);
    // Pauses of 0, 0.5, 1, 2 s: four connections in two seconds at most.
    EXPECT_LE(server.connectionCount() - before, 5u) << "mode " << m;
    EXPECT_GE(server.connectionCount() - before, 2u) << "mode " << m;
    session->closeAllChannels();
  }
  EXPECT_EQ(sink.count("frame 300"), sink.count(":frame"));
  // It serves again: the next attempt finds it within one longest pause.
  serving = true;
  open(server, settings);
  ASSERT_TRUE(eventually([&] { return sink.contains("1:tick"); }, 5s));
}

TEST_F(ChannelTest, OversizedAndMeaninglessLengthCodesReachTheSinkAsNothing) {
  TestServer server([](Peer& peer) {
    if (peer.index() == 0) return;
    if (peer.index() == 1) {
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
  ASSERT_TRUE(eventually([&] { return sink.contains("1:info 1"); }));
  EXPECT_EQ(sink.copy(),
            (std::vector<std::string>{"1:frame 158976", "1:tick", "1:reconnected", "1:info 1"}));
  // The reconnection logs in again; the channel, known now and not
  // watched, is paused.
  EXPECT_TRUE(eventually([&] { return server.received(2) == expectedLogin(1) + formatPause(1); }))
      << server.received(2);
}

TEST_F(ChannelTest, AChannelClosedBeforeAnyByteIsAbsentAndTriedRarely) {
  std::atomic<bool> serving{false};
  TestServer server([&](Peer& peer) {
    if (peer.index() == 0) return;
    if (!serving) return peer.close();  // a recorder without this channel
    readLogin(peer);
    const std::string info = "INFO\r\nCam\r\nSrv\r\n1";
    peer.send(messageHeader(2, 0x100000 + static_cast<int32_t>(info.size())) + info);
    peer.readToEnd(10s);
  });
  SessionSettings settings = fastSettings();
  settings.absentRetry = 1500ms;
  route = std::make_unique<Route>(server.port());
  session = std::make_unique<StreamSession>(settings);
  // The wait for its answer ends when it is closed before any text.
  ASSERT_EQ(session->connect(route->login, sink, only(1, 1)), ConnectResult::Connected);
  // Closed before a byte twice running: absent.
  ASSERT_TRUE(eventually([&] { return session->channel(1).absent.load(); }));
  EXPECT_TRUE(sink.contains("1:absent"));
  EXPECT_EQ(session->unanswered(), 0u);
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(server.connectionCount(), 3u);
  serving = true;
  ASSERT_TRUE(eventually([&] { return sink.contains("1:info 1"); }, 3s));
  EXPECT_EQ(server.connectionCount(), 4u);
  EXPECT_FALSE(session->channel(1).absent);
}

TEST(Connect, SixteenStreamingChannelsClosedRepeatedly) {
  TestServer server([](Peer& peer) {
    if (peer.index() % 17 == 0) return;  // the probes
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
  Route route(server.port());
  StreamSession session(fastSettings());
  RecordingSink sink;
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_EQ(session.connect(route.login, sink, noWait()), ConnectResult::Connected) << cycle;
    // The UI thread pauses and resumes while the threads read.
    for (int round = 0; round < 20; ++round) {
      for (int n = 1; n <= 16; ++n) {
        if (round % 2) {
          session.pause(n);
        } else {
          session.resume(n);
        }
      }
      std::this_thread::sleep_for(5ms);
    }
    session.closeAllChannels();
    for (int n = 1; n <= 16; ++n)
      EXPECT_EQ(session.channel(n).socket, kNoConnection);
  }
  EXPECT_GT(sink.count(":frame"), 48u);
}

}  // namespace
}  // namespace zenta::stream
