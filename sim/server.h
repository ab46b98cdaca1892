// The simulator's server: the listening sockets of the stream port and the
// HTTP port, one thread a connection, the channels with their worlds,
// cameras and files, and what it remembers of earlier logins so that a
// viewer's reconnection resumes without logging in again.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/camera.h"
#include "sim/config.h"
#include "sim/event_log.h"
#include "sim/file_source.h"
#include "sim/scene.h"

namespace zenta::sim {

struct ChannelRuntime {
  int number = 0;
  const ChannelConfig* config = nullptr;
  YuvImage world;                    // the synthetic world, when no file plays
  std::unique_ptr<FileSource> file;  // the file that plays instead
  std::unique_ptr<VirtualCamera> camera;
  std::atomic<int> connections{0};  // connections that named this channel
};

// What a login on a channel from one client address leaves behind.
struct LoginMemory {
  std::string account;
  char permission = '3';
  bool paused = false;
};

class Server {
 public:
  Server(const Config& config, EventLog& log);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Prepares the channels and binds every listening socket.
  std::optional<std::string> start();
  // Accepts connections until stop(); then waits for every connection.
  void run();
  // Asks run() and every connection to end; callable from any thread.
  void stop();

  int streamPort() const { return streamPort_; }
  int httpPort() const { return httpPort_; }

  // For the connections.
  const Config& config() const { return config_; }
  EventLog& log() { return log_; }
  ChannelRuntime& channel(int number) { return *channels_[static_cast<size_t>(number - 1)]; }
  int wakeDescriptor() const { return wake_; }
  bool stopping() const { return stopping_.load(); }
  std::optional<LoginMemory> recall(const std::string& address, int channel);
  void remember(const std::string& address, int channel, const LoginMemory& memory);
  void rememberPause(const std::string& address, int channel, bool paused);
  // A random number for faults, from the configured seed.
  uint64_t random();

  // Connections remembered at most; the oldest is forgotten first.
  static constexpr size_t kMaxLoginMemories = 4096;

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::optional<std::string> listenOn(const std::string& address, int& port, bool http);
  void reapWorkers(bool all);

  const Config& config_;
  EventLog& log_;
  std::vector<std::unique_ptr<ChannelRuntime>> channels_;
  struct Listening {
    int fd;
    bool http;
  };
  std::vector<Listening> listeners_;
  int streamPort_ = 0;
  int httpPort_ = -1;
  int wake_ = -1;
  std::atomic<bool> stopping_{false};
  std::list<Worker> workers_;
  std::atomic<int> active_{0};
  uint64_t nextConnection_ = 0;

  std::mutex memoryLock_;
  std::map<std::pair<std::string, int>, LoginMemory> memories_;
  std::list<std::pair<std::string, int>> memoryOrder_;

  std::mutex randomLock_;
  std::mt19937_64 random_;
};

// One stream connection, from its channel request to its end.
void serveStream(Server& server, int fd, const std::string& address, uint64_t id);
// One HTTP request on the HTTP port.
void serveHttp(Server& server, int fd, uint64_t id);

}  // namespace zenta::sim
