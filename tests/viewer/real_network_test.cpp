// The zenta program against recorders as real networks bring them: pictures
// of every size, servers that answer slowly or not at all, recorders that
// are switched off, restart, close connections or have fewer channels, and
// what the screen shows after it was painted over.
#include <signal.h>

#include <cstdlib>

#include "tests/viewer/live_fixture.h"

namespace zenta::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr Area kStatusLeft{7, 23, 110, 14};
constexpr Area kStatusRight{120, 23, 113, 14};

long blackIn(const std::vector<uint32_t>& pixels) {
  return long(std::count(pixels.begin(), pixels.end(), 0u));
}

// Near-white pixels of a 320 x 240 picture in columns 103 to 122 and rows
// 83 to 165: where the PTZ panel draws its circled presets 1 to 4, and where
// the simulator's world (a red grid, cyan balls, the clock at the top) has
// no white.
long whiteInPresetColumn(const JpegImage& jpeg) {
  long count = 0;
  for (int y = 83; y < 166 && y < jpeg.height; ++y) {
    for (int x = 103; x < 123 && x < jpeg.width; ++x) {
      const uint32_t p = jpeg.pixels[size_t(y) * size_t(jpeg.width) + size_t(x)];
      count += (p >> 16 & 0xFF) > 200 && (p >> 8 & 0xFF) > 200 && (p & 0xFF) > 200;
    }
  }
  return count;
}

// A port query that names `streamPort`.
std::unique_ptr<TestServer> portServer(uint16_t streamPort) {
  return std::make_unique<TestServer>([streamPort](Peer& peer) {
    peer.readLine();
    peer.send("HTTP/1.0 200 OK\r\n\r\n80 " + std::to_string(streamPort));
    peer.close();
  });
}

std::u16string hostText(uint16_t httpPort) {
  const std::string text = "127.0.0.1:" + std::to_string(httpPort);
  return std::u16string(text.begin(), text.end());
}

TEST_F(Live, PicturesOfEverySizeAreShownAndSavedWhole) {
  start({"--size", "1=704x576", "--size", "2=320x180"});
  connect();
  ASSERT_TRUE(changes(kPicture));
  // 704 x 576 keeps its shape: black bars beside it, its top and bottom rows
  // (the channel's red world) in the area's top and bottom rows.
  EXPECT_EQ(blackIn(pixels({0, 46, 8, 178})), 8 * 178);
  EXPECT_EQ(blackIn(pixels({232, 46, 8, 178})), 8 * 178);
  for (const Area band : {Area{30, 47, 180, 12}, Area{30, 210, 180, 12}}) {
    const Mean m = mean(band);
    EXPECT_GT(m.r, m.g + 30) << band.y;
  }
  tap(kSnapshotX, kMenuRow);
  ASSERT_TRUE(eventually([&] { return snapshots(dir).size() == 1; }));
  auto jpeg = readJpegFile(dir + "/WebCAM/" + snapshots(dir).front());
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->width, 704);
  EXPECT_EQ(jpeg->height, 576);
  EXPECT_LT(distance(meanOf(jpeg->pixels), mean({10, 46, 220, 178})), 40);

  // 320 x 180: the whole picture over the area, no band from outside it.
  tap(kNextX, kButtonRow);
  ASSERT_TRUE(eventually([&] { return lastFlowEvent(2) == "resume"; }));
  ASSERT_TRUE(changes(kPicture));
  // (Once its first picture is drawn: the change seen may be the last one
  // shown of channel 1 going.)
  EXPECT_TRUE(eventually(
      [&] {
        return distance(mean({0, 200, 240, 24}), mean({0, 120, 240, 24})) < 60;
      },
      3s));
  tap(kSnapshotX, kMenuRow);
  ASSERT_TRUE(eventually([&] { return snapshots(dir).size() == 2; }));
  for (const std::string& name : snapshots(dir)) {
    if (name.find("Camera 2") == std::string::npos) continue;
    jpeg = readJpegFile(dir + "/WebCAM/" + name);
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->width, 320);
    EXPECT_EQ(jpeg->height, 180);
  }
}

