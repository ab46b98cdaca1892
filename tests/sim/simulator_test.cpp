// The simulator as a viewer meets it: a process on free loopback ports,
// spoken to over real sockets by a client written from the wire format, its
// pictures decoded with libavcodec, its event log read back.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <thread>

#include "stream/port_query.h"
#include "tests/sim/wire_client.h"
#include "tests/support/reference_h263.h"

namespace zenta::testing {
namespace {

using Kind = WireMessage::Kind;

constexpr int kClockRows = 20;  // the clock box at the top of every picture

// Logs in and returns the INFO text (or an empty string).
std::string logInAndReadInfo(WireClient& client, int port, int channel,
                             std::string_view account = "guest",
                             std::string_view password = "mirel") {
  if (!client.connect(port) || !client.logIn(channel, account, password)) return {};
  const auto info = client.next(Kind::Text);
  return info ? info->text() : std::string{};
}

std::string infoText(std::string_view camera, std::string_view title, char code) {
  return "INFO\r\n" + std::string(camera) + "\r\n" + std::string(title) + "\r\n" + code + "\r\n";
}

// Decodes every picture that arrives within `span`; the last one's means.
struct Watched {
  int pictures = 0;
  int decoded = 0;
  std::optional<YuvPicture> last;
};
Watched watch(WireClient& client, ReferenceH263Decoder& decoder, std::chrono::milliseconds span) {
  Watched result;
  for (const WireMessage& message : client.collect(span)) {
    if (message.kind != Kind::Video) continue;
    ++result.pictures;
    if (auto picture = decoder.decode(message.payload)) {
      ++result.decoded;
      result.last = std::move(picture);
    }
  }
  return result;
}

// The median brightness of the world below the clock: it follows the
// world's ramp. The balls (brightness 220), the channel number (235 with a
// shadow of 16) are left out, so that they cannot move it; the world itself
// lies between 30 and 210 where the camera looks in these tests.
double medianLuma(WireClient& client, ReferenceH263Decoder& decoder,
                  std::chrono::milliseconds span) {
  const Watched watched = watch(client, decoder, span);
  if (!watched.last) return -1;
  const YuvPicture& picture = *watched.last;
  std::vector<uint8_t> luma;
  for (size_t i = static_cast<size_t>(kClockRows * picture.width); i < picture.y.size(); ++i)
    if (picture.y[i] >= 24 && picture.y[i] < 205) luma.push_back(picture.y[i]);
  if (luma.empty()) return -1;
  std::nth_element(luma.begin(), luma.begin() + static_cast<long>(luma.size() / 2), luma.end());
  return luma[luma.size() / 2];
}

TEST(Simulator, LogsInThenSendsInfoPicturesAndTicks) {
  SimProcess sim({});
  ASSERT_TRUE(sim.ok());
  WireClient client;
  EXPECT_EQ(logInAndReadInfo(client, sim.streamPort(), 2),
            infoText("Camera 2", "ZENTA Simulator", '1'));

  ReferenceH263Decoder decoder;
  std::vector<SteadyClock::time_point> ticks;
  int pictures = 0;
  bool firstIntra = false;
  for (const WireMessage& message : client.collect(2500ms)) {
    EXPECT_NEAR(message.stamp, localDaysNow(), 3.0 / 86400);
    if (message.kind == Kind::Tick) {
      EXPECT_TRUE(message.payload.empty());
      ticks.push_back(message.arrived);
    } else {
      ASSERT_EQ(message.kind, Kind::Video);
      ASSERT_TRUE(startsWithPictureStart(message.payload));
      if (pictures++ == 0) firstIntra = intraPicture(message.payload);
      const auto picture = decoder.decode(message.payload);
      ASSERT_TRUE(picture);
      EXPECT_EQ(picture->width, 320);
      EXPECT_EQ(picture->height, 240);
    }
  }
  EXPECT_TRUE(firstIntra);
  EXPECT_GE(pictures, 18);  // 10 a second
  EXPECT_LE(pictures, 27);
  ASSERT_GE(ticks.size(), 2u);
  const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(ticks[1] - ticks[0]);
  EXPECT_NEAR(static_cast<double>(gap.count()), 1000, 250);

  EXPECT_EQ(sim.events("login", {"\"channel\":2", "\"ok\":true", "\"account\":\"guest\""}).size(),
            1u);
  EXPECT_EQ(sim.events("login", {"\"repeat\":true"}).size(), 2u);
  EXPECT_TRUE(sim.waitForEvent("picture", {"\"channel\":2", "\"intra\":true"}));
}

TEST(Simulator, SizesChooseTheCodingAndGobHeadersOnRequest) {
  SimProcess sim({"--size", "1=176x144", "--size", "2=368x288", "--size", "3=128x96", "--size",
                  "4=352x288", "--gob-headers", "4=yes", "--size", "5=320x240"});
  ASSERT_TRUE(sim.ok());
  struct Expected {
    int channel, width, height, format;
    bool gobHeaders;
  };
  for (const Expected& e : {Expected{1, 176, 144, 2, false}, Expected{2, 368, 288, 7, false},
                            Expected{3, 128, 96, 1, false}, Expected{4, 352, 288, 3, true},
                            Expected{5, 320, 240, 7, false}}) {
    WireClient client;
    ASSERT_FALSE(logInAndReadInfo(client, sim.streamPort(), e.channel).empty());
    ReferenceH263Decoder decoder;
    int gobs = 0;
    for (int i = 0; i < 5; ++i) {
      const auto message = client.next(Kind::Video);
      ASSERT_TRUE(message) << e.channel;
      EXPECT_EQ(sourceFormat(message->payload), e.format) << e.channel;
      gobs += gobHeaderCount(message->payload);
      const auto picture = decoder.decode(message->payload);
      ASSERT_TRUE(picture) << e.channel;
      EXPECT_EQ(picture->width, e.width);
      EXPECT_EQ(picture->height, e.height);
    }
    EXPECT_EQ(gobs > 0, e.gobHeaders) << e.channel;
  }
}

TEST(Simulator, PauseStopsPicturesWithinAnIntervalAndResumeRestartsThem) {
  // Five pictures a second: an interval of 200 ms, and 100 ms of slack for
  // a loaded machine.
  SimProcess sim({"--rate", "5"});
  ASSERT_TRUE(sim.ok());
  WireClient client;
  ASSERT_FALSE(logInAndReadInfo(client, sim.streamPort(), 7).empty());
  ASSERT_TRUE(client.next(Kind::Video));

  ASSERT_TRUE(client.send("007 PAUSE\r\n"));
  const auto paused = SteadyClock::now();
  int ticks = 0;
  for (const WireMessage& message : client.collect(1500ms)) {
    if (message.kind == Kind::Tick) ++ticks;
    if (message.kind == Kind::Video) {
      EXPECT_LT(message.arrived - paused, 200ms + 100ms) << "a picture after the pause";
    }
  }
  EXPECT_GE(ticks, 1);

  ASSERT_TRUE(client.send("007 RESUME\r\n"));
  const auto resumed = SteadyClock::now();
  const auto picture = client.next(Kind::Video, 1s);
  ASSERT_TRUE(picture);
  EXPECT_LT(picture->arrived - resumed, 200ms + 100ms);
  EXPECT_TRUE(intraPicture(picture->payload));
  ReferenceH263Decoder decoder;
  EXPECT_TRUE(decoder.decode(picture->payload));
  EXPECT_EQ(sim.events("pause", {"\"channel\":7"}).size(), 1u);
  EXPECT_EQ(sim.events("resume", {"\"channel\":7"}).size(), 1u);
}

TEST(Simulator, CameraMovesOnlyWithPermissionOneAndValidCredentials) {
  SimProcess sim({"--guest-permissions", "10", "--account", "op:secret:01"});
  ASSERT_TRUE(sim.ok());
  WireClient one, two;
  ASSERT_FALSE(logInAndReadInfo(one, sim.streamPort(), 1).empty());
  ASSERT_EQ(logInAndReadInfo(two, sim.streamPort(), 2),
            infoText("Camera 2", "ZENTA Simulator", '0'));
  ReferenceH263Decoder decoder1, decoder2;

  // The world grows brighter to the right (by 120 over its width) and
  // downwards (by 60). A pan of 0.9 s moves the view by 0.45 pictures, which
  // shifts the median by about 27 across and 13 down; balls passing through
  // the picture move it by a few levels at most.
  const auto steer = [&](WireClient& client, ReferenceH263Decoder& decoder, int channel,
                         std::string_view word, std::string_view account,
                         std::string_view password) {
    char text[128];
    std::snprintf(text, sizeof text, "%03d %.*s\r\n%03d ^%.*s %.*s\r\n", channel,
                  static_cast<int>(word.size()), word.data(), channel,
                  static_cast<int>(account.size()), account.data(),
                  static_cast<int>(password.size()), password.data());
    client.send(text);
    watch(client, decoder, 900ms);
    std::snprintf(text, sizeof text, "%03d stop\r\n%03d ^%.*s %.*s\r\n", channel, channel,
                  static_cast<int>(account.size()), account.data(),
                  static_cast<int>(password.size()), password.data());
    client.send(text);
    return medianLuma(client, decoder, 400ms);
  };
  const double start = medianLuma(one, decoder1, 500ms);
  ASSERT_GT(start, 0);
  const double right = steer(one, decoder1, 1, "right", "guest", "mirel");
  EXPECT_GT(right, start + 10);
  const double left = steer(one, decoder1, 1, "left", "guest", "mirel");
  EXPECT_LT(left, right - 10);
  const double down = steer(one, decoder1, 1, "down", "guest", "mirel");
  EXPECT_GT(down, left + 6);
  const double up = steer(one, decoder1, 1, "up", "guest", "mirel");
  EXPECT_LT(up, down - 6);

  // A wrong password, or an account without control of channel 1: no movement.
  const double wrong = steer(one, decoder1, 1, "right", "guest", "wrong");
  EXPECT_NEAR(wrong, up, 5);
  const double noRight = steer(one, decoder1, 1, "right", "op", "secret");
  EXPECT_NEAR(noRight, up, 5);
  // Permission "0" for the guest on channel 2, but the operator may steer it.
  const double viewOnlyStart = medianLuma(two, decoder2, 300ms);
  const double viewOnly = steer(two, decoder2, 2, "right", "guest", "mirel");
  EXPECT_NEAR(viewOnly, viewOnlyStart, 5);
  const double operatorMoved = steer(two, decoder2, 2, "right", "op", "secret");
  EXPECT_GT(operatorMoved, viewOnly + 10);

  // Zooming and presets.
  one.send("001 zoomin\r\n001 ^guest mirel\r\n");
  watch(one, decoder1, 500ms);
  one.send("001 zoomstop\r\n001 ^guest mirel\r\n");
  ASSERT_TRUE(sim.waitForEvent("command", {"\"word\":\"zoomstop\"", "\"accepted\":true"}));
  const auto zoomed = sim.events("command", {"\"word\":\"zoomstop\""}).back();
  const double zoom = std::stod(zoomed.substr(zoomed.find("zoom ") + 5));
  EXPECT_GT(zoom, 1.2);
  // After the stop the zoom holds, however long the machine took to send it.
  watch(one, decoder1, 300ms);
  one.send("001 zoomstop\r\n001 ^guest mirel\r\n");
  for (int i = 0; i < 50 && sim.events("command", {"\"word\":\"zoomstop\""}).size() < 2; ++i)
    std::this_thread::sleep_for(100ms);
  const auto held = sim.events("command", {"\"word\":\"zoomstop\""}).back();
  EXPECT_EQ(std::stod(held.substr(held.find("zoom ") + 5)), zoom);
  one.send("001 preset8\r\n001 ^guest mirel\r\n");
  EXPECT_TRUE(sim.waitForEvent("command", {"\"word\":\"preset8\"", "zoom 4.00"}));
  one.send("001 preset6\r\n001 ^guest mirel\r\n");
  EXPECT_TRUE(sim.waitForEvent("command", {"\"word\":\"preset6\"", "zoom 0.50"}));
  // The whole world at half size shows its borders: the picture's corners
  // are no longer alike to a close view of the middle.
  const Watched wide = watch(one, decoder1, 400ms);
  ASSERT_TRUE(wide.last);
  EXPECT_GT(wide.decoded, 0);

  EXPECT_EQ(sim.events("command", {"\"accepted\":false", "\"reason\":\"bad credentials\""}).size(),
            2u);  // the word and its stop
  EXPECT_EQ(
      sim.events("command", {"\"accepted\":false", "\"reason\":\"no camera control\""}).size(), 4u);
}

TEST(Simulator, HttpPortAnswersOnlyThePortQuery) {
  SimProcess sim({});
  ASSERT_TRUE(sim.ok());
  // The viewer's own query.
  EXPECT_EQ(stream::queryStreamPort("127.0.0.1", sim.httpPort(), 3s), sim.streamPort());

  for (const auto& [request, status] : std::vector<std::pair<std::string, std::string>>{
           {"GET ports HTTP/1.0\r\nHost: x\r\n\r\n", "200"},
           {"GET /ports HTTP/1.0\r\n\r\n", "404"},
           {"POST ports HTTP/1.0\r\n\r\n", "404"},
           {"GET portsx HTTP/1.0\r\n\r\n", "404"},
           {"\x01\x02\x03\r\n\r\n", "404"}}) {
    WireClient raw;
    ASSERT_TRUE(raw.connect(sim.httpPort()));
    ASSERT_TRUE(raw.send(request));
    const std::string reply = raw.readAll(3s);
    EXPECT_EQ(reply.rfind("HTTP/1.0 " + status, 0), 0u) << reply;
    EXPECT_TRUE(raw.closedByServer());
    const std::string body = reply.substr(reply.find("\r\n\r\n") + 4);
    if (status == "200") {
      EXPECT_EQ(body, std::to_string(sim.httpPort()) + " " + std::to_string(sim.streamPort()));
    } else {
      EXPECT_EQ(body.find_first_of("0123456789"), std::string::npos) << body;
    }
  }
  EXPECT_EQ(sim.events("http", {"\"status\":200"}).size(), 2u);
  EXPECT_EQ(sim.events("http", {"\"status\":404"}).size(), 4u);
}

TEST(Simulator, ReconnectionWithOnlyTheChannelRequestResumesTheLogin) {
  SimProcess sim({"--no-guest", "--account", "viewer:pw:0000"});
  ASSERT_TRUE(sim.ok());
  {
    WireClient first;
    ASSERT_EQ(logInAndReadInfo(first, sim.streamPort(), 3, "viewer", "pw"),
              infoText("Camera 3", "ZENTA Simulator", '0'));
    ASSERT_TRUE(first.next(Kind::Video));
    first.send("003 PAUSE\r\n");
    ASSERT_TRUE(sim.waitForEvent("pause"));
  }
  // The same address, the channel request alone: INFO again, still paused.
  WireClient again;
  ASSERT_TRUE(again.connect(sim.streamPort()));
  ASSERT_TRUE(again.send("CONNECT 3 1\r\n"));
  const auto info = again.next(Kind::Text);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->text(), infoText("Camera 3", "ZENTA Simulator", '0'));
  EXPECT_FALSE(again.next(Kind::Video, 700ms));
  ASSERT_TRUE(again.send("003 RESUME\r\n"));
  EXPECT_TRUE(again.next(Kind::Video, 1s));
  EXPECT_TRUE(sim.waitForEvent("reconnect", {"\"account\":\"viewer\"", "\"paused\":true"}));

