#include "platform/screen/screen.h"
#include "platform/base/types.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>

namespace zenta::platform {

namespace {

std::mutex stateLock;
std::unique_ptr<Surface> screenSurface;
std::atomic<bool> changed{false};
// The bounds of the changes not yet taken; guarded by damageLock.
std::mutex damageLock;
RECT damage{0, 0, 0, 0};

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
  markScreenChanged(RECT{0, 0, 1 << 20, 1 << 20});
}

void markScreenChanged(const RECT& area) {
  if (area.left >= area.right || area.top >= area.bottom) return;
  {
    std::lock_guard guard(damageLock);
    if (damage.left >= damage.right) {
      damage = area;
    } else {
      damage = RECT{std::min(damage.left, area.left), std::min(damage.top, area.top),
                    std::max(damage.right, area.right), std::max(damage.bottom, area.bottom)};
    }
  }
  changed.store(true, std::memory_order_release);
}

bool takeScreenChanged() {
  RECT ignored;
  return takeScreenChanged(ignored);
}

bool takeScreenChanged(RECT& changedArea) {
  if (!changed.exchange(false, std::memory_order_acq_rel)) {
    changedArea = RECT{0, 0, 0, 0};
    return false;
  }
  const Surface& s = screen();
  std::lock_guard guard(damageLock);
  changedArea =
      RECT{std::max<LONG>(0, damage.left), std::max<LONG>(0, damage.top),
           std::min<LONG>(s.width(), damage.right), std::min<LONG>(s.height(), damage.bottom)};
  damage = RECT{0, 0, 0, 0};
  return changedArea.left < changedArea.right && changedArea.top < changedArea.bottom;
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
