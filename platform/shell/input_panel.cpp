// The input panel's report: on this device the panel is never up.
#include "platform/screen/screen.h"
#include "platform/shell/bars.h"
#include "platform/shell/shell_api.h"
#include "platform/wm/wm_api.h"

using namespace zenta::platform;

BOOL SHSipInfo(UINT action, UINT, void* data, UINT) {
  if (action != SPI_GETSIPINFO || data == nullptr) return FALSE;
  auto* info = static_cast<SIPINFO*>(data);
  const Surface& s = screen();
  // The input panel is off on a desktop: the visible desktop runs from
  // below the task bar to the bottom of the screen.
  info->fdwFlags = 0;
  info->rcVisibleDesktop = RECT{0, shellBars().taskBar ? kTaskBarHeight : 0, s.width(), s.height()};
  info->rcSipRect = RECT{0, 0, 0, 0};
  info->dwImDataSize = 0;
  info->pvImData = nullptr;
  return TRUE;
}

BOOL SHSipPreference(HWND, SIPSTATE) {
  return TRUE;
}
