#include "platform/device/device.h"
#include "platform/base/text.h"
#include "platform/controls/controls.h"
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
#include <functional>
#include <memory>
#include <sstream>
#include <vector>

#include "platform/base/files.h"
#include "platform/base/types.h"
#include "platform/device/automation.h"
#include "platform/device/backends/backend.h"
#include "platform/registry/registry.h"
#include "platform/screen/png.h"
#include "platform/screen/screen.h"
#include "platform/wm/peers.h"
#include "platform/wm/window_manager.h"

namespace zenta::platform {

namespace {

using Clock = std::chrono::steady_clock;

struct Device {
  std::unique_ptr<Backend> backend;
  std::unique_ptr<AutomationServer> automation;
  Clock::time_point lastPresent{};
  uint64_t presents = 0;
  std::vector<RECT> changed;
};

std::unique_ptr<Device>& device() {
  static std::unique_ptr<Device> d;
  return d;
}

bool idle(int timeoutMs) {
  Device& d = *device();
  bool any = d.automation && d.automation->serve();
  if (d.automation && d.automation->sending()) timeoutMs = std::min(timeoutMs, 2);
  while (servePeers())
    any = true;
  // At most once a display refresh, and only what changed: changes that
  // come sooner wait, gathered, for the next one.
  const auto sincePresent = Clock::now() - d.lastPresent;
  const auto refresh = std::chrono::milliseconds(d.backend->refreshMs());
  if (sincePresent >= refresh) {
    if (takeScreenChanged(d.changed)) {
      d.backend->present(screen(), d.changed);
      d.lastPresent = Clock::now();
      ++d.presents;
    }
  } else {
    timeoutMs = std::min<int>(
        timeoutMs,
        int(std::chrono::duration_cast<std::chrono::milliseconds>(refresh - sincePresent).count()) +
            1);
  }
  any = d.backend->poll(any ? 0 : std::min(timeoutMs, 5)) || any;
  return any;
}

bool parseSize(const std::string& text, int& w, int& h) {
  char* end = nullptr;
  const long a = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != 'x') return false;
  const char* rest = end + 1;
  const long b = std::strtol(rest, &end, 10);
  if (end == rest || *end != '\0' || a < 120 || b < 120 || a > 1600 || b > 1600) return false;
  w = int(a);
  h = int(b);
  return true;
}

}  // namespace

bool takeDeviceOptions(int& argc, char** argv, DeviceOptions& options, std::string& error) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--screen=", 0) == 0) {
      if (!parseSize(arg.substr(9), options.width, options.height)) {
        error = "--screen takes WIDTHxHEIGHT, each 120 to 1600";
        return false;
      }
    } else if (arg == "--headless") {
      options.headless = true;
    } else if (arg.rfind("--zoom=", 0) == 0) {
      options.zoom = std::atoi(arg.c_str() + 7);
      if (options.zoom < 1 || options.zoom > 8) {
        error = "--zoom takes 1 to 8";
        return false;
      }
    } else if (arg.rfind("--registry=", 0) == 0) {
      options.registry = arg.substr(11);
    } else if (arg.rfind("--device-root=", 0) == 0) {
      options.deviceRoot = arg.substr(14);
    } else if (arg.rfind("--automation=", 0) == 0) {
      options.automation = arg.substr(13);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  return true;
}

void registerSystemClasses() {
  registerControlClasses();
  registerDialogClass();
  registerMessageBoxClass();
  registerMenuBarClass();
  registerTaskBarClass();
}

void startDevice(const DeviceOptions& options) {
  configureScreen(options.width, options.height);
  if (!options.deviceRoot.empty()) setDeviceRoot(options.deviceRoot);
  if (!options.registry.empty()) setRegistryFile(options.registry);
  auto d = std::make_unique<Device>();
  const bool haveDisplay =
      std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
  if (!options.headless && haveDisplay)
    d->backend = openSdl(options.width, options.height, {options.zoom, options.placeFile});
  if (!d->backend) d->backend = openHeadless();
  if (!options.automation.empty())
    d->automation = std::make_unique<AutomationServer>(options.automation);
  device() = std::move(d);
  setIdleHook(idle);
  startPeerService();
  // A second copy brought this one forward: its desktop window comes up.
  setPeerForegroundHook([] {
    if (device() && device()->backend) device()->backend->raise();
  });
  registerSystemClasses();
  createTaskBar();
}

void stopDevice() {
  stopPeerService();
  setIdleHook(nullptr);
  device().reset();
}

namespace {

std::function<int()>& displayLostHook() {
  static std::function<int()> hook;
  return hook;
}

}  // namespace

void setDisplayLostHook(std::function<int()> hook) {
  displayLostHook() = std::move(hook);
}

void displayLost() {
  std::fputs("the connection to the display was lost\n", stderr);
  const std::function<int()>& hook = displayLostHook();
  const int code = hook ? hook() : 1;
  std::fflush(nullptr);
  std::_Exit(code);
}

uint64_t devicePresents() {
  return device() ? device()->presents : 0;
}

void setDesktopTitle(std::u16string_view title) {
  if (device()) device()->backend->setTitle(toUtf8(title));
}

const char* deviceBackendName() {
  return device() ? device()->backend->name() : "none";
}

}  // namespace zenta::platform