TEST_F(Live, ConnectingToAServerThatSaysNothingKeepsTheWindowAnswering) {
  // Takes every connection and never sends a byte.
  TestServer silent([](Peer& peer) { peer.readToEnd(30s); });
  const auto ports = portServer(silent.port());
  start({}, {}, hostText(ports->port()));
  const auto idle = pixels(kStatusLeft);
  const auto connecting = tapConnectUntilConnecting();
  ASSERT_TRUE(connecting);
  ASSERT_TRUE(silent.waitForConnections(16));
  for (int i = 0; i < 5; ++i) {
    const auto asked = Clock::now();
    EXPECT_EQ(zenta->command("idle"), "ok");
    EXPECT_LT(Clock::now() - asked, 500ms);
  }
  // A second tap gives up: "Can't Connect !" and every connection closed.
  tap(kConnectX, kButtonRow);
  EXPECT_TRUE(eventually(
      [&] { return pixels(kStatusLeft) != *connecting && alerts(kStatusLeft) > 20; }, 1s));
  EXPECT_TRUE(eventually(
      [&] {
        for (size_t i = 0; i < 16; ++i)
          if (!silent.closedByClient(i)) return false;
        return true;
      },
      2s));
  const auto cantConnect = pixels(kStatusLeft);
  EXPECT_NE(cantConnect, idle);
  // Left alone, the sequence gives up by itself.
  const auto tapped = Clock::now();
  tap(kConnectX, kButtonRow);
  ASSERT_TRUE(eventually([&] { return pixels(kStatusLeft) == *connecting; }, 1s));
  ASSERT_TRUE(eventually([&] { return pixels(kStatusLeft) == cantConnect; }, 14s));
  EXPECT_LT(Clock::now() - tapped, 12500ms);
}

TEST_F(Live, ConnectingWhileThePortQueryGoesUnansweredEndsAtOnceOnAKill) {
  TestServer mute([](Peer& peer) { peer.readToEnd(30s); });  // takes the query, says nothing
  start({}, {}, hostText(mute.port()));
  // The tap is taken, and the window answers, while the query waits.
  const auto tapped = Clock::now();
  tap(kConnectX, kButtonRow);
  EXPECT_LT(Clock::now() - tapped, 500ms);
  ASSERT_TRUE(mute.waitForConnections(1));
  const auto asked = Clock::now();
  EXPECT_EQ(zenta->command("idle"), "ok");
  EXPECT_LT(Clock::now() - asked, 500ms);
  EXPECT_GT(alerts(kStatusLeft), 20);  // "Connecting..."
  ::kill(zenta->pid(), SIGTERM);
  const auto code = zenta->wait(2s);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, 0);
}

TEST_F(Live, CantConnectClearsWhatTheSequenceHadShown) {
  // Channel 1 answers with its INFO text; the connections after the listen
  // queue is full are never taken, and the sequence runs out of time.
  Listener listener(1);
  std::atomic<bool> done{false};
  std::thread first([&] {
    // The probe's connection comes first and ends at once; then channel 1's.
    // The wait begins before the viewer has started: under a sanitizer on a
    // loaded machine that alone may take several seconds.
    std::unique_ptr<Peer> channel;
    for (int i = 0; i < 2 && !channel; ++i) {
      const int fd = listener.accept(30s);
      if (fd < 0) return;
      auto peer = std::make_unique<Peer>(fd, 0);
      if (!peer->readLine().empty()) channel = std::move(peer);
    }
    if (!channel) return;
    Peer& peer = *channel;
    const std::string info = "INFO\r\nGate\r\nTest DVR\r\n0";
    peer.send(messageHeader(39156.5, 0x100000 + int32_t(info.size())) + info);
    while (!done)
      std::this_thread::sleep_for(50ms);
    peer.close();
  });
  const auto ports = portServer(listener.port());
  start({}, {}, hostText(ports->port()));
  const auto idlePicture = pixels(kPicture);
  const auto connecting = tapConnectUntilConnecting();
  ASSERT_TRUE(connecting);
  const auto greenIn = [&](const Area& a) {
    const auto p = pixels(a);
    return std::count(p.begin(), p.end(), 0x00FF00u);
  };
  EXPECT_TRUE(eventually([&] { return greenIn(kStatusRight) > 10; }, 10s));  // "Gate"
  // "Can't Connect !", and the name is gone.
  ASSERT_TRUE(eventually([&] { return pixels(kStatusLeft) != *connecting; }, 14s));
  EXPECT_GT(alerts(kStatusLeft), 20);
  EXPECT_EQ(greenIn(kStatusRight), 0);
  EXPECT_EQ(pixels(kPicture), idlePicture);
  done = true;
  first.join();
}

TEST_F(Live, ARecorderSwitchedOffIsMarkedAndComesBackWhenItRestarts) {
  start({});
  connect();
  ASSERT_TRUE(changes(kPicture));
  EXPECT_EQ(alerts(kStatusRight), 0);
  fourPictures();
  ASSERT_TRUE(changes(kQuads[3]));
  ASSERT_EQ(sim->stop(SIGKILL), 128 + SIGKILL);
  // Each quadrant is marked as silent.
  for (const Area& q : kQuads)
    EXPECT_TRUE(eventually([&] { return alerts(q) > 20; }, 5s));
  // One picture: the status line says it.
  tap(kOneX, kButtonRow);
  EXPECT_TRUE(eventually([&] { return alerts(kStatusRight) > 20; }, 2s));
  restartSim();
  // Live again without a touch: new logins, pictures, the mark gone.
  EXPECT_TRUE(eventually([&] { return logins(1) >= 1; }, 8s));
  EXPECT_TRUE(changes(kPicture, 8s));
  EXPECT_TRUE(eventually([&] { return alerts(kStatusRight) == 0; }, 2s));
}

