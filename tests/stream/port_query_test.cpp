#include "stream/port_query.h"

#include <gtest/gtest.h>

#include "stream/session.h"
#include "tests/support/loopback.h"

namespace zenta::stream {
namespace {

using namespace std::chrono_literals;
using zenta::testing::Peer;
using zenta::testing::TestServer;
using Clock = std::chrono::steady_clock;

std::string readRequest(Peer& peer) {
  std::string request;
  for (;;) {
    const std::string line = peer.readLine(2s);
    request += line;
    if (line.size() <= 2) return request;
  }
}

TestServer replying(std::string reply) {
  return TestServer([reply](Peer& peer) {
    readRequest(peer);
    peer.send(reply);
    peer.close();
  });
}

std::u16string hostWithPort(uint16_t port) {
  const std::string text = "127.0.0.1:" + std::to_string(port);
  return std::u16string(text.begin(), text.end());
}

TEST(PortQuery, RequestLineAndHeaders) {
  TestServer server = replying("HTTP/1.0 200 OK\r\n\r\n80 18084");
  EXPECT_EQ(queryStreamPort("127.0.0.1", server.port(), 2s), 18084);
  ASSERT_EQ(server.connectionCount(), 1u);
  EXPECT_EQ(server.received(0),
            "GET ports HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                "\r\nUser-Agent: WINCE\r\n\r\n");
}

TEST(PortQuery, Replies) {
  struct Case {
    std::string reply;
    std::optional<int> port;
  };
  const Case cases[] = {
      {"HTTP/1.0 200 OK\r\n\r\n80 18084", 18084},
      {"HTTP/1.0 200 OK\r\nContent-Length: 12\r\n\r\n8080\r\n18099\r\n", 18099},
      {"HTTP/1.0 200 OK\r\n\r\n18084", std::nullopt},
      {"HTTP/1.0 200 OK\r\n\r\n", std::nullopt},
      {"HTTP/1.0 404 Not Found\r\n\r\nno such object", std::nullopt},
      {"garbage that is no HTTP", std::nullopt},
      // Only the first 250 bytes of the body are read.
      {"HTTP/1.0 200 OK\r\n\r\n" + std::string(249, ' ') + "80 18084", std::nullopt},
      {"HTTP/1.0 200 OK\r\n\r\n" + std::string(240, ' ') + "80 18084", 18084},
  };
  for (const Case& c : cases) {
    TestServer server = replying(c.reply);
    EXPECT_EQ(queryStreamPort("127.0.0.1", server.port(), 2s), c.port) << c.reply;
  }
}

TEST(PortQuery, SilentServerEndsAtTheLimit) {
  TestServer server([](Peer& peer) { peer.readToEnd(5s); });
  const auto start = Clock::now();
  EXPECT_FALSE(queryStreamPort("127.0.0.1", server.port(), 300ms));
  EXPECT_LT(Clock::now() - start, 2s);

  // A reply whose connection stays open still counts once it has arrived.
  TestServer lingering([](Peer& peer) {
    readRequest(peer);
    peer.send("HTTP/1.0 200 OK\r\n\r\n80 18090");
    peer.readToEnd(5s);
  });
  EXPECT_EQ(queryStreamPort("127.0.0.1", lingering.port(), 300ms), 18090);
}

TEST(PortQuery, HostNamesThatCouldBendTheAddressMakeNoRequest) {
  TestServer server = replying("HTTP/1.0 200 OK\r\n\r\n80 18084");
  EXPECT_FALSE(queryStreamPort("user@127.0.0.1", server.port(), 1s));
  EXPECT_FALSE(queryStreamPort("127.0.0.1/x", server.port(), 1s));
  EXPECT_FALSE(queryStreamPort("", server.port(), 1s));
  EXPECT_EQ(server.connectionCount(), 0u);
}

// A connect sequence that opens no channel: the port query and the probe.
ConnectResult probe(StreamSession& session, std::u16string host) {
  struct : ChannelSink {
    bool onPicture(Connection&, std::span<const uint8_t>, double) override { return false; }
  } sink;
  Login login;
  login.host = std::move(host);
  ConnectOptions options;
  options.channels = 0;
  options.awaitChannel = 0;
  return session.connect(login, sink, options);
}

TEST(PortQuery, ProbeMakesNoRequestWithoutAPort) {
  TestServer server = replying("HTTP/1.0 200 OK\r\n\r\n80 18084");
  SessionSettings settings;
  settings.probeTimeout = 300ms;
  StreamSession session(settings);
  for (const std::u16string& host : {std::u16string(u"127.0.0.1"), std::u16string(u"127.0.0.1:"),
                                     std::u16string(u"127.0.0.1:abc")}) {
    probe(session, host);
    EXPECT_EQ(session.streamPort(), 18083);
  }
  EXPECT_EQ(server.connectionCount(), 0u);

  // With a port, the reply sets the stream port.
  probe(session, hostWithPort(server.port()));
  EXPECT_EQ(session.streamPort(), 18084);
  EXPECT_EQ(server.connectionCount(), 1u);
}

TEST(PortQuery, UnansweredQueryLeavesTheDefaultAndProbesIt) {
  TestServer silent([](Peer& peer) { peer.readToEnd(5s); });
  // Something listening on the default port, where the host allows it.
  zenta::testing::Listener defaultPort(64, 18083);
  SessionSettings settings;
  settings.portQueryTimeout = 300ms;
  settings.probeTimeout = 300ms;
  StreamSession session(settings);
  const auto start = Clock::now();
  const auto result = probe(session, hostWithPort(silent.port()));
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_EQ(session.streamPort(), 18083);
  if (defaultPort.ok()) {
    EXPECT_EQ(result, ConnectResult::Connected);
  }
}

}  // namespace
}  // namespace zenta::stream
