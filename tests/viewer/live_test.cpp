// The zenta program against the camera server simulator: connecting, one
// and four pictures, stepping through channels and pages, PTZ, refusals,
// disconnecting, the full-screen view, snapshots and faults. Three
// witnesses: the screen's pixels, the simulator's event log and the files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "hosts/host_store.h"
#include "platform/registry/registry.h"
#include "tests/sim/wire_client.h"
#include "tests/support/jpeg_file.h"
#include "tests/support/loopback.h"
#include "tests/support/test_folder.h"
#include "tests/support/zenta_process.h"

namespace zenta::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Places on the 240 x 320 screen with the shipped skin.
constexpr int kButtonRow = 259;
constexpr int kConnectX = 34, kOneX = 88, kFourX = 132, kPrevX = 175, kNextX = 217;
constexpr int kMenuRow = 307, kFullScreenX = 38, kPtzX = 64, kSnapshotX = 116;
struct Area {
  int x, y, w, h;
};
constexpr Area kPicture{0, 46, 240, 178};
constexpr Area kQuads[4] = {
    {0, 46, 120, 88}, {121, 46, 119, 88}, {0, 135, 120, 88}, {121, 135, 119, 88}};
constexpr Area kStatus{7, 23, 226, 14};

struct Mean {
  double r = 0, g = 0, b = 0;
  double luma() const { return 0.299 * r + 0.587 * g + 0.114 * b; }
};

Mean meanOf(const std::vector<uint32_t>& pixels) {
  Mean m;
  for (const uint32_t p : pixels) {
    m.r += p >> 16 & 0xFF;
    m.g += p >> 8 & 0xFF;
    m.b += p & 0xFF;
  }
  const double n = std::max<size_t>(pixels.size(), 1);
  return {m.r / n, m.g / n, m.b / n};
}