TEST_F(Live, ServersThatCloseAfterATickOrATextAreNotHammered) {
  start({"--fault", "2:tick-then-close", "--fault", "3:info-then-close"});
  connect();
  std::this_thread::sleep_for(5s);
  // Pauses of 0.5 s doubling to 4 s: a handful of connections, not hundreds.
  for (const int channel : {2, 3}) {
    const size_t connections = count("channel", channel);
    EXPECT_GE(connections, 3u) << channel;
    EXPECT_LE(connections, 12u) << channel;
  }
  EXPECT_TRUE(changes(kPicture));
}

TEST_F(Live, RepaintsShowOnlyWhatTheLoginMayView) {
  start({"--guest-permissions", "1122000000000000"});
  connect();
  ASSERT_TRUE(changes(kPicture));
  const auto openAndCloseTheDialog = [&] {
    tap(90, 307);
    ASSERT_TRUE(eventually(
        [&] { return zenta->command("windows").find("|Dialog|") != std::string::npos; }));
    ASSERT_EQ(zenta->command("key 27"), "ok");
    ASSERT_TRUE(eventually(
        [&] { return zenta->command("windows").find("|Dialog|") == std::string::npos; }));
    ASSERT_EQ(zenta->command("idle"), "ok");
  };
  // The camera's name stays in the status line.
  const auto name = pixels(kStatusRight);
  openAndCloseTheDialog();
  EXPECT_EQ(pixels(kStatusRight), name);
  // Four pictures: the refused channels 3 and 4 stay black, marked, and the
  // server's title stays.
  fourPictures();
  const auto title = pixels(kStatusRight);
  openAndCloseTheDialog();
  EXPECT_EQ(pixels(kStatusRight), title);
  for (const Area& q : {kQuads[2], kQuads[3]}) {
    const auto p = pixels(q);
    EXPECT_GT(blackIn(p), long(p.size() * 8 / 10));
    EXPECT_GT(alerts(q), 20);  // "No Right"
  }
  // PTZ mode with four pictures: no panel, and a tap moves no camera.
  tap(kPtzX, kMenuRow);
  tap(60, 80);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(sim->events("command").size(), 0u);
}

TEST_F(Live, ASnapshotInPtzModeHoldsOnlyTheCamerasPicture) {
  start({});
  connect();
  ASSERT_TRUE(changes(kPicture));
  tap(kSnapshotX, kMenuRow);
  ASSERT_TRUE(eventually([&] { return snapshots(dir).size() == 1; }));
  tap(kPtzX, kMenuRow);
  const auto panelUp = pixels({120, 46 + 10, 14, 10});
  std::this_thread::sleep_for(1100ms);  // a new second for a new name
  tap(kSnapshotX, kMenuRow);
  ASSERT_TRUE(eventually([&] { return snapshots(dir).size() == 2; }));
  // Named by the second they were taken: the plain one first. No more
  // white where the panel's presets stand in the second.
  auto names = snapshots(dir);
  std::sort(names.begin(), names.end());
  const auto plain = readJpegFile(dir + "/WebCAM/" + names[0]);
  const auto steering = readJpegFile(dir + "/WebCAM/" + names[1]);
  ASSERT_TRUE(plain && steering);
  EXPECT_LT(whiteInPresetColumn(*steering), whiteInPresetColumn(*plain) + 10);
  // The panel was on screen all the same.
  EXPECT_GT(std::count(panelUp.begin(), panelUp.end(), 0xFFFFFFu), 5);
}

TEST_F(Live, APictureTheDecoderRejectsLeavesTheNextOnesWhole) {
  // Intra pictures far apart: every picture after the rejected one is
  // predicted, and must be predicted from the last good one.
  start({"--size", "1=352x288", "--gop", "300", "--fault", "1:unsupported-mode=15"});
  connect();
  ASSERT_TRUE(changes(kPicture));
  const Mean before = mean(kPicture);
  ASSERT_TRUE(sim->waitForEvent("fault", {"unsupported-mode"}));
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(changes(kPicture));
  EXPECT_LT(distance(mean(kPicture), before), 40);
}

}  // namespace
}  // namespace zenta::testing
