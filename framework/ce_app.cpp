#include "framework/ce_app.h"

#include <string>

namespace zenta::framework {

CeApp* theApp = nullptr;

CeApp::CeApp() {
  theApp = this;
}

CeApp::~CeApp() {
  if (theApp == this) theApp = nullptr;
}

int CeApp::run() {
  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return int(msg.wParam);
}

HWND defaultOwnerWindow() {
  if (theApp != nullptr && theApp->mainWindow != nullptr) return theApp->mainWindow;
  return GetActiveWindow();
}

}  // namespace zenta::framework

int WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
  using zenta::framework::theApp;
  if (theApp == nullptr) return 0;
  theApp->instance = instance;
  if (theApp->initialise(previous, commandLine, show) != 0) {
    theApp->instance = nullptr;
    return 1;
  }
  theApp->run();
  const int code = theApp->exit();
  theApp->instance = nullptr;
  return code;
}