double distance(const Mean& a, const Mean& b) {
  return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

class Live : public ::testing::Test {
 protected:
  void TearDown() override {
    zenta.reset();
    sim.reset();
  }

  // The simulator with `options`, remembered in a fresh registry as the
  // host to connect to, and zenta started on it.
  void start(std::vector<std::string> options, std::vector<std::string> zentaOptions = {},
             const std::u16string& host = u"") {
    options.insert(options.end(), {"--title", "Test DVR", "--no-picture-log"});
    sim = std::make_unique<SimProcess>(options);
    ASSERT_TRUE(sim->ok());
    platform::setRegistryFile(dir + "/registry");
    stream::ViewerState state;
    const std::string port = std::to_string(sim->httpPort());
    hosts::HostStore(state).saveHost(
        host.empty() ? u"127.0.0.1:" + std::u16string(port.begin(), port.end()) : host, u"", u"",
        true);
    zenta = std::make_unique<ZentaProcess>(ZENTA_PROGRAM, dir, zentaOptions);
    ASSERT_TRUE(zenta->ready()) << zenta->errors();
  }

  void tap(int x, int y) {
    ASSERT_EQ(zenta->command("tap " + std::to_string(x) + " " + std::to_string(y)), "ok");
  }
  std::vector<uint32_t> pixels(const Area& a) { return screenRect(*zenta, a.x, a.y, a.w, a.h); }
  Mean mean(const Area& a) { return meanOf(pixels(a)); }

  // Waits until the area shows something other than `before`.
  bool changes(const Area& a, std::chrono::milliseconds limit = 3s) {
    const auto before = pixels(a);
    return eventually([&] { return pixels(a) != before; }, limit);
  }

  // The events of one channel ("channel" is the last field or not).
  std::vector<std::string> channelEvents(std::string_view event, int channel,
                                         const std::vector<std::string>& more = {}) {
    const std::string key = "\"channel\":" + std::to_string(channel);
    std::vector<std::string> out;
    for (const std::string& line : sim->events(event, more)) {
      if (line.find(key + ",") != std::string::npos || line.find(key + "}") != std::string::npos)
        out.push_back(line);
    }
    return out;
  }
  size_t count(std::string_view event, int channel) { return channelEvents(event, channel).size(); }
  // Logins that opened a connection (not the repeated copies).
  size_t logins(int channel) { return channelEvents("login", channel, {"\"ok\":true"}).size(); }
  bool waitFor(std::string_view event, int channel, const std::vector<std::string>& more = {}) {
    return eventually([&] { return !channelEvents(event, channel, more).empty(); }, 5s);
  }
  // The last of the pause and resume events of a channel.
  std::string lastFlowEvent(int channel) {
    auto pauses = channelEvents("pause", channel), resumes = channelEvents("resume", channel);
    const double p = pauses.empty() ? -1 : eventNumber(pauses.back(), "time").value_or(-1);
    const double r = resumes.empty() ? -1 : eventNumber(resumes.back(), "time").value_or(-1);
    return p < 0 && r < 0 ? "" : p > r ? "pause" : "resume";
  }

  // Four pictures, once the viewer has every INFO text (the simulator logs
  // them as it sends them, a little before the viewer has read them all).
  void fourPictures() {
    ASSERT_TRUE(eventually(
        [&] {
          tap(kFourX, kButtonRow);
          return eventually([&] { return lastFlowEvent(2) == "resume"; }, 300ms);
        },
        8s));
  }

  void connect(int lastChannel = 16) {
    tap(kConnectX, kButtonRow);
    ASSERT_TRUE(waitFor("info", lastChannel));
  }

  TestFolder folder{"zenta-live"};
  const std::string& dir = folder.path();
  std::unique_ptr<SimProcess> sim;
  std::unique_ptr<ZentaProcess> zenta;
};

TEST_F(Live, ConnectShowsChannelOneAndPausesEveryOtherChannel) {
  start({});
  const auto idle = pixels(kPicture);
  connect();
  ASSERT_TRUE(eventually([&] { return pixels(kPicture) != idle; }, 2s));
  // Channel 1's world is red, brighter to the right.
  const Mean m = mean(kPicture);
  EXPECT_GT(m.r, m.g + 30);
  EXPECT_GT(m.r, m.b + 30);
  EXPECT_GT(mean({160, 60, 70, 150}).luma(), mean({10, 60, 70, 150}).luma());
  EXPECT_TRUE(changes(kPicture));  // live
  for (int channel = 2; channel <= 16; ++channel) {
    ASSERT_TRUE(waitFor("pause", channel)) << channel;
  }
  EXPECT_EQ(count("pause", 1), 0u);
  // The time stamp ticks in green on the left of the status line, the
  // camera's name on the right.
  const auto status = pixels(kStatus);
  EXPECT_GT(std::count(status.begin(), status.end(), 0x00FF00u), 40);
  EXPECT_TRUE(changes({7, 23, 100, 14}, 3s));
}

TEST_F(Live, NextAndPreviousInOnePicture) {
  start({"--channels", "5"});
  connect(5);
  ASSERT_TRUE(changes(kPicture));
  const Mean first = mean(kPicture);
  tap(kNextX, kButtonRow);
  ASSERT_TRUE(waitFor("resume", 2));
  EXPECT_TRUE(eventually([&] { return lastFlowEvent(1) == "pause"; }));
  ASSERT_TRUE(eventually([&] { return distance(mean(kPicture), first) > 40; }));
  // Previous from channel 1 goes round to the last granted channel.
  tap(kPrevX, kButtonRow);
  tap(kPrevX, kButtonRow);
  ASSERT_TRUE(eventually([&] { return lastFlowEvent(5) == "resume"; }));
  EXPECT_TRUE(eventually([&] { return lastFlowEvent(1) == "pause"; }));
  EXPECT_TRUE(eventually([&] { return lastFlowEvent(2) == "pause"; }));
  tap(kNextX, kButtonRow);
  ASSERT_TRUE(eventually([&] { return lastFlowEvent(1) == "resume"; }));
  EXPECT_TRUE(eventually([&] { return lastFlowEvent(5) == "pause"; }));
}

TEST_F(Live, FourPicturesPagesWithSixGrantedChannels) {
  // Channels 7 to 16 refuse the guest: six channels are granted.
  start({"--guest-permissions", "0000002222222222"});
  connect();
  ASSERT_TRUE(changes(kPicture));
  fourPictures();
  for (int channel = 1; channel <= 4; ++channel)
    ASSERT_TRUE(eventually([&] { return lastFlowEvent(channel) == "resume"; })) << channel;
  for (const Area& q : kQuads)
    EXPECT_TRUE(changes(q));
  // Next: the page of channels 5 and 6, two black quadrants.
  tap(kNextX, kButtonRow);
  ASSERT_TRUE(
      eventually([&] { return lastFlowEvent(5) == "resume" && lastFlowEvent(6) == "resume"; }));
  // Each connection logs its own commands: a page's pauses may show after
  // the next page's resumes.
  for (int channel = 1; channel <= 4; ++channel)
    EXPECT_TRUE(eventually([&] { return lastFlowEvent(channel) == "pause"; })) << channel;
  EXPECT_TRUE(changes(kQuads[0]));
  EXPECT_TRUE(changes(kQuads[1]));
  for (const Area& q : {kQuads[2], kQuads[3]}) {
    const auto black = pixels(q);
    EXPECT_EQ(std::count(black.begin(), black.end(), 0u), long(black.size()));
  }
  EXPECT_EQ(lastFlowEvent(7), "pause");
  // Next again: back to the first page; Previous from it: the page at 4.
  tap(kNextX, kButtonRow);
  ASSERT_TRUE(
      eventually([&] { return lastFlowEvent(1) == "resume" && lastFlowEvent(5) == "pause"; }));
  tap(kPrevX, kButtonRow);
  ASSERT_TRUE(
      eventually([&] { return lastFlowEvent(5) == "resume" && lastFlowEvent(1) == "pause"; }));
  // One picture: the page's first channel streams alone.
  tap(kOneX, kButtonRow);
  ASSERT_TRUE(eventually([&] { return lastFlowEvent(6) == "pause"; }));
  EXPECT_EQ(lastFlowEvent(5), "resume");
}

TEST_F(Live, ANarrowPictureFillsItsPlace) {
  start({"--size", "1=176x144"});
  connect();
  ASSERT_TRUE(changes(kPicture));
  // No black band to its right: the picture is stretched over the area.
  EXPECT_GT(mean({200, 60, 40, 150}).luma(), 30);
}

TEST_F(Live, ARecorderWithFewerChannelsShowsThoseItHas) {
  // Fifteen channels: the recorder closes channel 16's connection at once.
  start({"--channels", "15"});
  connect(15);
  ASSERT_TRUE(changes(kPicture));
  // Four pictures work over the fifteen; the last page marks the absent one.
  fourPictures();
  for (int page = 0; page < 3; ++page)
    tap(kNextX, kButtonRow);
  ASSERT_TRUE(eventually([&] { return lastFlowEvent(15) == "resume"; }));
  EXPECT_TRUE(changes(kQuads[2]));
  const auto absent = pixels(kQuads[3]);
  EXPECT_GT(std::count(absent.begin(), absent.end(), 0xFF0007u), 20);  // "No channel"
  EXPECT_GT(std::count(absent.begin(), absent.end(), 0u), std::ptrdiff_t(absent.size() * 8 / 10));
  // Channel 16 was asked for once, and is not asked for again for a while.
  std::this_thread::sleep_for(2s);
  EXPECT_EQ(sim->events("refused", {"\"channel\":16,"}).size(), 1u);
}

TEST_F(Live, PtzTapsSendCameraCommandsOnlyWherePermitted) {
  start({});
  connect();
  ASSERT_TRUE(changes(kPicture));
  tap(kPtzX, kMenuRow);
  // The panel is laid over the picture: its white figures appear.
  ASSERT_TRUE(eventually([&] {
    const auto up = pixels({120, 46 + 10, 14, 10});
    return std::count(up.begin(), up.end(), 0xFFFFFFu) > 10;
  }));
  tap(78 + 14, 46 + 42);  // "left"
  tap(78 + 40, 46 + 42);  // "stop"
  ASSERT_TRUE(waitFor("command", 1, {"left"}));
  ASSERT_TRUE(waitFor("command", 1, {"stop"}));
  tap(128, 46 + 21);  // right of "up": no button
  // Channel 5 is view-only for the guest: nothing is sent.
  for (int i = 0; i < 4; ++i)
    tap(kNextX, kButtonRow);
  ASSERT_TRUE(eventually([&] { return lastFlowEvent(5) == "resume"; }));
  tap(78 + 14, 46 + 42);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(count("command", 5), 0u);
  EXPECT_EQ(sim->events("command").size(), 2u);
}

TEST_F(Live, ARefusedChannelSaysNoRightInRed) {
  start({"--guest-permissions", "1211111111111111"});
  connect();
  tap(kNextX, kButtonRow);
  ASSERT_TRUE(eventually([&] {
    const auto status = pixels(kStatus);
    return std::count(status.begin(), status.end(), 0xFF0007u) > 20;
  }));
}

TEST_F(Live, DisconnectResumesEveryChannel) {
  start({});
  connect();
  ASSERT_TRUE(changes(kPicture));
  tap(kConnectX, kButtonRow);
  for (int channel = 1; channel <= 16; ++channel) {
    ASSERT_TRUE(eventually([&] { return count("disconnect", channel) > 0; })) << channel;
    EXPECT_EQ(lastFlowEvent(channel), "resume") << channel;
  }
  // The picture area shows the skin again.
  EXPECT_FALSE(changes(kPicture, 1s));
}

TEST_F(Live, CannotConnectToAClosedPort) {
  start({}, {}, u"127.0.0.1:1");
  tap(kConnectX, kButtonRow);
  const auto status = pixels({7, 23, 100, 14});
  EXPECT_GT(std::count(status.begin(), status.end(), 0xFF0007u), 20);
  EXPECT_EQ(sim->events("connection").size(), 0u);
  EXPECT_EQ(zenta->wait(0ms), std::nullopt);
}

TEST_F(Live, FaultyChannelsRecoverAndTheOthersGoOn) {
  // Channel 1 drops its connection, 2 sends an oversized picture, 3 a
  // meaningless length code, 4 a picture that is no H.263, 5 stalls.
  start({"--guest-permissions", "0000000000000000", "--fault", "1:drop-after=5", "--fault",
         "2:oversize=5", "--fault", "3:min-length=5", "--fault", "4:not-h263=5", "--fault",
         "5:stall-after=5", "--rate", "20"});
  connect();
  fourPictures();
  std::this_thread::sleep_for(2s);  // every fault has struck
  for (const Area& q : kQuads)
    EXPECT_TRUE(changes(q, 3s));
  // The broken connections were replaced, each with a login of its own.
  EXPECT_TRUE(eventually([&] { return logins(1) >= 2; }));
  EXPECT_TRUE(eventually([&] { return logins(3) >= 2; }));
  // The stalled channel is on the next page; the page shows and goes on.
  tap(kNextX, kButtonRow);
  EXPECT_TRUE(changes(kQuads[1], 3s));
  EXPECT_EQ(zenta->wait(0ms), std::nullopt);
}

// The full-screen view: on the tall screen the picture is turned, its right
// edge at the top (the simulator's world grows brighter to the right).
TEST_F(Live, FullScreenTurnsThePictureAndATapComesBack) {
  start({});
  tap(kFullScreenX, kMenuRow);  // before any connection: nothing
  EXPECT_NE(zenta->command("windows").find("ZENTA|visible|0,0,240,294"), std::string::npos);
  connect();
  ASSERT_TRUE(changes(kPicture));
  tap(kFullScreenX, kMenuRow);
  EXPECT_NE(zenta->command("windows").find("ZENTA|visible|0,0,240,320"), std::string::npos);
  EXPECT_NE(zenta->command("windows").find("menu_worker||hidden"), std::string::npos);
  ASSERT_TRUE(changes({0, 0, 240, 320}));
  EXPECT_GT(mean({60, 10, 150, 60}).luma(), mean({60, 250, 150, 60}).luma() + 10);
  tap(100, 100);
  EXPECT_NE(zenta->command("windows").find("ZENTA|visible|0,0,240,294"), std::string::npos);
  EXPECT_NE(zenta->command("windows").find("menu_worker||visible"), std::string::npos);
  EXPECT_TRUE(changes(kPicture));
  EXPECT_EQ(count("pause", 1), 0u);
}

TEST_F(Live, FullScreenFourPicturesOnTheSecondPage) {
  start({"--guest-permissions", "0000002222222222"});
  connect();
  fourPictures();
  tap(kNextX, kButtonRow);
  ASSERT_TRUE(eventually([&] { return lastFlowEvent(6) == "resume"; }));
  tap(kFullScreenX, kMenuRow);
  // Turned quadrants: 0 lower left, 1 upper left, 2 lower right, 3 upper right.
  EXPECT_TRUE(changes({0, 160, 119, 159}));
  EXPECT_TRUE(changes({0, 0, 119, 159}));
  for (const Area& q : {Area{120, 160, 119, 159}, Area{120, 0, 119, 159}}) {
    const auto black = pixels(q);
    EXPECT_EQ(std::count(black.begin(), black.end(), 0u), long(black.size()));
  }
  const size_t resumes5 = count("resume", 5), resumes1 = count("resume", 1);
  tap(100, 100);
  ASSERT_TRUE(eventually([&] { return count("resume", 5) > resumes5; }));
  EXPECT_EQ(count("resume", 1), resumes1);
  EXPECT_TRUE(eventually([&] { return lastFlowEvent(6) == "resume"; }));
}

TEST_F(Live, AShortScreenShowsFullScreenUnturned) {
  start({}, {"--screen=320x240"});
  tap(34 + 252, 26 + 17);  // Connect in the landscape skin
  ASSERT_TRUE(waitFor("info", 16));
  ASSERT_TRUE(changes({0, 22, 256, 192}));
  tap(38, 227);  // the menu bar's full-screen button
  ASSERT_TRUE(changes({0, 0, 320, 240}));
  EXPECT_GT(mean({250, 40, 60, 160}).luma(), mean({10, 40, 60, 160}).luma() + 10);
}

std::vector<std::string> snapshots(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder + "/WebCAM", ignored)) {
    // Files being written carry a temporary name until they are whole.
    if (entry.path().extension() == ".jpg") files.push_back(entry.path().filename().string());
  }
  return files;
}

