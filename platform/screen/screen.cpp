#include "platform/screen/screen.h"
#include "platform/base/types.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zenta::platform {

namespace {

std::mutex stateLock;
std::unique_ptr<Surface> screenSurface;
std::atomic<bool> changed{false};
// The changes not yet taken, as a few rectangles (pictures in separate
// places stay apart); guarded by damageLock.
constexpr size_t kDamageRects = 6;
std::mutex damageLock;
std::vector<RECT> damage;

RECT bounding(const RECT& a, const RECT& b) {
  return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}

int64_t areaOf(const RECT& r) {
  return int64_t(r.right - r.left) * (r.bottom - r.top);
}

// Overlapping: rectangles side by side (the four pictures) stay apart.
bool touch(const RECT& a, const RECT& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Adds a rectangle: joined with one it overlaps, or, when there are too
// many, with the one whose bounds grow least.
void addDamage(RECT r) {
  for (bool joined = true; joined;) {
    joined = false;
    for (auto it = damage.begin(); it != damage.end(); ++it) {
      if (touch(*it, r)) {
        r = bounding(*it, r);
        damage.erase(it);
        joined = true;
        break;
      }
    }
  }
  if (damage.size() == kDamageRects) {
    auto best = damage.begin();
    int64_t growth = INT64_MAX;
    for (auto it = damage.begin(); it != damage.end(); ++it) {
      const int64_t g = areaOf(bounding(*it, r)) - areaOf(*it) - areaOf(r);
      if (g < growth) {
        growth = g;
        best = it;
      }
    }
    r = bounding(*best, r);
    damage.erase(best);
    addDamage(r);
    return;
  }
  damage.push_back(r);
}

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
    addDamage(area);
  }
  changed.store(true, std::memory_order_release);
}

bool takeScreenChanged() {
  RECT ignored;
  return takeScreenChanged(ignored);
}

bool takeScreenChanged(RECT& changedArea) {
  std::vector<RECT> areas;
  changedArea = RECT{0, 0, 0, 0};
  if (!takeScreenChanged(areas)) return false;
  changedArea = areas.front();
  for (const RECT& r : areas)
    changedArea = bounding(changedArea, r);
  return true;
}

bool takeScreenChanged(std::vector<RECT>& changedAreas) {
  changedAreas.clear();
  if (!changed.exchange(false, std::memory_order_acq_rel)) return false;
  const Surface& s = screen();
  std::lock_guard guard(damageLock);
  for (const RECT& d : damage) {
    const RECT r{std::max<LONG>(0, d.left), std::max<LONG>(0, d.top),
                 std::min<LONG>(s.width(), d.right), std::min<LONG>(s.height(), d.bottom)};
    if (r.left < r.right && r.top < r.bottom) changedAreas.push_back(r);
  }
  damage.clear();
  return !changedAreas.empty();
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
