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
int reservedTop = kTaskBarHeight;
int reservedBottom = 0;
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

void setReservedBands(int top, int bottom) {
  std::lock_guard guard(stateLock);
  reservedTop = top;
  reservedBottom = bottom;
}

RECT workArea() {
  const Surface& s = screen();
  std::lock_guard guard(stateLock);
  return RECT{0, reservedTop, s.width(), s.height() - reservedBottom};
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
