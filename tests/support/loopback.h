// Small loopback TCP servers for the tests: a listener on 127.0.0.1 with an
// ephemeral port, and a server that runs a handler per accepted connection
// and records every byte it received.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zenta::testing {

using namespace std::chrono_literals;

class Listener {
 public:
  explicit Listener(int backlog = 64, uint16_t port = 0);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  bool ok() const { return fd_ >= 0; }
  uint16_t port() const { return port_; }
  // An accepted connection, or -1 when none arrives within the limit.
  int accept(std::chrono::milliseconds limit);
  void close();

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// The 12-byte server message header.
std::string messageHeader(double timestamp, int32_t lengthCode);

// One accepted connection as a handler sees it. What it reads is recorded.
class Peer {
 public:
  Peer(int fd, size_t index) : fd_(fd), index_(index) {}
  size_t index() const { return index_; }
  // One line up to and including LF; empty on end of data or time-out.
  std::string readLine(std::chrono::milliseconds limit = 5s);
  // Everything until the client closes (or the limit passes).
  std::string readToEnd(std::chrono::milliseconds limit = 5s);
  bool send(std::string_view bytes);
  std::string received() const;
  bool closedByClient() const { return eof_; }
  void close();

 private:
  friend class TestServer;
  int readSome(char* buffer, size_t size, std::chrono::milliseconds limit);
  int fd_;
  size_t index_;
  mutable std::mutex mutex_;
  std::string received_;
  std::atomic<bool> eof_{false};
};

class TestServer {
 public:
  using Handler = std::function<void(Peer&)>;
  // backlog: the listen queue; a full queue makes further connects hang.
  // accepting: false leaves connections queued until acceptQueued().
  explicit TestServer(Handler handler, int backlog = 64, bool accepting = true);
  ~TestServer();

  uint16_t port() const { return listener_.port(); }
  size_t connectionCount() const;
  // Waits until `count` connections were accepted.
  bool waitForConnections(size_t count, std::chrono::milliseconds limit = 5s) const;
  // What connection `index` received so far.
  std::string received(size_t index) const;
  bool closedByClient(size_t index) const;
  // Starts accepting connections that were left queued.
  void acceptQueued();
  void stop();

 private:
  void acceptLoop();
  Handler handler_;
  Listener listener_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> accepting_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::unique_ptr<Peer>> peers_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

// Waits until `predicate` holds, polling; false when the limit passes.
bool eventually(const std::function<bool()>& predicate, std::chrono::milliseconds limit = 5s);

}  // namespace zenta::testing
