#include "stream/sockets.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace zenta::stream {

using Clock = std::chrono::steady_clock;

int newStreamSocket() {
  return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
}

bool connectWithin(int socket, const sockaddr_in& address, std::chrono::milliseconds limit,
                   int wakeFd) {
  const int flags = ::fcntl(socket, F_GETFL);
  if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) return false;
  bool connected = false;
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    connected = true;
  } else if (errno == EINPROGRESS) {
    const auto deadline = Clock::now() + limit;
    pollfd fds[2] = {{socket, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
    const nfds_t count = wakeFd >= 0 ? 2 : 1;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      const int ready = ::poll(fds, count, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || (count == 2 && fds[1].revents != 0)) break;
      int error = 0;
      socklen_t size = sizeof error;
      connected = ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
      break;
    }
  }
  ::fcntl(socket, F_SETFL, flags);
  return connected;
}

sockaddr_in makeAddress(in_addr host, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr = host;
  return address;
}

}  // namespace zenta::stream
