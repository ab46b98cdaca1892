#include "viewer/viewer_app.h"

#include <cstdio>

#include "platform/base/metrics.h"
#include "platform/wm/peers.h"
#include "resources/resource_ids.h"

namespace zenta::viewer {

int ViewerApp::initialise(HINSTANCE, LPWSTR, int show) {
  // One copy at a time: a second start brings the first to the front. The
  // lock the running copy holds decides, so a copy too busy to answer is
  // not taken for none.
  const bool alone = platform::holdProgramLock("zenta");
  if (HWND running = FindWindowW(u"CeWnd:GENERIC", kWindowTitle)) {
    SetForegroundWindow(running);
    std::fputs("zenta is already running\n", stderr);
    return 1;
  }
  if (!alone) {
    std::fputs("zenta is already running\n", stderr);
    return 1;
  }
  // The device's network library needs starting and stopping; POSIX sockets
  // need neither, so there is nothing here or in exit() for it.
  INITCOMMONCONTROLSEX controls{8, 0x5FF};
  InitCommonControlsEx(&controls);

  SIPINFO sip{};
  sip.cbSize = 48;
  SHSipInfo(SPI_GETSIPINFO, 0, &sip, 0);
  const int width = sip.rcVisibleDesktop.right - sip.rcVisibleDesktop.left;
  int height = sip.rcVisibleDesktop.bottom - sip.rcVisibleDesktop.top;
  if ((sip.fdwFlags & SIPF_ON) == 0) height -= platform::kMenuBarHeight;

  if (!window_.create(nullptr, nullptr, CW_USEDEFAULT, CW_USEDEFAULT, width, height, kWindowTitle,
                      WS_VISIBLE, 0, nullptr, instance)) {
    return 1;
  }
  created_ = window_.hwnd;
  const auto small =
      LoadImageW(instance, MAKEINTRESOURCEW(resources::kIcon), IMAGE_ICON, 16, 16, 0);
  const auto big = LoadImageW(instance, MAKEINTRESOURCEW(resources::kIcon), IMAGE_ICON, 32, 32, 0);
  SendMessageW(window_.hwnd, WM_SETICON, 0, reinterpret_cast<LPARAM>(small));
  SendMessageW(window_.hwnd, WM_SETICON, 1, reinterpret_cast<LPARAM>(big));
  ShowWindow(window_.hwnd, show);
  UpdateWindow(window_.hwnd);
  return 0;
}

int ViewerApp::exit() {
  return 0;
}

}  // namespace zenta::viewer
