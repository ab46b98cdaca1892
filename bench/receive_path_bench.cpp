// The viewer's whole receive path on loopback: four channels of CIF at 25
// pictures a second from the camera server simulator, read, decoded,
// converted and stretched into the window (four pictures, headless screen).
// Reports the viewer's CPU time as a share of one core (the simulator runs
// in its own process) and the frame-to-screen latency, from the last
// payload byte read to the picture on the screen.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <string>
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

void pump(Clock::duration span) {
  const auto until = Clock::now() + span;
  MSG msg;
  while (Clock::now() < until) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
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

void ReceivePathFourCif(benchmark::State& state) {
  Simulator sim;
  if (sim.httpPort == 0) {
    state.SkipWithError("the simulator did not start");
    return;
  }
  zenta::platform::DeviceOptions options;
  options.headless = true;
  options.registry = "/tmp/zenta-bench-registry-" + std::to_string(::getpid());
  zenta::platform::startDevice(options);
  {
    zenta::stream::ViewerState viewer;
    zenta::viewer::MainWindow window(viewer);
    zenta::viewer::ViewerApp app(window);
    app.instance = GetModuleHandleW(nullptr);
    app.initialise(nullptr, nullptr, SW_SHOW);
    pump(std::chrono::milliseconds(100));
    const std::string port = std::to_string(sim.httpPort);
    viewer.hostText = u"127.0.0.1:" + std::u16string(port.begin(), port.end());
    zenta::viewer::connect(window);
    pump(std::chrono::seconds(1));         // every INFO text
    zenta::viewer::tap(window, 132, 259);  // four pictures
    pump(std::chrono::seconds(1));
    window.display.shownHook = shown;
    for (auto _ : state) {
      {
        std::lock_guard guard(latencyLock);
        latencies.clear();
      }
      const double cpu0 = cpuSeconds();
      const auto wall0 = Clock::now();
      pump(std::chrono::seconds(5));
      const double cpu = cpuSeconds() - cpu0;
      const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
      std::vector<double> sorted;
      {
        std::lock_guard guard(latencyLock);
        sorted = latencies;
      }
      std::sort(sorted.begin(), sorted.end());
      state.SetIterationTime(wall);
      state.counters["cpu_share_of_one_core_%"] = 100 * cpu / wall;
      state.counters["pictures_per_s"] = double(sorted.size()) / wall;
      if (!sorted.empty()) {
        state.counters["latency_median_us"] = sorted[sorted.size() / 2];
        state.counters["latency_p99_us"] =
            sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)];
      }
    }
    window.display.shownHook = nullptr;
    window.session.closeAllChannels();
    DestroyWindow(window.hwnd);
    pump(std::chrono::milliseconds(50));
  }
  zenta::platform::stopDevice();
  ::unlink(options.registry.c_str());
}
BENCHMARK(ReceivePathFourCif)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