  // A channel nobody logged in to from here: refused and closed.
  WireClient stranger;
  ASSERT_TRUE(stranger.connect(sim.streamPort()));
  ASSERT_TRUE(stranger.send("CONNECT 4 1\r\n"));
  EXPECT_FALSE(stranger.read(2s));
  EXPECT_TRUE(stranger.closedByServer());
  EXPECT_TRUE(sim.waitForEvent("refused", {"\"channel\":4", "\"reason\":\"no login\""}));

  // A failed login is remembered for nothing.
  WireClient wrong;
  EXPECT_EQ(logInAndReadInfo(wrong, sim.streamPort(), 5, "viewer", "nope"),
            infoText("Camera 5", "ZENTA Simulator", '3'));
  EXPECT_FALSE(wrong.next(Kind::Video, 500ms));
}

TEST(Simulator, SixteenChannelsAtOnceInSixteenColours) {
  SimProcess sim({});
  ASSERT_TRUE(sim.ok());
  std::vector<std::unique_ptr<WireClient>> clients;
  for (int channel = 1; channel <= 16; ++channel) {
    clients.push_back(std::make_unique<WireClient>());
    ASSERT_EQ(
        logInAndReadInfo(*clients.back(), sim.streamPort(), channel),
        infoText("Camera " + std::to_string(channel), "ZENTA Simulator", channel <= 4 ? '1' : '0'));
  }
  std::vector<PictureMeans> colours;
  for (auto& client : clients) {
    ReferenceH263Decoder decoder;
    std::optional<YuvPicture> last;
    for (int i = 0; i < 5; ++i) {
      const auto message = client->next(Kind::Video);
      ASSERT_TRUE(message);
      if (auto picture = decoder.decode(message->payload)) last = std::move(picture);
    }
    ASSERT_TRUE(last);
    colours.push_back(means(*last, kClockRows));
  }
  for (size_t a = 0; a < colours.size(); ++a)
    for (size_t b = a + 1; b < colours.size(); ++b)
      EXPECT_GT(std::hypot(colours[a].cb - colours[b].cb, colours[a].cr - colours[b].cr), 4.0)
          << "channels " << a + 1 << " and " << b + 1;
}

TEST(Simulator, FaultsDropStallAndRefuseConnections) {
  SimProcess sim({"--fault", "1:drop-after=3", "--fault", "2:stall-after=2", "--fault",
                  "3:refuse=2", "--fault", "4:drop-random=2", "--seed", "7"});
  ASSERT_TRUE(sim.ok());
  WireClient drop;
  ASSERT_FALSE(logInAndReadInfo(drop, sim.streamPort(), 1).empty());
  int pictures = 0;
  while (auto message = drop.read(3s))
    pictures += message->kind == Kind::Video;
  EXPECT_TRUE(drop.closedByServer());
  EXPECT_EQ(pictures, 3);

  WireClient stall;
  ASSERT_FALSE(logInAndReadInfo(stall, sim.streamPort(), 2).empty());
  pictures = 0;
  const auto messages = stall.collect(2500ms);
  for (const WireMessage& message : messages)
    pictures += message.kind == Kind::Video;
  EXPECT_EQ(pictures, 2);
  EXPECT_FALSE(stall.closedByServer());
  ASSERT_FALSE(messages.empty());
  EXPECT_LT(messages.back().arrived - messages.front().arrived, 1s) << "nothing after the stall";

  for (int attempt = 1; attempt <= 3; ++attempt) {
    WireClient refused;
    const std::string info = logInAndReadInfo(refused, sim.streamPort(), 3);
    EXPECT_EQ(info.empty(), attempt == 2) << attempt;
    EXPECT_EQ(refused.closedByServer(), attempt == 2) << attempt;
  }

  WireClient random;
  ASSERT_FALSE(logInAndReadInfo(random, sim.streamPort(), 4).empty());
  pictures = 0;
  while (auto message = random.read(3s))
    pictures += message->kind == Kind::Video;
  EXPECT_TRUE(random.closedByServer());
  EXPECT_GE(pictures, 1);
  EXPECT_LE(pictures, 25);

  for (const char* kind : {"drop-after", "stall-after", "refuse", "drop-random"})
    EXPECT_TRUE(sim.waitForEvent("fault", {std::string("\"kind\":\"") + kind + "\""})) << kind;
}

TEST(Simulator, FaultsBendTheMessages) {
  SimProcess sim({"--fault", "1:oversize=2", "--fault", "2:negative-length", "--fault",
                  "3:min-length=2", "--fault", "4:text-without-info", "--fault",
                  "5:info-without-line-end", "--fault", "6:not-h263=1"});
  ASSERT_TRUE(sim.ok());
  ReferenceH263Decoder decoder;

  WireClient oversize;
  ASSERT_FALSE(logInAndReadInfo(oversize, sim.streamPort(), 1).empty());
  std::vector<size_t> sizes;
  for (int i = 0; i < 4; ++i) {
    const auto message = oversize.next(Kind::Video);
    ASSERT_TRUE(message);
    sizes.push_back(message->payload.size());
  }
  EXPECT_LT(sizes[0], 158976u);
  EXPECT_GT(sizes[1], 158976u);
  EXPECT_LT(sizes[2], 158976u);

  WireClient negative;
  ASSERT_FALSE(logInAndReadInfo(negative, sim.streamPort(), 2).empty());
  for (int i = 0; i < 3; ++i) {
    const auto message = negative.next(Kind::Video);
    ASSERT_TRUE(message);
    EXPECT_LT(message->code, 0);
    EXPECT_EQ(static_cast<size_t>(-message->code), message->payload.size());
    EXPECT_TRUE(decoder.decode(message->payload));
  }

  WireClient broken;
  ASSERT_FALSE(logInAndReadInfo(broken, sim.streamPort(), 3).empty());
  std::vector<Kind> kinds;
  for (int i = 0; i < 3; ++i) {
    auto message = broken.read();
    ASSERT_TRUE(message);
    if (message->kind == Kind::Tick) {
      --i;
      continue;
    }
    kinds.push_back(message->kind);
    if (message->kind == Kind::Broken) {
      EXPECT_EQ(message->code, INT32_MIN);
    }
  }
  EXPECT_EQ(kinds, (std::vector<Kind>{Kind::Video, Kind::Broken, Kind::Video}));

  WireClient noInfo;
  ASSERT_TRUE(noInfo.connect(sim.streamPort()) && noInfo.logIn(4));
  const auto notice = noInfo.next(Kind::Text);
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->text().find("INFO"), std::string::npos);
  EXPECT_TRUE(noInfo.next(Kind::Video));

