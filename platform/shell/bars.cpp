#include "platform/shell/bars.h"

#include <mutex>

#include "platform/base/metrics.h"
#include "platform/screen/screen.h"

namespace zenta::platform {

namespace {
std::mutex currentBarsLock;
ShellBars currentBars;
}  // namespace

ShellBars shellBars() {
  std::lock_guard guard(currentBarsLock);
  return currentBars;
}

void setShellBars(const ShellBars& value) {
  std::lock_guard guard(currentBarsLock);
  currentBars = value;
  setReservedBands(value.taskBar ? kTaskBarHeight : 0, value.menuBar ? kMenuBarHeight : 0);
}

}  // namespace zenta::platform
