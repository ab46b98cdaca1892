// The viewer's whole receive path on loopback: four channels of CIF at 25
// pictures a second from the camera server simulator, read, decoded,
// converted and stretched into the window (four pictures), and presented:
// on the headless screen, and in a desktop window (SDL, where a display is
// open: scripts/bench runs it under Xvfb) at zoom 2 and at 1280 x 960.
// Reports the viewer's CPU time as a share of one core (the simulator runs
// in its own process), the frame-to-screen latency from the last payload
// byte read to the picture on the device screen, and the presents a second.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/device/device.h"
#include "platform/registry/registry.h"
#include "viewer/commands.h"
#include "viewer/main_window.h"
#include "viewer/viewer_app.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::mutex latencyLock;
std::vector<double> latencies;  // microseconds

void shown(int, Clock::time_point payloadRead) {
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - payloadRead).count();
  std::lock_guard guard(latencyLock);
  latencies.push_back(us);
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The program's own message loop (GetMessageW, which presents and polls
// the display while idle) for a span; a timer ends each wait in time.
void pump(HWND window, Clock::duration span) {
  const auto until = Clock::now() + span;
  SetTimer(window, 99, 50, nullptr);
  MSG msg;
  while (Clock::now() < until && GetMessageW(&msg, nullptr, 0, 0))
    DispatchMessageW(&msg);
  KillTimer(window, 99);
}

// The simulator on free ports; its HTTP port from the event log.
struct Simulator {
  pid_t pid = -1;
  int httpPort = 0;
  std::string log = "/tmp/zenta-bench-sim-" + std::to_string(::getpid()) + ".log";
  Simulator() {
    std::vector<std::string> args = {
        ZENTA_CAMSIM,       "--stream-port", "0",       "--http-port", "0",  "--event-log", log,
        "--no-picture-log", "--size",        "352x288", "--rate",      "25", "--bitrate",   "400k"};
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid, ZENTA_CAMSIM, nullptr, nullptr, argv.data(), environ) != 0) return;
    for (int i = 0; i < 100 && httpPort == 0; ++i) {
      std::ifstream in(log);
      std::string line;
      if (std::getline(in, line)) {
        const auto at = line.find("\"http_port\":");
        if (at != std::string::npos) httpPort = std::stoi(line.substr(at + 12));
      }
      if (httpPort == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~Simulator() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    ::unlink(log.c_str());
  }
};

enum Display { Headless = 0, WindowZoom2 = 1, Window1280x960 = 2 };

struct Measured {
  double cpuShare = 0, picturesPerS = 0, presentsPerS = 0, medianUs = 0, p99Us = 0, wall = 0;
  bool ok = false;
};

// One viewer on the simulator, measured for five seconds. It runs in a
// child process of its own: the device and its window belong to a process
// once.
Measured measure(Display display, int httpPort) {
  Measured m;
  zenta::platform::DeviceOptions options;
  const std::string tag = std::to_string(::getpid());
  options.headless = display == Headless;
  options.zoom = display == WindowZoom2 ? 2 : 0;
  options.registry = "/tmp/zenta-bench-registry-" + tag;
  if (display == Window1280x960) {
    // The window as a user left it last time: 1280 x 960, the screen fitted
    // into it (three times its size, bars beside it).
    options.placeFile = "/tmp/zenta-bench-window-" + tag;
    std::ofstream(options.placeFile) << "0 0 1280 960 0\n";
  }
  zenta::platform::startDevice(options);
  if (std::string_view(zenta::platform::deviceBackendName()) ==
      (options.headless ? "headless" : "sdl")) {
    zenta::viewer::ViewerState viewer;
    zenta::viewer::MainWindow window(viewer);
    zenta::viewer::ViewerApp app(window);
    app.instance = GetModuleHandleW(nullptr);
    app.initialise(nullptr, nullptr, SW_SHOW);
    pump(window.hwnd, std::chrono::milliseconds(100));
    const std::string port = std::to_string(httpPort);
    viewer.login.host = u"127.0.0.1:" + std::u16string(port.begin(), port.end());
    zenta::viewer::connect(window);
    pump(window.hwnd, std::chrono::seconds(1));  // every INFO text
    zenta::viewer::tap(window, 132, 259);        // four pictures
    pump(window.hwnd, std::chrono::seconds(1));
    window.display.shownHook = shown;
    const double cpu0 = cpuSeconds();
    const uint64_t presents0 = zenta::platform::devicePresents();
    const auto wall0 = Clock::now();
    pump(window.hwnd, std::chrono::seconds(5));
    m.wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    m.cpuShare = 100 * (cpuSeconds() - cpu0) / m.wall;
    m.presentsPerS = double(zenta::platform::devicePresents() - presents0) / m.wall;
    std::vector<double> sorted;
    {
      std::lock_guard guard(latencyLock);
      sorted = latencies;
    }
    std::sort(sorted.begin(), sorted.end());
    m.picturesPerS = double(sorted.size()) / m.wall;
    if (!sorted.empty()) {
      m.medianUs = sorted[sorted.size() / 2];
      m.p99Us = sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)];
    }
    m.ok = true;
    window.display.shownHook = nullptr;
    window.session.closeAllChannels();
    DestroyWindow(window.hwnd);
    pump(window.hwnd, std::chrono::milliseconds(50));
  }
  zenta::platform::stopDevice();
  ::unlink(options.registry.c_str());
  if (!options.placeFile.empty()) ::unlink(options.placeFile.c_str());
  return m;
}

void ReceivePathFourCif(benchmark::State& state) {
  const auto display = Display(state.range(0));
  if (display != Headless && std::getenv("DISPLAY") == nullptr) {
    state.SkipWithError("no display (scripts/bench runs this under Xvfb)");
    return;
  }
  Simulator sim;
  if (sim.httpPort == 0) {
    state.SkipWithError("the simulator did not start");
    return;
  }
  for (auto _ : state) {
    int channel[2];
    if (pipe(channel) != 0) break;
    const pid_t child = fork();
    if (child == 0) {
      close(channel[0]);
      const Measured m = measure(display, sim.httpPort);
      const ssize_t written = write(channel[1], &m, sizeof m);
      _exit(written == ssize_t(sizeof m) ? 0 : 1);
    }
    close(channel[1]);
    Measured m;
    const bool got = child > 0 && read(channel[0], &m, sizeof m) == ssize_t(sizeof m) && m.ok;
    close(channel[0]);
    if (child > 0) waitpid(child, nullptr, 0);
    if (!got) {
      state.SkipWithError("the measuring process failed (no window?)");
      break;
    }
    state.SetIterationTime(m.wall);
    state.counters["cpu_share_of_one_core_%"] = m.cpuShare;
    state.counters["pictures_per_s"] = m.picturesPerS;
    state.counters["presents_per_s"] = m.presentsPerS;
    state.counters["latency_median_us"] = m.medianUs;
    state.counters["latency_p99_us"] = m.p99Us;
  }
}
BENCHMARK(ReceivePathFourCif)
    ->ArgName("display")  // 0 headless, 1 window at zoom 2, 2 window of 1280 x 960
    ->Arg(Headless)
    ->Arg(WindowZoom2)
    ->Arg(Window1280x960)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
