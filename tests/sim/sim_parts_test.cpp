// The simulator's parts on their own: settings, the clock, the virtual
// camera, the log's escaping and the world's brightness ramp.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "sim/camera.h"
#include "sim/config.h"
#include "sim/event_log.h"
#include "sim/scene.h"
#include "sim/wall_clock.h"

namespace zenta::sim {
namespace {

using namespace std::chrono_literals;

std::optional<std::string> parse(std::vector<const char*> arguments, Config& config) {
  return parseCommandLine(static_cast<int>(arguments.size()), arguments.data(), config);
}

struct TempFile {
  std::string path;
  explicit TempFile(const std::string& text) {
    char pattern[] = "/tmp/zenta-camsim-conf-XXXXXX";
    const int fd = ::mkstemp(pattern);
    ::close(fd);
    path = pattern;
    std::ofstream(path) << text;
  }
  ~TempFile() { ::unlink(path.c_str()); }
};

TEST(SimConfig, DefaultsServeSixteenChannelsToTheGuest) {
  const Config config;
  EXPECT_EQ(config.channelCount, 16);
  EXPECT_EQ(config.streamPort, 18083);
  EXPECT_EQ(config.httpPort, 8080);
  EXPECT_EQ(config.listen, std::vector<std::string>{"127.0.0.1"});
  for (const ChannelConfig& channel : config.channels) {
    EXPECT_EQ(channel.width, 320);
    EXPECT_EQ(channel.height, 240);
    EXPECT_EQ(channel.rate, 10);
  }
  const auto guest = config.authenticate("guest", "mirel");
  ASSERT_TRUE(guest);
  for (int channel = 1; channel <= 16; ++channel)
    EXPECT_EQ(config.permission(*guest, channel), channel <= 4 ? '1' : '0');
  EXPECT_FALSE(config.authenticate("guest", "Mirel"));
  EXPECT_FALSE(validate(config));
}

TEST(SimConfig, CommandLineAddressesOneChannelOrAll) {
  Config config;
  ASSERT_FALSE(
      parse({"--size",   "176x144",        "--size",         "3=368x288",  "--rate",
             "16=25",    "--name",         "2=Gate = north", "--fault",    "all:negative-length",
             "--fault",  "5:drop-after=7", "--account",      "op:pw:0123", "--no-guest",
             "--listen", "0.0.0.0",        "--listen",       "127.0.0.2",  "--http-port",
             "off"},
            config));
  EXPECT_EQ(config.channels[0].width, 176);
  EXPECT_EQ(config.channels[2].width, 368);
  EXPECT_EQ(config.channels[15].rate, 25);
  EXPECT_EQ(config.channels[14].rate, 10);
  EXPECT_EQ(config.channels[1].cameraName, "Gate = north");
  EXPECT_EQ(config.channels[0].cameraName, "Camera 1");
  EXPECT_EQ(config.channels[4].faults.size(), 2u);
  EXPECT_EQ(config.channels[4].faults[1].kind, FaultKind::DropAfter);
  EXPECT_EQ(config.channels[4].faults[1].count, 7);
  EXPECT_EQ(config.channels[5].faults.size(), 1u);
  EXPECT_EQ(config.listen, (std::vector<std::string>{"0.0.0.0", "127.0.0.2"}));
  EXPECT_EQ(config.httpPort, -1);
  EXPECT_FALSE(config.authenticate("guest", "mirel"));
  const auto op = config.authenticate("op", "pw");
  ASSERT_TRUE(op);
  EXPECT_EQ(op->permissions, "0123000000000000");
  EXPECT_EQ(config.permission(*op, 4), '3');
  EXPECT_FALSE(config.authenticate("op", "PW"));
}

TEST(SimConfig, FileFirstThenTheCommandLineWherePlaced) {
  TempFile file(
      "# comment\n[server]\ntitle = Depot\nchannels = 4\n[channels]\nrate = 5\n"
      "[channel 2]\nrate = 7\nname = Yard\n[account op]\npassword = pw\npermissions = 1\n"
      "[guest]\nallowed = no\n");
  Config config;
  // --rate comes before --config on the line, and still overrides the file.
  ASSERT_FALSE(parse({"--rate", "2=9", "--config", file.path.c_str()}, config));
  EXPECT_EQ(config.title, "Depot");
  EXPECT_EQ(config.channelCount, 4);
  EXPECT_EQ(config.channels[0].rate, 5);
  EXPECT_EQ(config.channels[1].rate, 9);
  EXPECT_EQ(config.channels[1].cameraName, "Yard");
  EXPECT_FALSE(config.guestAllowed);
  ASSERT_TRUE(config.authenticate("op", "pw"));
}

TEST(SimConfig, ErrorsNameTheLineOrTheOption) {
  const auto fileError = [](const std::string& text) {
    TempFile file(text);
    Config config;
    return loadConfigFile(file.path, config).value_or("");
  };
  EXPECT_NE(fileError("[server]\ntitle = x\nbogus = 1\n").find(":3: unknown setting"),
            std::string::npos);
  EXPECT_NE(fileError("[channel 17]\n").find(":1:"), std::string::npos);
  EXPECT_NE(fileError("[channel 1]\nsize = 320\n").find("WIDTHxHEIGHT"), std::string::npos);
  EXPECT_NE(fileError("[channel 1]\nfault = sometimes\n").find("fault"), std::string::npos);
  EXPECT_NE(fileError("[account a b]\n").find("one word"), std::string::npos);
  EXPECT_NE(fileError("just text\n").find("key = value"), std::string::npos);
  EXPECT_NE(fileError("[guest]\npermissions = 12345678901234567\n").find("permission"),
            std::string::npos);
  Config config;
  EXPECT_TRUE(loadConfigFile("/no/such/file", config));

  for (const std::vector<const char*>& line : {std::vector<const char*>{"--rate", "31"},
                                               {"--bitrate", "1k"},
                                               {"--stream-port", "70000"},
                                               {"--fault", "17:refuse"},
                                               {"--fault", "1:drop-after=0"},
                                               {"--account", ":pw"},
                                               {"--size"},
                                               {"extra"},
                                               {"--gob-headers", "50"}}) {
    Config c;
    EXPECT_TRUE(parse(line, c)) << line[0];
  }
  Config help;
  EXPECT_EQ(parse({"--size", "1x1", "--help"}, help), "help");

  Config sizes;
  sizes.channels[3].width = 100;
  sizes.channels[3].height = 98;  // not a multiple of 4
  EXPECT_NE(validate(sizes).value_or("").find("channel 4"), std::string::npos);
  sizes.channels[3].height = 100;
  EXPECT_FALSE(validate(sizes));
  sizes.channels[3].width = 1408;  // 16CIF, a standard size, is served
  sizes.channels[3].height = 1152;
  EXPECT_FALSE(validate(sizes));
  sizes.channels[3].width = 1024;  // beyond 704x576 and no standard size
  sizes.channels[3].height = 768;
  EXPECT_TRUE(validate(sizes));
  sizes.channelCount = 3;  // channels that are not served are not checked
  EXPECT_FALSE(validate(sizes));

  Config names;
  names.channels[1].cameraName = "Gate\r\n2";  // would split the INFO text
  EXPECT_NE(validate(names).value_or("").find("channel 2"), std::string::npos);
  names.channels[1].cameraName = std::string(201, 'x');
  EXPECT_TRUE(validate(names));
  names.channels[1].cameraName = std::string(200, 'x');
  EXPECT_FALSE(validate(names));
  names.title = "Depot\n";
  EXPECT_TRUE(validate(names));
}

TEST(SimClock, DaysSince1899) {
  EXPECT_EQ(daysSince1899(1899, 12, 30, 0), 0);
  EXPECT_EQ(daysSince1899(1899, 12, 31, 0), 1);
  EXPECT_EQ(daysSince1899(1900, 3, 1, 0), 61);  // 1900 has no 29 February
  EXPECT_EQ(daysSince1899(2007, 3, 15, 43200), 39156.5);
  EXPECT_EQ(daysSince1899(2000, 2, 29, 0) + 1, daysSince1899(2000, 3, 1, 0));
  EXPECT_EQ(daysSince1899(1970, 1, 1, 0), 25569);
}

TEST(SimCamera, PansZoomsAndStaysInsideItsWorld) {
  using Clock = VirtualCamera::Clock;
  const auto t0 = Clock::time_point{} + 1000s;
  VirtualCamera camera(640, 480, 320, 240, 0.5, 4.0);
  View view = camera.view(t0);
  EXPECT_EQ(view.centreX, 320);
  EXPECT_EQ(view.centreY, 240);
  EXPECT_EQ(view.zoom, 1);

  ASSERT_TRUE(camera.command("right", t0));
  view = camera.view(t0 + 500ms);
  EXPECT_NEAR(view.centreX, 320 + 0.5 * 320 * 0.5, 1e-6);  // half a picture a second
  ASSERT_TRUE(camera.command("down", t0 + 500ms));         // one direction at a time
  view = camera.view(t0 + 1000ms);
  EXPECT_NEAR(view.centreX, 400, 1e-6);
  EXPECT_NEAR(view.centreY, 240 + 60, 1e-6);
  view = camera.view(t0 + 60s);  // held against the edge of the world
  EXPECT_NEAR(view.centreY, 480 - 120, 1e-6);
  ASSERT_TRUE(camera.command("stop", t0 + 60s));
  EXPECT_EQ(camera.view(t0 + 70s).centreY, view.centreY);

  ASSERT_TRUE(camera.command("zoomin", t0 + 70s));
  EXPECT_NEAR(camera.view(t0 + 71s).zoom, 2.0, 1e-9);
  EXPECT_EQ(camera.view(t0 + 80s).zoom, 4.0);
  ASSERT_TRUE(camera.command("zoomout", t0 + 80s));
  const View wide = camera.view(t0 + 90s);
  EXPECT_EQ(wide.zoom, 0.5);  // the whole world in one picture, centred
  EXPECT_EQ(wide.centreX, 320);
  EXPECT_EQ(wide.centreY, 240);
  ASSERT_TRUE(camera.command("zoomstop", t0 + 90s));

  ASSERT_TRUE(camera.command("preset2", t0 + 91s));
  view = camera.view(t0 + 95s);  // a preset stops every movement
  EXPECT_EQ(view.centreX, 160);
  EXPECT_EQ(view.centreY, 120);
  ASSERT_TRUE(camera.command("preset8", t0 + 95s));
  EXPECT_EQ(camera.view(t0 + 96s).zoom, 4.0);
  EXPECT_FALSE(camera.command("preset9", t0 + 96s));
  EXPECT_FALSE(camera.command("spin", t0 + 96s));
  // A clock that runs backwards moves nothing.
  ASSERT_TRUE(camera.command("left", t0 + 96s));
  EXPECT_EQ(camera.view(t0 + 90s).centreX, 320);
}

TEST(SimLog, JsonStringsEscapeWhatClientsSend) {
  EXPECT_EQ(jsonString("plain"), "\"plain\"");
  EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(jsonString(std::string("\r\n\x00\xff", 4)), "\"\\u000d\\u000a\\u0000\\u00ff\"");
}

TEST(SimScene, WorldGrowsBrighterRightwardsAndDownwards) {
  const YuvImage world = buildWorld(3, 176, 144);
  ASSERT_EQ(world.width, 352);
  ASSERT_EQ(world.height, 288);
  const auto luma = [&](int x, int y) { return world.y[static_cast<size_t>(y * world.width + x)]; };
  EXPECT_LT(luma(5, 5) + 100, luma(world.width - 5, 5));
  EXPECT_LT(luma(5, 5) + 40, luma(5, world.height - 5));
  // Every channel has a colour of its own.
  for (int a = 1; a <= 16; ++a)
    for (int b = a + 1; b <= 16; ++b) {
      const YuvColour ca = channelColour(a), cb = channelColour(b);
      EXPECT_TRUE(ca.cb != cb.cb || ca.cr != cb.cr) << a << " " << b;
    }
  // A view past the world's edge shows black there, and nothing is written
  // outside the picture.
  YuvImage out(176, 144);
  std::vector<int> columns;
  renderView(world, View{0, 0, 1}, out, columns);
  EXPECT_EQ(out.y[0], 16);
  EXPECT_EQ(out.y.back(), luma(87, 71));
}

}  // namespace
}  // namespace zenta::sim