  WireClient cut;
  ASSERT_TRUE(cut.connect(sim.streamPort()) && cut.logIn(5));
  const auto partial = cut.next(Kind::Text);
  ASSERT_TRUE(partial);
  const std::string text = partial->text();
  EXPECT_EQ(text.rfind("INFO\r\n", 0), 0u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);

  WireClient noise;
  ASSERT_FALSE(logInAndReadInfo(noise, sim.streamPort(), 6).empty());
  const auto junk = noise.next(Kind::Video);
  ASSERT_TRUE(junk);
  EXPECT_FALSE(startsWithPictureStart(junk->payload));
  const auto real = noise.next(Kind::Video);
  ASSERT_TRUE(real);
  ReferenceH263Decoder fresh;
  EXPECT_TRUE(fresh.decode(real->payload));

  for (const char* kind : {"oversize", "negative-length", "min-length", "text-without-info",
                           "info-without-line-end", "not-h263"})
    EXPECT_TRUE(sim.waitForEvent("fault", {std::string("\"kind\":\"") + kind + "\""})) << kind;
}

TEST(Simulator, HostileClientsDisturbNobody) {
  SimProcess sim({"--rate", "10", "--channels", "8"});
  ASSERT_TRUE(sim.ok());
  WireClient good;
  ASSERT_FALSE(logInAndReadInfo(good, sim.streamPort(), 1).empty());

  std::vector<std::unique_ptr<WireClient>> hostile;
  const auto open = [&](const std::string& bytes) {
    hostile.push_back(std::make_unique<WireClient>());
    EXPECT_TRUE(hostile.back()->connect(sim.streamPort()));
    hostile.back()->send(bytes);
  };
  open(std::string(2 << 20, 'A'));  // one line of two megabytes
  std::string binary;
  for (int i = 0; i < 100000; ++i)
    binary.push_back(static_cast<char>(i * 7919 % 251));  // bytes, line ends among them
  open(binary);
  open("");                  // connects and says nothing
  open("CONNECT 99 1\r\n");  // no channel at all
  open("CONNECT 12 1\r\n");  // a channel not served
  open("CONNECT 1 1\r\n001 SetPass -1 guest mirel\r\n002 PAUSE\r\n001 preset9\r\n001 ^x y\r\n");
  open(std::string("CONNECT 2 1\r\n002 SetPass -2 guest mirel\r\n") + std::string(300000, '\n'));

  // The good client's pictures keep coming at their rate.
  SteadyClock::time_point last = SteadyClock::now();
  int pictures = 0;
  for (const WireMessage& message : good.collect(2s)) {
    if (message.kind != Kind::Video) continue;
    EXPECT_LT(message.arrived - last, 600ms);
    last = message.arrived;
    ++pictures;
  }
  EXPECT_GE(pictures, 15);
  EXPECT_TRUE(sim.waitForEvent("unknown", {"\"reason\":\"line too long\""}));
  EXPECT_TRUE(sim.waitForEvent("refused", {"\"reason\":\"no such channel\""}));
  EXPECT_TRUE(sim.waitForEvent("unknown", {"\"reason\":\"for another channel\""}));
  EXPECT_TRUE(sim.waitForEvent("command", {"\"reason\":\"no command word\""}));
  // The log is bounded per connection, whatever a client sends.
  EXPECT_LE(sim.events("unknown").size(), 2u * 102u + 10u);
  EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST(Simulator, ConnectionsBeyondTheLimitAreClosed) {
  SimProcess sim({"--max-clients", "2"});
  ASSERT_TRUE(sim.ok());
  WireClient a, b, c;
  ASSERT_FALSE(logInAndReadInfo(a, sim.streamPort(), 1).empty());
  ASSERT_FALSE(logInAndReadInfo(b, sim.streamPort(), 2).empty());
  EXPECT_TRUE(logInAndReadInfo(c, sim.streamPort(), 3).empty());
  EXPECT_TRUE(c.closedByServer());
  EXPECT_TRUE(sim.waitForEvent("refused", {"\"reason\":\"too many clients\""}));
  a.close();
  ASSERT_TRUE(sim.waitForEvent("disconnect", {"\"channel\":1"}));
  // The freed place is taken by the next client (after the server has reaped it).
  bool served = false;
  for (int attempt = 0; attempt < 30 && !served; ++attempt) {
    WireClient d;
    served = !logInAndReadInfo(d, sim.streamPort(), 3).empty();
    if (!served) std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(served);
}

TEST(Simulator, SlowClientGetsPicturesDroppedNotQueued) {
  SimProcess sim({"--rate", "25", "--bitrate", "1M"});
  ASSERT_TRUE(sim.ok());
  WireClient slow;
  ASSERT_TRUE(slow.connect(sim.streamPort(), 8192));
  ASSERT_TRUE(slow.logIn(1));
  std::this_thread::sleep_for(3s);  // 75 pictures come due meanwhile
  // What waited for the client: a bounded amount, not three seconds' worth.
  const auto backlog = slow.collect(300ms);
  int pictures = 0;
  for (const WireMessage& message : backlog)
    pictures += message.kind == Kind::Video;
  EXPECT_LT(pictures, 40);
  slow.close();
  ASSERT_TRUE(sim.waitForEvent("disconnect", {"\"channel\":1"}));
  const auto dropped = eventNumber(sim.events("disconnect", {"\"channel\":1"}).front(), "dropped");
  ASSERT_TRUE(dropped);
  EXPECT_GT(*dropped, 20);
}

TEST(Simulator, ConfigurationFileSetsAccountsNamesAndPermissions) {
  SimProcess sim({"--config", ZENTA_SOURCE_DIR "/sim/example.conf", "--listen", "127.0.0.1"});
  ASSERT_TRUE(sim.ok());
  WireClient refused;
  const std::string info = logInAndReadInfo(refused, sim.streamPort(), 5, "guard", "night-shift");
  EXPECT_EQ(info, infoText("Loading bay", "Depot North", '2'));
  int pictures = 0, ticks = 0;
  for (const WireMessage& message : refused.collect(1500ms)) {
    pictures += message.kind == Kind::Video;
    ticks += message.kind == Kind::Tick;
  }
  EXPECT_EQ(pictures, 0);
  EXPECT_GE(ticks, 1);

  WireClient control;
  EXPECT_EQ(logInAndReadInfo(control, sim.streamPort(), 1, "guard", "night-shift"),
            infoText("Front gate", "Depot North", '1'));
  ReferenceH263Decoder decoder;
  const auto picture = control.next(Kind::Video);
  ASSERT_TRUE(picture);
  const auto decoded = decoder.decode(picture->payload);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 176);
  EXPECT_EQ(decoded->height, 144);
}

TEST(Simulator, VideoFilePlaysScaledAndLooped) {
  // Four flat pictures of rising brightness, as a YUV4MPEG2 file.
  char path[] = "/tmp/zenta-camsim-video-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  {
    std::ofstream file(path, std::ios::binary);
    file << "YUV4MPEG2 W64 H48 F10:1 Ip A1:1 C420jpeg\n";
    for (const int level : {50, 100, 150, 200}) {
      file << "FRAME\n";
      file << std::string(64 * 48, static_cast<char>(level)) << std::string(2 * 32 * 24, '\x80');
    }
  }
  SimProcess sim({"--file", std::string("2=") + path, "--size", "2=176x144", "--rate", "10"});
  ::unlink(path);
  ASSERT_TRUE(sim.ok());
  WireClient client;
  ASSERT_FALSE(logInAndReadInfo(client, sim.streamPort(), 2).empty());
  ReferenceH263Decoder decoder;
  std::vector<int> levels;
  for (int i = 0; i < 16; ++i) {
    const auto message = client.next(Kind::Video);
    ASSERT_TRUE(message);
    const auto picture = decoder.decode(message->payload);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 176);
    levels.push_back(static_cast<int>(std::lround(means(*picture, kClockRows).y / 50.0)) * 50);
  }
  // Every level shows, and 200 is followed by 50 again: the file loops.
  for (const int level : {50, 100, 150, 200})
    EXPECT_NE(std::find(levels.begin(), levels.end(), level), levels.end()) << level;
  const auto top = std::find(levels.begin(), levels.end(), 200);
  EXPECT_NE(std::find(top, levels.end(), 50), levels.end());
}

