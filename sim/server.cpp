#include "sim/server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zenta::sim {

Server::Server(const Config& config, EventLog& log)
    : config_(config), log_(log), random_(config.seed) {}

Server::~Server() {
  stop();
  reapWorkers(true);
  for (const Listening& listening : listeners_)
    ::close(listening.fd);
  if (wake_ >= 0) ::close(wake_);
}

std::optional<std::string> Server::start() {
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) return std::string("eventfd: ") + std::strerror(errno);

  for (int number = 1; number <= kChannels; ++number) {
    auto runtime = std::make_unique<ChannelRuntime>();
    runtime->number = number;
    runtime->config = &config_.channels[static_cast<size_t>(number - 1)];
    const ChannelConfig& channel = *runtime->config;
    if (number <= config_.channelCount) {
      const double w = channel.width, h = channel.height;
      if (!channel.file.empty()) {
        std::string error;
        runtime->file =
            FileSource::open(channel.file, channel.width, channel.height, channel.rate, error);
        if (!runtime->file) return "channel " + std::to_string(number) + ": " + error;
        // A file is its own world: the camera zooms into it and pans there.
        runtime->camera = std::make_unique<VirtualCamera>(w, h, w, h, 1.0, 4.0);
      } else {
        runtime->world = buildWorld(number, channel.width, channel.height);
        runtime->camera = std::make_unique<VirtualCamera>(2 * w, 2 * h, w, h, 0.5, 4.0);
      }
    }
    channels_.push_back(std::move(runtime));
  }

  int streamPort = config_.streamPort;
  int httpPort = config_.httpPort;
  for (const std::string& address : config_.listen) {
    if (auto error = listenOn(address, streamPort, false)) return error;
    if (httpPort >= 0)
      if (auto error = listenOn(address, httpPort, true)) return error;
  }
  streamPort_ = streamPort;
  httpPort_ = httpPort;
  for (const std::string& address : config_.listen)
    log_.write("listening",
               {{"address", address}, {"stream_port", streamPort_}, {"http_port", httpPort_}});
  return std::nullopt;
}

std::optional<std::string> Server::listenOn(const std::string& address, int& port, bool http) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (::getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
    return "cannot resolve the address " + address;
  sockaddr_in where{};
  std::memcpy(&where, found->ai_addr, sizeof where);
  ::freeaddrinfo(found);
  where.sin_port = htons(static_cast<uint16_t>(port));

  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return std::string("socket: ") + std::strerror(errno);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || ::listen(fd, 64) != 0) {
    const std::string error = std::strerror(errno);
    ::close(fd);
    return "cannot listen on " + address + ":" + std::to_string(port) + ": " + error;
  }
  socklen_t size = sizeof where;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&where), &size);
  // A free port picked for the first address is used on the others too.
  port = ntohs(where.sin_port);
  listeners_.push_back({fd, http});
  return std::nullopt;
}

void Server::stop() {
  if (stopping_.exchange(true)) return;
  if (wake_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
  }
}

void Server::reapWorkers(bool all) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (all || it->done->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::run() {
  std::vector<pollfd> waiting;
  for (const Listening& listening : listeners_)
    waiting.push_back({listening.fd, POLLIN, 0});
  waiting.push_back({wake_, POLLIN, 0});
  while (!stopping_) {
    for (pollfd& entry : waiting)
      entry.revents = 0;
    const int ready = ::poll(waiting.data(), waiting.size(), 1000);
    reapWorkers(false);
    if (ready <= 0) continue;
    for (size_t i = 0; i < listeners_.size(); ++i) {
      if ((waiting[i].revents & POLLIN) == 0) continue;
      sockaddr_in peer{};
      socklen_t size = sizeof peer;
      const int fd = ::accept4(listeners_[i].fd, reinterpret_cast<sockaddr*>(&peer), &size,
                               SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) {
        // Out of descriptors: the connection stays queued; do not spin on it.
        if (errno == EMFILE || errno == ENFILE) ::poll(nullptr, 0, 100);
        continue;
      }
      char text[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
      const std::string address = text;
      const uint64_t id = ++nextConnection_;
      const bool http = listeners_[i].http;
      log_.write("connection", {{"connection", id},
                                {"client", address + ":" + std::to_string(ntohs(peer.sin_port))},
                                {"port", http ? "http" : "stream"}});
      if (active_.load() >= config_.maxClients) {
        log_.write("refused", {{"connection", id}, {"reason", "too many clients"}});
        ::close(fd);
        continue;
      }
      auto done = std::make_shared<std::atomic<bool>>(false);
      ++active_;
      try {
        workers_.push_back({std::thread([this, fd, address, id, http, done] {
                              if (http)
                                serveHttp(*this, fd, id);
                              else
                                serveStream(*this, fd, address, id);
                              ::close(fd);
                              --active_;
                              done->store(true);
                            }),
                            done});
      } catch (const std::system_error&) {
        --active_;
        ::close(fd);
        log_.write("refused", {{"connection", id}, {"reason", "no thread"}});
      }
    }
  }
  reapWorkers(true);
}

std::optional<LoginMemory> Server::recall(const std::string& address, int channel) {
  std::lock_guard guard(memoryLock_);
  const auto found = memories_.find({address, channel});
  if (found == memories_.end()) return std::nullopt;
  return found->second;
}

void Server::remember(const std::string& address, int channel, const LoginMemory& memory) {
  std::lock_guard guard(memoryLock_);
  const auto key = std::make_pair(address, channel);
  if (memories_.insert_or_assign(key, memory).second) {
    memoryOrder_.push_back(key);
    if (memoryOrder_.size() > kMaxLoginMemories) {
      memories_.erase(memoryOrder_.front());
      memoryOrder_.pop_front();
    }
  }
}

void Server::rememberPause(const std::string& address, int channel, bool paused) {
  std::lock_guard guard(memoryLock_);
  const auto found = memories_.find({address, channel});
  if (found != memories_.end()) found->second.paused = paused;
}

uint64_t Server::random() {
  std::lock_guard guard(randomLock_);
  return random_();
}

}  // namespace zenta::sim
