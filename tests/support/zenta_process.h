// The real zenta program for end-to-end tests: started headless in a
// temporary folder of its own (registry, device root, runtime folder), and
// driven through its automation channel.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zenta::testing {

// One command line on a Unix socket and its one-line answer ("" on failure).
std::string automationCommand(const std::string& socketPath, const std::string& line,
                              std::chrono::milliseconds limit = std::chrono::seconds(10));

class ZentaProcess {
 public:
  // `folder` holds the registry, the device root and the runtime folder;
  // several programs given the same folder see each other.
  ZentaProcess(const std::string& program, const std::string& folder,
               std::vector<std::string> options = {});
  ~ZentaProcess();
  ZentaProcess(const ZentaProcess&) = delete;
  ZentaProcess& operator=(const ZentaProcess&) = delete;

  // Waits for the automation channel; false when the program ended first.
  bool ready(std::chrono::milliseconds limit = std::chrono::seconds(10));
  std::string command(const std::string& line);
  // The exit code once the program has ended within the limit.
  std::optional<int> wait(std::chrono::milliseconds limit);
  // Everything the program wrote to standard error so far.
  std::string errors() const;

  pid_t pid() const { return pid_; }
  const std::string& socket() const { return socket_; }

 private:
  pid_t pid_ = -1;
  std::string socketFolder_;
  std::string socket_;
  std::string errorFile_;
  std::optional<int> exitCode_;
};

// The screen's pixels in a rectangle, as 0xRRGGBB values, row by row.
std::vector<uint32_t> screenRect(ZentaProcess& zenta, int x, int y, int w, int h);

}  // namespace zenta::testing