TEST(Simulator, SignalsShutItDownCleanly) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SimProcess sim({});
    ASSERT_TRUE(sim.ok());
    WireClient a, b;
    ASSERT_FALSE(logInAndReadInfo(a, sim.streamPort(), 1).empty());
    ASSERT_TRUE(b.connect(sim.streamPort()));  // never names a channel
    ASSERT_TRUE(a.next(Kind::Video));
    EXPECT_EQ(sim.stop(signal, 3s), 0);
    a.collect(500ms);
    EXPECT_TRUE(a.closedByServer());
    EXPECT_EQ(sim.events("shutdown", {signal == SIGINT ? "SIGINT" : "SIGTERM"}).size(), 1u);
    EXPECT_EQ(sim.events("stopped").size(), 1u);
    EXPECT_EQ(sim.events("disconnect", {"\"reason\":\"shutdown\""}).size(), 2u);
  }
}

TEST(Simulator, BadCommandLinesAreRefusedWithAReason) {
  std::string output;
  EXPECT_EQ(SimProcess::runToEnd({"--size", "1=101x100"}, &output), 2);
  EXPECT_NE(output.find("101x100"), std::string::npos);
  EXPECT_EQ(SimProcess::runToEnd({"--fault", "1:bogus"}, &output), 2);
  EXPECT_EQ(SimProcess::runToEnd({"--rate", "0"}, &output), 2);
  EXPECT_EQ(SimProcess::runToEnd({"--frobnicate", "1"}, &output), 2);
  EXPECT_EQ(SimProcess::runToEnd({"--file", "1=/no/such/file"}, &output), 2);
  EXPECT_EQ(SimProcess::runToEnd({"--help"}, &output), 0);
  EXPECT_NE(output.find("--fault"), std::string::npos);
}

}  // namespace
}  // namespace zenta::testing
