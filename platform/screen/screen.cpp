#include "platform/screen/screen.h"
#include "platform/base/types.h"

#include <memory>
#include <mutex>
#include <thread>

namespace zenta::platform {

namespace {

std::mutex stateLock;
std::unique_ptr<Surface> screenSurface;
std::atomic<bool> changed{false};
ShellBars bars;
IdleHook idleHook;
std::thread::id idleThread;

}  // namespace

void configureScreen(int width, int height) {
  std::lock_guard guard(stateLock);
  screenSurface = std::make_unique<Surface>(width, height, 32, true);
  changed = true;
}

Surface& screen() {
  std::lock_guard guard(stateLock);
  if (!screenSurface) screenSurface = std::make_unique<Surface>(240, 320, 32, true);
  return *screenSurface;
}

void markScreenChanged() {
  changed.store(true, std::memory_order_release);
}
bool takeScreenChanged() {
  return changed.exchange(false, std::memory_order_acq_rel);
}

ShellBars shellBars() {
  std::lock_guard guard(stateLock);
  return bars;
}

void setShellBars(const ShellBars& value) {
  std::lock_guard guard(stateLock);
  bars = value;
}

RECT workArea() {
  const Surface& s = screen();
  const ShellBars b = shellBars();
  return RECT{0, b.taskBar ? kTaskBarHeight : 0, s.width(),
              s.height() - (b.menuBar ? kMenuBarHeight : 0)};
}

void setIdleHook(IdleHook hook) {
  std::lock_guard guard(stateLock);
  idleHook = std::move(hook);
  idleThread = std::this_thread::get_id();
}

bool hasIdleHook() {
  std::lock_guard guard(stateLock);
  return idleHook && idleThread == std::this_thread::get_id();
}

bool runIdleHook(int timeoutMs) {
  IdleHook hook;
  {
    std::lock_guard guard(stateLock);
    if (!idleHook || idleThread != std::this_thread::get_id()) return false;
    hook = idleHook;
  }
  return hook(timeoutMs);
}

}  // namespace zenta::platform
