#include "platform/shell/bars.h"

#include <mutex>

#include "platform/base/metrics.h"
#include "platform/screen/screen.h"

namespace zenta::platform {

namespace {
std::mutex barsLock;
ShellBars bars;
}  // namespace

ShellBars shellBars() {
  std::lock_guard guard(barsLock);
  return bars;
}

void setShellBars(const ShellBars& value) {
  std::lock_guard guard(barsLock);
  bars = value;
  setReservedBands(value.taskBar ? kTaskBarHeight : 0, value.menuBar ? kMenuBarHeight : 0);
}

}  // namespace zenta::platform
