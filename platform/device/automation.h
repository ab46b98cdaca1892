// The automation channel: line commands on a Unix socket (taps, keys,
// typing, the screen's pixels, the windows), for tests and scripts. The
// commands are answered on the UI thread while it is idle, so that an
// answer reflects every message the command caused. Only this user may
// connect.
#pragma once

#include <memory>
#include <string>

namespace zenta::platform {

class AutomationServer {
 public:
  // Serves on a socket at `path`; says on stderr why not when it cannot.
  explicit AutomationServer(const std::string& path);
  ~AutomationServer();
  AutomationServer(const AutomationServer&) = delete;
  AutomationServer& operator=(const AutomationServer&) = delete;

  // Takes new clients and runs the commands that arrived. Whether it did
  // anything.
  bool serve();
  // Whether answers are still waiting for a client to take them.
  bool sending() const;

 private:
  class Channel;
  std::unique_ptr<Channel> channel_;
};

}  // namespace zenta::platform
