// The application object: one copy of the viewer at a time, the main
// window at the size of the visible desktop, and the exit code.
#pragma once

#include <atomic>

#include "framework/ce_app.h"
#include "viewer/main_window.h"

namespace zenta::viewer {

class ViewerApp : public framework::CeApp {
 public:
  explicit ViewerApp(MainWindow& window) : window_(window) {}
  int initialise(HINSTANCE previous, LPWSTR commandLine, int show) override;
  int exit() override;
  // The main window once created, for other threads (the stop signals).
  HWND createdWindow() const { return created_; }

 private:
  MainWindow& window_;
  std::atomic<HWND> created_{nullptr};
};

}  // namespace zenta::viewer
