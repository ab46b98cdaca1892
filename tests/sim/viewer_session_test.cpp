// The viewer's stream client against the simulator: the port query, sixteen
// channels logged in, pictures decoded by our own decoder, and reconnections
// after the server drops or garbles a connection, resumed without a login.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <mutex>

#include "stream/session.h"
#include "tests/sim/wire_client.h"
#include "video/h263/picture_decoder.h"

namespace zenta::testing {
namespace {

struct ChannelTally {
  std::atomic<int> decoded{0};
  std::atomic<int> reconnects{0};
  std::atomic<int> width{0};
  std::atomic<char> permission{0};
  std::atomic<int> decodedAfterReconnect{0};
  video::PictureDecoder decoder;
};

// A sink that decodes with our decoder and counts.
struct DecodingSink : stream::ChannelSink {
  std::array<ChannelTally, 16> tallies;
  ChannelTally& of(const stream::Connection& channel) {
    return tallies[static_cast<size_t>(channel.number - 1)];
  }
  void onInfo(stream::Connection& channel, const stream::InfoText& info) override {
    of(channel).permission = info.permission;
  }
  bool onPicture(stream::Connection& channel, std::span<const uint8_t> payload, double) override {
    ChannelTally& tally = of(channel);
    const auto decoded = tally.decoder.decode(payload);
    if (!decoded) return false;
    ++tally.decoded;
    if (tally.reconnects > 0) ++tally.decodedAfterReconnect;
    tally.width = decoded->width;
    return true;
  }
  void onState(stream::Connection& channel, stream::LinkState state) override {
    if (state == stream::LinkState::Reconnecting) ++of(channel).reconnects;
  }
};

TEST(ViewerAgainstSimulator, SixteenChannelsDecodeAndReconnectionsResume) {
  SimProcess sim({"--size", "3=368x288", "--size", "4=176x144", "--fault", "5:drop-after=4",
                  "--fault", "6:min-length=3", "--fault", "7:oversize=2", "--fault",
                  "8:not-h263=2"});
  ASSERT_TRUE(sim.ok());
  stream::Login login;
  const std::string host = "127.0.0.1:" + std::to_string(sim.httpPort());
  login.host.assign(host.begin(), host.end());
  DecodingSink sink;
  auto& tallies = sink.tallies;
  stream::SessionSettings settings;
  settings.reconnectPause = 50ms;
  stream::StreamSession session(settings);
  ASSERT_EQ(session.connect(login, sink), stream::ConnectResult::Connected);
  for (int n = 1; n <= 16; ++n)
    session.resume(n);

  const auto deadline = SteadyClock::now() + 10s;
  const auto done = [&] {
    for (const ChannelTally& tally : tallies)
      if (tally.decoded < 10) return false;
    return tallies[4].decodedAfterReconnect >= 5 && tallies[5].decodedAfterReconnect >= 5;
  };
  while (!done() && SteadyClock::now() < deadline)
    std::this_thread::sleep_for(50ms);
  session.closeAllChannels();

  for (int channel = 1; channel <= 16; ++channel) {
    const ChannelTally& tally = tallies[static_cast<size_t>(channel - 1)];
    EXPECT_GE(tally.decoded, 10) << channel;
    EXPECT_EQ(tally.permission, channel <= 4 ? '1' : '0') << channel;
    EXPECT_EQ(tally.width, channel == 3 ? 368 : channel == 4 ? 176 : 320) << channel;
  }
  // Dropped (5) and broken (6) streams reconnect and log in again, as the
  // first connection did.
  EXPECT_GE(tallies[4].reconnects, 1);
  EXPECT_GE(tallies[4].decodedAfterReconnect, 5);
  EXPECT_GE(tallies[5].reconnects, 1);
  EXPECT_GE(tallies[5].decodedAfterReconnect, 5);
  EXPECT_GE(sim.events("login", {"\"channel\":5,", "\"ok\":true"}).size(), 2u);
  EXPECT_GE(sim.events("login", {"\"channel\":6,", "\"ok\":true"}).size(), 2u);
  // The oversized picture is discarded and the channel goes on.
  EXPECT_EQ(tallies[6].reconnects, 0);
  EXPECT_EQ(tallies[7].reconnects, 0);
  // Each connection was resumed before the viewer closed it (but for 5 and
  // 6, which the server may just have dropped when the viewer closes).
  for (int channel = 1; channel <= 16; ++channel) {
    if (channel == 5 || channel == 6) continue;
    EXPECT_TRUE(sim.waitForEvent("resume", {"\"channel\":" + std::to_string(channel) + "}"}))
        << channel;
  }
  EXPECT_TRUE(sim.waitForEvent("http", {"\"status\":200"}));
}

}  // namespace
}  // namespace zenta::testing
