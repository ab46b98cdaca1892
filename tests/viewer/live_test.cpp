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

#include "tests/viewer/live_fixture.h"
#include "viewer/ptz_buttons.h"

namespace zenta::testing {
namespace {

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

// A recorder that closes each connection in the middle of its first picture
// (channel 1, on screen) or right after it (channel 2, which streams though
// paused): neither is reopened more than a few times a second.
TEST_F(Live, ConnectionsClosedInOrAfterAPictureAreNotReopenedInAStorm) {
  start({"--fault", "1:cut-in=1", "--fault", "2:drop-after=1", "--fault", "2:ignore-pause"});
  connect();
  std::this_thread::sleep_for(3s);
  for (const int channel : {1, 2}) {
    EXPECT_GE(count("channel", channel), 2u) << channel;   // closed and reopened
    EXPECT_LE(count("channel", channel), 10u) << channel;  // not hundreds
  }
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
  // Channel 16 was asked for twice (closed at once both times), and is not
  // asked for again for a while.
  std::this_thread::sleep_for(2s);
  EXPECT_EQ(sim->events("refused", {"\"channel\":16,"}).size(), 2u);
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

TEST_F(Live, ARecorderThatSaysNothingAfterItsInfoLeavesNoConnectingBehind) {
  start({"--fault", "all:stall-after=0"});
  connect();
  constexpr Area left{7, 23, 110, 14};
  EXPECT_TRUE(eventually([&] { return alerts(left) == 0; }, 3s));
}

TEST_F(Live, AChannelTheRecorderDropsForGoodSaysNoChannelAndIsRarelyAskedFor) {
  // Channel 2 is closed after five pictures and refused ever after.
  start({"--fault", "2:drop-after=5", "--fault", "2:refuse-from=2"});
  connect();
  fourPictures();
  ASSERT_TRUE(eventually([&] { return alerts(kQuads[1]) > 20; }, 10s)) << "no mark on quadrant 2";
  const size_t asked = count("channel", 2);
  std::this_thread::sleep_for(5s);
  EXPECT_LE(count("channel", 2) - asked, 1u);
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

TEST_F(Live, TheLandscapeSkinsPtzButtonsSendWhereTheyAreDrawn) {
  start({}, {"--screen=320x240"});
  tap(34 + 252, 26 + 17);
  ASSERT_TRUE(waitFor("info", 16));
  tap(kPtzX, 227);
  const Area picture{0, 22, 256, 192};
  ASSERT_TRUE(changes(picture));
  for (size_t i = 0; i < viewer::ptzButtons.size(); ++i) {
    const std::string word(viewer::ptzButtons[i].word);
    const viewer::PtzArea a = viewer::ptzButtonArea(i, picture.x, picture.y, picture.w, picture.h);
    // The panel's white figures are drawn there: the picture under the
    // panel is shaded, so nothing else on it is white.
    ASSERT_TRUE(eventually([&] {
      const auto p = pixels({a.left, a.top, a.right - a.left, a.bottom - a.top});
      return std::count(p.begin(), p.end(), 0xFFFFFFu) > 0;
    })) << word;
    tap((a.left + a.right) / 2, (a.top + a.bottom) / 2);
    EXPECT_TRUE(waitFor("command", 1, {"\"word\":\"" + word + "\""})) << word;
  }
  EXPECT_EQ(sim->events("command").size(), viewer::ptzButtons.size());
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
  // A second one within the same second replaces nothing: it is "-2".
  tap(kSnapshotX, kMenuRow);
  ASSERT_TRUE(eventually([&] { return snapshots(dir).size() == 2; }));
  // Four pictures: no file, and the status line says why; full screen
  // with one picture: a third file.
  fourPictures();
  tap(kSnapshotX, kMenuRow);
  EXPECT_TRUE(eventually([&] { return alerts(kStatus) > 20; }, 1s));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(snapshots(dir).size(), 2u);
  tap(kOneX, kButtonRow);
  tap(kFullScreenX, kMenuRow);
  EXPECT_EQ(zenta->command("tap 1 1"), "ok");
  tap(kSnapshotX, kMenuRow);
  ASSERT_TRUE(eventually([&] { return snapshots(dir).size() == 3; }));
}

TEST_F(Live, ASnapshotFolderThatCannotBeWrittenLeavesNoFile) {
  start({});
  { std::ofstream blocker(dir + "/WebCAM"); }  // a file where the folder goes
  connect();
  ASSERT_TRUE(changes(kPicture));
  tap(kSnapshotX, kMenuRow);
  // The status line says so in red for two seconds, then shows the time
  // and the camera again.
  EXPECT_TRUE(eventually([&] { return alerts(kStatus) > 20; }, 1s));
  std::this_thread::sleep_for(700ms);
  EXPECT_TRUE(fs::is_regular_file(dir + "/WebCAM"));
  EXPECT_TRUE(changes(kPicture));  // the viewer goes on
  EXPECT_TRUE(eventually([&] { return alerts(kStatus) == 0; }, 3s));
}

TEST_F(Live, PtzWhereNoCameraCanBeSteeredSaysSoAndStaysOff) {
  start({});
  tap(kPtzX, kMenuRow);
  EXPECT_TRUE(eventually([&] { return alerts(kStatus) > 20; }, 1s));
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
