#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace zenta::testing {

using Clock = std::chrono::steady_clock;

Listener::Listener(int backlog, uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  const int on = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  socklen_t size = sizeof address;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd_, backlog) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    close();
    return;
  }
  port_ = ntohs(address.sin_port);
}

Listener::~Listener() {
  close();
}

int Listener::accept(std::chrono::milliseconds limit) {
  if (fd_ < 0) return -1;
  pollfd ready{fd_, POLLIN, 0};
  if (::poll(&ready, 1, static_cast<int>(limit.count())) <= 0) return -1;
  return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

void Listener::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::string messageHeader(double timestamp, int32_t lengthCode) {
  std::string bytes(12, '\0');
  uint64_t bits = 0;
  std::memcpy(&bits, &timestamp, sizeof bits);
  for (int i = 0; i < 8; ++i)
    bytes[static_cast<size_t>(i)] = static_cast<char>(bits >> (8 * i));
  const auto code = static_cast<uint32_t>(lengthCode);
  for (int i = 0; i < 4; ++i)
    bytes[static_cast<size_t>(8 + i)] = static_cast<char>(code >> (8 * i));
  return bytes;
}

int Peer::readSome(char* buffer, size_t size, std::chrono::milliseconds limit) {
  pollfd ready{fd_, POLLIN, 0};
  if (::poll(&ready, 1, static_cast<int>(limit.count())) <= 0) return -1;
  const ssize_t got = ::recv(fd_, buffer, size, 0);
  if (got <= 0) {
    eof_ = true;
    return 0;
  }
  std::lock_guard guard(mutex_);
  received_.append(buffer, static_cast<size_t>(got));
  return static_cast<int>(got);
}

std::string Peer::readLine(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  std::string line;
  char c = 0;
  while (Clock::now() < deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (readSome(&c, 1, left) != 1) break;
    line.push_back(c);
    if (c == '\n') return line;
  }
  return line;
}

std::string Peer::readToEnd(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  std::string all;
  char buffer[4096];
  while (!eof_ && Clock::now() < deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const int got = readSome(buffer, sizeof buffer, left);
    if (got > 0) all.append(buffer, static_cast<size_t>(got));
  }
  return all;
}

bool Peer::send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

std::string Peer::received() const {
  std::lock_guard guard(mutex_);
  return received_;
}

void Peer::close() {
  ::shutdown(fd_, SHUT_RDWR);
}

TestServer::TestServer(Handler handler, int backlog, bool accepting)
    : handler_(std::move(handler)), listener_(backlog), accepting_(accepting) {
  acceptor_ = std::thread([this] { acceptLoop(); });
}

TestServer::~TestServer() {
  stop();
}

void TestServer::acceptLoop() {
  while (!stopping_) {
    if (!accepting_) {
      std::this_thread::sleep_for(5ms);
      continue;
    }
    const int fd = listener_.accept(20ms);
    if (fd < 0) continue;
    std::lock_guard guard(mutex_);
    peers_.push_back(std::make_unique<Peer>(fd, peers_.size()));
    Peer* peer = peers_.back().get();
    workers_.emplace_back([this, peer] {
      handler_(*peer);
      changed_.notify_all();
    });
    changed_.notify_all();
  }
}

size_t TestServer::connectionCount() const {
  std::lock_guard guard(mutex_);
  return peers_.size();
}

bool TestServer::waitForConnections(size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock guard(mutex_);
  return changed_.wait_for(guard, limit, [&] { return peers_.size() >= count; });
}

std::string TestServer::received(size_t index) const {
  std::lock_guard guard(mutex_);
  return index < peers_.size() ? peers_[index]->received() : std::string();
}

bool TestServer::closedByClient(size_t index) const {
  std::lock_guard guard(mutex_);
  return index < peers_.size() && peers_[index]->closedByClient();
}

void TestServer::acceptQueued() {
  accepting_ = true;
}

void TestServer::stop() {
  if (stopping_.exchange(true)) return;
  if (acceptor_.joinable()) acceptor_.join();
  {
    std::lock_guard guard(mutex_);
    for (auto& peer : peers_)
      peer->close();
  }
  for (auto& worker : workers_)
    worker.join();
  for (auto& peer : peers_)
    ::close(peer->fd_);
  listener_.close();
}

bool eventually(const std::function<bool()>& predicate, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (predicate()) return true;
    std::this_thread::sleep_for(2ms);
  }
  return predicate();
}

}  // namespace zenta::testing
