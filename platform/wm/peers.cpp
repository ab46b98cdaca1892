#include "platform/wm/peers.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>

#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {
PeerForegroundHook peerForegroundHook = nullptr;
}  // namespace

void setPeerForegroundHook(PeerForegroundHook hook) {
  peerForegroundHook = hook;
}

namespace {

constexpr uintptr_t kPeerBit = uintptr_t{1} << 62;

using Clock = std::chrono::steady_clock;
// One request to another program, from connecting to its answer.
constexpr auto kRequestDeadline = std::chrono::milliseconds(500);
// Reading a request from another program, on the UI thread.
constexpr auto kServeDeadline = std::chrono::milliseconds(200);

std::string folder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return std::string(runtime != nullptr && *runtime != 0 ? runtime : "/tmp") + "/zenta-device-" +
         std::to_string(::getuid());
}

// The folder is ours alone: a real directory (no link), owned by this user,
// with no access for the group or others. Anything else, in a shared place
// such as /tmp, could let another user answer for our programs.
bool privateFolder(const std::string& dir) {
  struct stat st {};
  return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 077) == 0;
}

bool usableFolder(const std::string& dir) {
  static std::once_flag warned;
  if (privateFolder(dir)) return true;
  std::call_once(warned, [&] {
    std::fprintf(stderr,
                 "zenta: %s is not a private folder of this user; programs on the device will not "
                 "find each other\n",
                 dir.c_str());
  });
  return false;
}

// The other end of a Unix socket runs as this user.
bool sameUser(int fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::getuid();
}

int remaining(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return int(std::max<int64_t>(0, left.count()));
}

// A program whose socket is left behind: it ended without removing it.
bool programGone(long pid) {
  return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

std::string hex(LPCWSTR text) {
  if (text == nullptr) return "-";
  std::string out;
  char buffer[8];
  for (; *text != 0; ++text) {
    std::snprintf(buffer, sizeof buffer, "%04x", unsigned(*text));
    out += buffer;
  }
  return out.empty() ? "=" : out;
}

// "-" is no text at all, "=" the empty text.
bool unhex(const std::string& in, std::u16string& out, bool& present) {
  present = in != "-";
  out.clear();
  if (in == "-" || in == "=") return true;
  if (in.size() % 4 != 0 || in.size() > 4 * 256) return false;
  for (size_t i = 0; i < in.size(); i += 4)
    out.push_back(char16_t(std::strtoul(in.substr(i, 4).c_str(), nullptr, 16)));
  return true;
}

std::mutex serviceLock;
int listener = -1;
std::string ownPath;

// One request to the program with process id `pid`, answered in one line
// within kRequestDeadline; the UI thread never waits longer on a peer.
bool ask(long pid, const std::string& request, std::string& answer) {
  const std::string dir = folder();
  if (!usableFolder(dir)) return false;
  const std::string path = dir + "/" + std::to_string(pid);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const auto deadline = Clock::now() + kRequestDeadline;
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (!ok && (errno == EINPROGRESS || errno == EAGAIN)) {
    pollfd ready{fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    ok = ::poll(&ready, 1, remaining(deadline)) > 0 &&
         ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
  } else if (!ok && (errno == ECONNREFUSED || errno == ENOENT) && programGone(pid)) {
    ::unlink(path.c_str());
  }
  ok = ok && sameUser(fd);
  const std::string line = request + "\n";
  ok = ok && ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size());
  answer.clear();
  while (ok && answer.find('\n') == std::string::npos && answer.size() < 256) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, remaining(deadline)) <= 0) {
      ok = false;
      break;
    }
    char buffer[256];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) break;
    answer.append(buffer, size_t(n));
  }
  ::close(fd);
  if (const size_t end = answer.find('\n'); end != std::string::npos) answer.resize(end);
  return ok && !answer.empty();
}

