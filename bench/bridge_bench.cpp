// zenta-bridge under load, as a process of its own on loopback: sixteen CIF
// channels at 25 pictures a second from the simulator, four page clients
// taking all sixteen over their WebSockets, eight RTSP clients (ffmpeg) on
// four channels, and one MJPEG client that measures how late each picture
// arrives against the recorder's own stamp. Reports the bridge's CPU time
// as a share of one core, its resident memory, and the MJPEG latency.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(std::vector<std::string> args, const std::string& out = "/dev/null") {
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&files);
  return pid;
}

void end(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// A line of a file that holds `key`, waited for.
std::string lineWith(const std::string& path, const std::string& key) {
  for (int i = 0; i < 200; ++i) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
      if (line.find(key) != std::string::npos) return line;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return {};
}

int connectTo(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(uint16_t(port));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
    close(fd);
    return -1;
  }
  timeval limit{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

// A page client: the WebSocket handshake, then everything read and dropped.
void pageClient(int port, const std::atomic<bool>& running, std::atomic<uint64_t>& bytes) {
  const int fd = connectTo(port);
  if (fd < 0) return;
  const std::string hello =
      "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  if (send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) < 0) return;
  std::vector<char> buffer(1 << 16);
  while (running) {
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n == 0) break;
    if (n > 0) bytes += uint64_t(n);
  }
  close(fd);
}

// The local time's offset from UTC in seconds, for the recorder's stamps.
double localOffset() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return double(local.tm_gmtoff);
}

// An MJPEG client that notes, for each part, now minus the recorder's stamp.
void latencyClient(int port, const std::atomic<bool>& running, std::vector<double>& latencies) {
  const int fd = connectTo(port);
  if (fd < 0) return;
  const std::string request = "GET /ch/5.mjpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) return;
  const double offset = localOffset();
  std::string pending;
  std::vector<char> buffer(1 << 16);
  while (running) {
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n == 0) break;
    if (n < 0) continue;
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    pending.append(buffer.data(), size_t(n));
    for (size_t at; (at = pending.find("X-Recorder-Time: ")) != std::string::npos;) {
      const size_t endOfLine = pending.find("\r\n", at);
      if (endOfLine == std::string::npos) break;
      const double days = std::atof(pending.c_str() + at + 17);
      const double unix = (days - 25569.0) * 86400.0 - offset;
      latencies.push_back((now - unix) * 1000.0);
      pending.erase(0, endOfLine);
    }
    if (pending.size() > (1 << 20)) pending.erase(0, pending.size() - 4096);
  }
  close(fd);
}

// utime + stime of a process, in seconds.
double cpuOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const size_t close = text.rfind(')');
  std::istringstream fields(text.substr(close + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i)
    fields >> skip;
  double user = 0, system = 0;
  fields >> user >> system;
  return (user + system) / double(sysconf(_SC_CLK_TCK));
}

double residentMegabytes(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

void BridgeSixteenCifFourPagesEightRtsp(benchmark::State& state) {
  const std::string tag = std::to_string(getpid());
  const std::string simLog = "/tmp/zenta-bench-bridge-sim-" + tag + ".log";
  const std::string bridgeOut = "/tmp/zenta-bench-bridge-" + tag + ".out";
  const pid_t sim =
      spawn({ZENTA_CAMSIM, "--stream-port", "0", "--http-port", "0", "--event-log", simLog,
             "--no-picture-log", "--size", "352x288", "--rate", "25", "--bitrate", "400k"});
  const std::string listening = lineWith(simLog, "http_port");
  const size_t at = listening.find("\"http_port\":");
  if (sim <= 0 || at == std::string::npos) {
    state.SkipWithError("the simulator did not start");
    end(sim);
    return;
  }
  const int recorderPort = std::atoi(listening.c_str() + at + 12);
  const pid_t bridge =
      spawn({ZENTA_BRIDGE, "--registry=/tmp/zenta-bench-bridge-registry-" + tag, "--http-port", "0",
             "--rtsp-port", "0", "127.0.0.1:" + std::to_string(recorderPort)},
            bridgeOut);
  const std::string serving = lineWith(bridgeOut, "serving");
  const int httpPort = std::atoi(serving.c_str() + serving.find("127.0.0.1:") + 10);
  const size_t rtspAt = serving.find("rtsp://127.0.0.1:");
  const int rtspPort = rtspAt == std::string::npos ? 0 : std::atoi(serving.c_str() + rtspAt + 17);
  if (bridge <= 0 || httpPort == 0 || rtspPort == 0) {
    state.SkipWithError("the bridge did not start");
    end(bridge);
    end(sim);
    return;
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));  // logged in
  std::atomic<bool> running{true};
  std::atomic<uint64_t> pageBytes{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 4; ++i)
    clients.emplace_back([&] { pageClient(httpPort, running, pageBytes); });
  std::vector<pid_t> players;
  for (int i = 0; i < 8; ++i) {
    players.push_back(
        spawn({"ffmpeg", "-nostdin", "-v", "quiet", "-rtsp_transport", "tcp", "-i",
               "rtsp://127.0.0.1:" + std::to_string(rtspPort) + "/ch/" + std::to_string(i % 4 + 1),
               "-f", "null", "-"}));
  }
  std::vector<double> latencies;
  clients.emplace_back([&] { latencyClient(httpPort, running, latencies); });
  std::this_thread::sleep_for(std::chrono::seconds(3));  // every client playing
  for (auto _ : state) {
    latencies.clear();  // only the latency thread appends; cleared before it is read
    const double cpu0 = cpuOf(bridge);
    const uint64_t bytes0 = pageBytes;
    const auto wall0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    state.SetIterationTime(wall);
    state.counters["cpu_share_of_one_core_%"] = 100 * (cpuOf(bridge) - cpu0) / wall;
    state.counters["resident_MB"] = residentMegabytes(bridge);
    state.counters["page_MB_per_s"] = double(pageBytes - bytes0) / wall / 1e6;
  }
  running = false;
  for (auto& c : clients)
    c.join();
  std::vector<double> sorted = latencies;
  std::sort(sorted.begin(), sorted.end());
  if (!sorted.empty()) {
    state.counters["mjpeg_latency_median_ms"] = sorted[sorted.size() / 2];
    state.counters["mjpeg_pictures"] = double(sorted.size());
  }
  for (const pid_t p : players)
    end(p);
  end(bridge);
  end(sim);
  unlink(simLog.c_str());
  unlink(bridgeOut.c_str());
}
BENCHMARK(BridgeSixteenCifFourPagesEightRtsp)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
