// The zenta program against the camera server simulator: the fixture that
// starts both, taps the screen, reads its pixels and the simulator's event
// log, and the places on the 240 x 320 screen with the shipped skin.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

#include "hosts/host_store.h"
#include "platform/registry/registry.h"
#include "tests/sim/wire_client.h"
#include "tests/support/jpeg_file.h"
#include "tests/support/loopback.h"
#include "tests/support/test_folder.h"
#include "tests/support/zenta_process.h"

namespace zenta::testing {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

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

inline Mean meanOf(const std::vector<uint32_t>& pixels) {
  Mean m;
  for (const uint32_t p : pixels) {
    m.r += p >> 16 & 0xFF;
    m.g += p >> 8 & 0xFF;
    m.b += p & 0xFF;
  }
  const double n = std::max<size_t>(pixels.size(), 1);
  return {m.r / n, m.g / n, m.b / n};
}

inline double distance(const Mean& a, const Mean& b) {
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
    simOptions = options;
    sim = std::make_unique<SimProcess>(options);
    ASSERT_TRUE(sim->ok());
    streamPort = sim->streamPort();
    httpPort = sim->httpPort();
    platform::setRegistryFile(dir + "/registry");
    stream::Login login;
    const std::string port = std::to_string(sim->httpPort());
    hosts::HostStore(login).saveHost(
        host.empty() ? u"127.0.0.1:" + std::u16string(port.begin(), port.end()) : host, u"", u"",
        true);
    zenta = std::make_unique<ZentaProcess>(ZENTA_PROGRAM, dir, zentaOptions);
    ASSERT_TRUE(zenta->ready()) << zenta->errors();
  }

  // The simulator started again as it was, on the same ports (after
  // `sim` was stopped), with an event log of its own.
  void restartSim() {
    std::vector<std::string> options = simOptions;
    options.insert(options.end(), {"--stream-port", std::to_string(streamPort), "--http-port",
                                   std::to_string(httpPort)});
    sim = std::make_unique<SimProcess>(options);
    ASSERT_TRUE(sim->ok());
  }

  void tap(int x, int y) {
    ASSERT_EQ(zenta->command("tap " + std::to_string(x) + " " + std::to_string(y)), "ok");
  }
  // Taps Connect and waits half a second at most for "Connecting..." (red,
  // on the left of the status line): the line's pixels then, or nothing.
  std::optional<std::vector<uint32_t>> tapConnectUntilConnecting() {
    constexpr Area left{7, 23, 110, 14};
    tap(kConnectX, kButtonRow);
    if (!eventually([&] { return alerts(left) > 20; }, 500ms)) return std::nullopt;
    return pixels(left);
  }
  // Pixels in the alert colour (red 255, blue 7): the status line's and the
  // marks' warnings.
  long alerts(const Area& a) {
    const auto p = pixels(a);
    return long(std::count(p.begin(), p.end(), 0xFF0007u));
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
  std::vector<std::string> simOptions;
  int streamPort = 0, httpPort = 0;
  std::unique_ptr<ZentaProcess> zenta;
};

inline std::vector<std::string> snapshots(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder + "/WebCAM", ignored)) {
    // Files being written carry a temporary name until they are whole.
    if (entry.path().extension() == ".jpg") files.push_back(entry.path().filename().string());
  }
  return files;
}

}  // namespace zenta::testing