std::string handle(const std::string& request) {
  std::istringstream in(request);
  std::string verb;
  in >> verb;
  if (verb == "find") {
    std::string cls, title;
    in >> cls >> title;
    std::u16string c, t;
    bool hasClass = false, hasTitle = false;
    if (!unhex(cls, c, hasClass) || !unhex(title, t, hasTitle)) return "0";
    const HWND found =
        findOwnWindow(hasClass ? c.c_str() : nullptr, hasTitle ? t.c_str() : nullptr);
    return std::to_string(reinterpret_cast<uintptr_t>(found));
  }
  if (verb == "foreground") {
    uintptr_t local = 0;
    in >> local;
    if (!SetForegroundWindow(reinterpret_cast<HWND>(local))) return "no";
    if (const PeerForegroundHook hook = peerForegroundHook) hook();
    return "ok";
  }
  return "unknown";
}

}  // namespace

void startPeerService() {
  std::lock_guard guard(serviceLock);
  if (listener >= 0) return;
  const std::string dir = folder();
  ::mkdir(dir.c_str(), 0700);
  if (!usableFolder(dir)) return;
  ownPath = dir + "/" + std::to_string(::getpid());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (ownPath.size() >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, ownPath.c_str(), ownPath.size() + 1);
  ::unlink(ownPath.c_str());
  listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener < 0) return;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 8) != 0) {
    ::close(listener);
    listener = -1;
  }
}

void stopPeerService() {
  std::lock_guard guard(serviceLock);
  if (listener < 0) return;
  ::close(listener);
  ::unlink(ownPath.c_str());
  listener = -1;
}

bool servePeers() {
  int fd = -1;
  {
    std::lock_guard guard(serviceLock);
    if (listener < 0) return false;
    fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  }
  if (fd < 0) return false;
  if (!sameUser(fd)) {
    ::close(fd);
    return true;
  }
  std::string request;
  pollfd ready{fd, POLLIN, 0};
  const auto deadline = Clock::now() + kServeDeadline;
  while (request.find('\n') == std::string::npos && request.size() < 2048 &&
         ::poll(&ready, 1, remaining(deadline)) > 0) {
    char buffer[512];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, size_t(n));
  }
  if (const size_t end = request.find('\n'); end != std::string::npos) {
    const std::string answer = handle(request.substr(0, end)) + "\n";
    [[maybe_unused]] const auto sent = ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
  }
  ::close(fd);
  return true;
}

HWND findPeerWindow(LPCWSTR className, LPCWSTR windowName) {
  if (!usableFolder(folder())) return nullptr;
  DIR* dir = ::opendir(folder().c_str());
  if (dir == nullptr) return nullptr;
  const std::string request = "find " + hex(className) + " " + hex(windowName);
  HWND found = nullptr;
  for (dirent* entry; found == nullptr && (entry = ::readdir(dir)) != nullptr;) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != 0 || pid == ::getpid() || pid <= 0 || pid >= (1L << 30))
      continue;
    std::string answer;
    if (!ask(pid, request, answer)) continue;
    const uintptr_t local = std::strtoull(answer.c_str(), nullptr, 10);
    if (local != 0 && local < (uintptr_t{1} << 30)) {
      found = reinterpret_cast<HWND>(kPeerBit | uintptr_t(pid) << 30 | local);
    }
  }
  ::closedir(dir);
  return found;
}

bool isPeerWindow(HWND hwnd) {
  return (reinterpret_cast<uintptr_t>(hwnd) & kPeerBit) != 0;
}

bool foregroundPeerWindow(HWND hwnd) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(hwnd);
  const long pid = long((value & ~kPeerBit) >> 30);
  const uintptr_t local = value & ((uintptr_t{1} << 30) - 1);
  std::string answer;
  return ask(pid, "foreground " + std::to_string(local), answer) && answer == "ok";
}

bool holdProgramLock(const char* name) {
  const std::string dir = folder();
  ::mkdir(dir.c_str(), 0700);
  if (!usableFolder(dir)) return true;
  const std::string path = dir + "/" + name + ".lock";
  // Kept open (and so locked) until the process ends.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return true;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  const bool heldElsewhere = errno == EWOULDBLOCK;
  ::close(fd);
  return !heldElsewhere;
}

}  // namespace zenta::platform