TEST_F(Live, SnapshotsOfOnePictureInBothViews) {
  start({"--name", "1=Gate 1/2"});
  connect();
  ASSERT_TRUE(changes(kPicture));
  tap(kSnapshotX, kMenuRow);
  ASSERT_TRUE(eventually([&] { return snapshots(dir).size() == 1; }));
  const std::string name = snapshots(dir).front();
  // The server's title and camera name, the '/' replaced, and the stamp.
  EXPECT_EQ(name.rfind("Test DVR-Gate 1_2-", 0), 0u) << name;
  EXPECT_EQ(name.size(), std::string("Test DVR-Gate 1_2-").size() + 10 + 4) << name;
  const auto jpeg = readJpegFile(dir + "/WebCAM/" + name);
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(jpeg->width, 320);
  EXPECT_EQ(jpeg->height, 240);
  EXPECT_LT(distance(meanOf(jpeg->pixels), mean(kPicture)), 40);
  // Four pictures: nothing; full screen with one picture: a second file.
  fourPictures();
  tap(kSnapshotX, kMenuRow);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(snapshots(dir).size(), 1u);
  tap(kOneX, kButtonRow);
  tap(kFullScreenX, kMenuRow);
  std::this_thread::sleep_for(1100ms);  // a new second for a new name
  EXPECT_EQ(zenta->command("tap 1 1"), "ok");
  tap(kSnapshotX, kMenuRow);
  ASSERT_TRUE(eventually([&] { return snapshots(dir).size() == 2; }));
}

TEST_F(Live, ASnapshotFolderThatCannotBeWrittenLeavesNoFile) {
  start({});
  { std::ofstream blocker(dir + "/WebCAM"); }  // a file where the folder goes
  connect();
  ASSERT_TRUE(changes(kPicture));
  tap(kSnapshotX, kMenuRow);
  std::this_thread::sleep_for(700ms);
  EXPECT_TRUE(fs::is_regular_file(dir + "/WebCAM"));
  EXPECT_TRUE(changes(kPicture));  // the viewer goes on
}

TEST_F(Live, PtzMenuCommandWhileDisconnectedOnlyFlipsTheModeAndConnectClearsIt) {
  start({});
  tap(kPtzX, kMenuRow);
  connect();
  ASSERT_TRUE(changes(kPicture));
  std::this_thread::sleep_for(300ms);
  const auto up = pixels({120, 46 + 10, 14, 10});
  EXPECT_LT(std::count(up.begin(), up.end(), 0xFFFFFFu), 5);  // no panel
  tap(78 + 14, 46 + 42);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(sim->events("command").size(), 0u);
}

}  // namespace
}  // namespace zenta::testing
