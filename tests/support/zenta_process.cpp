#include "tests/support/zenta_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace zenta::testing {

std::string automationCommand(const std::string& socketPath, const std::string& line,
                              std::chrono::milliseconds limit) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd < 0 || socketPath.size() >= sizeof address.sun_path) {
    if (fd >= 0) ::close(fd);
    return "";
  }
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = line + "\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
      const auto deadline = std::chrono::steady_clock::now() + limit;
      char buffer[65536];
      while (answer.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, int(left.count())) <= 0) break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        answer.append(buffer, size_t(n));
      }
    }
  }
  ::close(fd);
  if (const size_t end = answer.find('\n'); end != std::string::npos) answer.resize(end);
  return answer;
}

ZentaProcess::ZentaProcess(const std::string& program, const std::string& folder,
                           std::vector<std::string> options) {
  ::mkdir(folder.c_str(), 0700);
  const std::string runtime = folder + "/run";
  ::mkdir(runtime.c_str(), 0700);
  // Socket paths are short (108 bytes): a private folder of its own in /tmp.
  char pattern[] = "/tmp/zenta-ui-XXXXXX";
  socketFolder_ = ::mkdtemp(pattern) != nullptr ? pattern : folder;
  socket_ = socketFolder_ + "/a.sock";
  errorFile_ =
      folder + "/zenta-" + std::to_string(reinterpret_cast<uintptr_t>(this) % 100000) + ".err";
  std::vector<std::string> args = {program, "--headless", "--automation=" + socket_,
                                   "--device-root=" + folder, "--registry=" + folder + "/registry"};
  args.insert(args.end(), options.begin(), options.end());
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::unsetenv("DISPLAY");
    std::FILE* err = std::freopen(errorFile_.c_str(), "w", stderr);
    (void)err;
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
}

ZentaProcess::~ZentaProcess() {
  if (pid_ > 0 && !exitCode_) {
    // A polite stop closes the window; the program ends cleanly.
    ::kill(pid_, SIGTERM);
    if (!wait(std::chrono::seconds(10))) {
      ADD_FAILURE() << "zenta did not end on SIGTERM";
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    } else if (exitCode_ != 0) {
      ADD_FAILURE() << "zenta ended with code " << *exitCode_ << " on SIGTERM";
    }
  }
  // A sanitizer's report in the program fails the test that ran it.
  const std::string said = errors();
  for (const char* report :
       {"ThreadSanitizer", "AddressSanitizer", "runtime error:", "LeakSanitizer"}) {
    if (said.find(report) != std::string::npos) ADD_FAILURE() << "zenta said:\n" << said;
  }
  ::unlink(errorFile_.c_str());
  ::unlink(socket_.c_str());
  ::rmdir(socketFolder_.c_str());
}

bool ZentaProcess::ready(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (wait(std::chrono::milliseconds(0))) return false;
    if (automationCommand(socket_, "idle", std::chrono::milliseconds(2000)) == "ok") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string ZentaProcess::command(const std::string& line) {
  return automationCommand(socket_, line);
}

std::optional<int> ZentaProcess::wait(std::chrono::milliseconds limit) {
  if (exitCode_) return exitCode_;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exitCode_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string ZentaProcess::errors() const {
  std::ifstream in(errorFile_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<uint32_t> screenRect(ZentaProcess& zenta, int x, int y, int w, int h) {
  const std::string text = zenta.command("rect " + std::to_string(x) + " " + std::to_string(y) +
                                         " " + std::to_string(w) + " " + std::to_string(h));
  std::vector<uint32_t> pixels;
  if (text.size() != size_t(w) * size_t(h) * 6) return pixels;
  for (size_t i = 0; i < text.size(); i += 6)
    pixels.push_back(uint32_t(std::stoul(text.substr(i, 6), nullptr, 16)));
  return pixels;
}

}  // namespace zenta::testing
