#include "platform/device/automation.h"
#include "platform/base/text.h"
#include "platform/controls/controls.h"
#include "platform/device/device.h"
#include "platform/dialogs/dialogs.h"
#include "platform/shell/shell.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <sstream>
#include <vector>

#include "platform/base/files.h"
#include "platform/device/automation.h"
#include "platform/device/backends/backend.h"
#include "platform/device/device.h"
#include "platform/gdi/gdi_api.h"
#include "platform/registry/registry.h"
#include "platform/screen/png.h"
#include "platform/screen/screen.h"
#include "platform/wm/peers.h"
#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

// Answers a client has not taken yet, at the most.
constexpr size_t kMaxUnsentBytes = size_t{8} << 20;

// Line commands on a Unix socket, answered on the UI thread while it is
// idle, so that an answer reflects every message the command caused.
class AutomationServer::Channel {
 public:
  explicit Channel(const std::string& path) : path_(path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // Only a socket left from an earlier run is replaced, never another file.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
      if (!S_ISSOCK(st.st_mode)) {
        std::fprintf(stderr, "zenta: %s exists and is no socket; no automation channel\n",
                     path.c_str());
        return;
      }
      ::unlink(path.c_str());
    }
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0) return;
    // The socket is this user's alone (mode 0600), and its peers are checked
    // too: the channel can type into fields and write files.
    const mode_t previous = ::umask(077);
    const bool bound =
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::umask(previous);
    if (!bound || ::listen(listener_, 16) != 0) {
      ::close(listener_);
      listener_ = -1;
      return;
    }
    ::lstat(path.c_str(), &st);
    bound_ = st.st_ino;
  }
  ~Channel() {
    for (const Client& c : clients_)
      ::close(c.fd);
    if (listener_ >= 0) {
      ::close(listener_);
      // Unlinked only while the path is still the socket made here.
      struct stat st {};
      if (::lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_ino == bound_)
        ::unlink(path_.c_str());
    }
  }

  // Called while the UI thread is idle: answers what was waiting for that,
  // then reads and runs new commands, and sends what the socket takes.
  // Returns whether it ran any.
  bool serve() {
    for (Client& c : clients_) {
      if (c.waitingForIdle) {
        c.waitingForIdle = false;
        reply(c, "ok");
      }
    }
    if (listener_ >= 0) {
      for (int fd;
           (fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
        ucred peer{};
        socklen_t length = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
            peer.uid != ::getuid()) {
          ::close(fd);
          continue;
        }
        clients_.push_back(Client{fd, {}, {}, false, false});
      }
    }
    bool ran = false;
    for (Client& c : clients_) {
      char buffer[4096];
      ssize_t n = 0;
      while ((n = ::recv(c.fd, buffer, sizeof buffer, 0)) > 0)
        c.input.append(buffer, size_t(n));
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        c.closed = true;
      for (size_t end;
           !c.failed && !c.waitingForIdle && (end = c.input.find('\n')) != std::string::npos;) {
        const std::string line = c.input.substr(0, end);
        c.input.erase(0, end + 1);
        run(c, line);
        ran = true;
        flush(c);
        // A client that asks and does not read its answers is dropped
        // before they pile up.
        if (c.output.size() > kMaxUnsentBytes) c.failed = true;
      }
      // A client may not grow its unread input without bound.
      if (c.input.size() > 65536) c.input.clear();
      flush(c);
    }
    // A client that hung up is dropped once nothing more is owed to it; one
    // whose socket failed, at once.
    std::erase_if(clients_, [](const Client& c) {
      const bool done = c.failed || (c.closed && c.output.empty() && !c.waitingForIdle);
      if (done) ::close(c.fd);
      return done;
    });
    return ran;
  }

  // Whether an answer is still on its way (the UI thread then comes back
  // soon to send the rest).
  bool sending() const {
    return std::any_of(clients_.begin(), clients_.end(),
                       [](const Client& c) { return !c.output.empty(); });
  }

 private:
  struct Client {
    int fd;
    std::string input;
    std::string output;  // answers not yet taken by the socket
    bool waitingForIdle;
    bool closed;
    bool failed = false;
  };

  static void reply(Client& c, const std::string& text) {
    c.output += text;
    c.output += "\n";
  }

  static void flush(Client& c) {
    while (!c.output.empty()) {
      const ssize_t n = ::send(c.fd, c.output.data(), c.output.size(), MSG_NOSIGNAL);
      if (n > 0) {
        c.output.erase(0, size_t(n));
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
      } else {
        c.failed = true;
        return;
      }
    }
  }

  void run(Client& c, const std::string& line) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    int x = 0, y = 0, w = 0, h = 0;
    if (command == "tap" && (in >> x >> y)) {
      injectStylus(StylusAction::Down, x, y);
      injectStylus(StylusAction::Up, x, y);
      c.waitingForIdle = true;
    } else if ((command == "down" || command == "move" || command == "up") && (in >> x >> y)) {
      injectStylus(command == "down" ? StylusAction::Down
                   : command == "up" ? StylusAction::Up
                                     : StylusAction::Move,
                   x, y);
      c.waitingForIdle = true;
    } else if (command == "type") {
      std::string text;
      std::getline(in, text);
      if (!text.empty() && text[0] == ' ') text.erase(0, 1);
      for (const char ch : text)
        injectChar(char16_t(static_cast<unsigned char>(ch)));
      c.waitingForIdle = true;
    } else if (command == "key" && (in >> x)) {
      injectKey(UINT(x), true);
      injectKey(UINT(x), false);
      c.waitingForIdle = true;
    } else if (command == "active") {
      const HWND active = GetActiveWindow();
      std::u16string title(128, u'\0');
      title.resize(active == nullptr ? 0 : size_t(GetWindowTextW(active, title.data(), 128)));
      reply(c, active == nullptr
                   ? "none"
                   : std::to_string(reinterpret_cast<uintptr_t>(active)) + "|" + toAscii(title));
    } else if (command == "backend") {
      reply(c, deviceBackendName());
    } else if (command == "idle") {
      c.waitingForIdle = true;
    } else if (command == "pixel" && (in >> x >> y)) {
      const Surface& s = screen();
      std::lock_guard guard(s.lock());
      const COLORREF colour = s.pixel(x, y);
      char text[16];
      std::snprintf(text, sizeof text, "%02x%02x%02x", GetRValue(colour), GetGValue(colour),
                    GetBValue(colour));
      reply(c, colour == CLR_INVALID ? "error outside the screen" : text);
    } else if (command == "rect" && (in >> x >> y >> w >> h)) {
      const Surface& s = screen();
      std::lock_guard guard(s.lock());
      // Each number on its own first: no product can overflow.
      if (x < 0 || y < 0 || w <= 0 || h <= 0 || w > s.width() || h > s.height() ||
          x > s.width() - w || y > s.height() - h) {
        reply(c, "error outside the screen");
        return;
      }
      std::string text;
      text.reserve(size_t(w) * size_t(h) * 6);
      char hex[8];
      for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
          const COLORREF colour = s.pixel(x + i, y + j);
          std::snprintf(hex, sizeof hex, "%02x%02x%02x", GetRValue(colour), GetGValue(colour),
                        GetBValue(colour));
          text += hex;
        }
      }
      reply(c, text);
    } else if (command == "screenshot") {
      std::string path;
      std::getline(in, path);
      if (!path.empty() && path[0] == ' ') path.erase(0, 1);
      const Surface& s = screen();
      std::lock_guard guard(s.lock());
      reply(c, !path.empty() && savePng(s, path) ? "ok" : "error cannot write the file");
    } else if (command == "windows") {
      std::string text;
      for (const WindowInfo& info : topLevelWindows()) {
        if (!text.empty()) text += "\t";
        text += std::to_string(reinterpret_cast<uintptr_t>(info.hwnd)) + "|" +
                toAscii(info.className) + "|" + toAscii(info.title) +
                (info.visible ? "|visible|" : "|hidden|") + std::to_string(info.rect.left) + "," +
                std::to_string(info.rect.top) + "," + std::to_string(info.rect.right) + "," +
                std::to_string(info.rect.bottom);
      }
      reply(c, text);
    } else {
      reply(c, "error unknown command");
    }
  }

  std::string path_;
  int listener_ = -1;
  ino_t bound_ = 0;
  std::vector<Client> clients_;
};

AutomationServer::AutomationServer(const std::string& path)
    : channel_(std::make_unique<Channel>(path)) {}
AutomationServer::~AutomationServer() = default;
bool AutomationServer::serve() {
  return channel_->serve();
}
bool AutomationServer::sending() const {
  return channel_->sending();
}

}  // namespace zenta::platform
