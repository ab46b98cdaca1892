// The application object and the program's entry.
#pragma once

#include <string>

#include "platform/registry/registry_key.h"
#include "platform/windows.h"

namespace zenta::framework {

class CeApp {
 public:
  CeApp();
  virtual ~CeApp();
  CeApp(const CeApp&) = delete;
  CeApp& operator=(const CeApp&) = delete;

  // The message loop; the code given to the quit message.
  virtual int run();
  // 0: go on; anything else: stop at once.
  virtual int initialise(HINSTANCE previous, LPWSTR commandLine, int show) = 0;
  // Its result is the process's exit code.
  virtual int exit() = 0;

  HINSTANCE instance = nullptr;
  HWND mainWindow = nullptr;
  HACCEL accelerators = nullptr;
};

// The one application object, set by its constructor.
extern CeApp* theApp;

// The owner of dialogs that are given none: the application's main window
// when it has one, else the system's active window.
HWND defaultOwnerWindow();

// The registry key object lives with the registry; its old name stays.
using RegistryKey = platform::RegistryKey;

}  // namespace zenta::framework

// The program's entry: runs the application object.
int WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);
