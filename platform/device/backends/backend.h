// A display back end: a small table of operations that puts the emulated
// screen somewhere and brings input back. Nothing above platform/backends
// knows which one runs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/screen/surface.h"

namespace zenta::platform {

struct BackendOptions {
  int zoom = 0;  // 0: chosen to fit the desktop
  // The file that keeps the window's size and place between runs; empty:
  // not kept.
  std::string placeFile;
};

struct Backend {
  virtual ~Backend() = default;
  virtual const char* name() const = 0;
  // Shows what changed of the screen's pixels since the last call (device
  // pixels; the back end may show more). It takes the screen's lock itself
  // while it reads the pixels.
  virtual void present(const Surface& screen, const std::vector<RECT>& changed) = 0;
  // Delivers pending input (through the window manager's inject calls),
  // waiting at most `timeoutMs` for some. Returns whether any came.
  virtual bool poll(int timeoutMs) = 0;
  // The shortest time between two presents: the display's refresh.
  virtual int refreshMs() const { return 16; }
  // Brings the display's window to the front, restored if minimised.
  virtual void raise() {}
  // The window's title (UTF-8).
  virtual void setTitle(const std::string&) {}
};

std::unique_ptr<Backend> openHeadless();
// Nothing when no display can be opened.
std::unique_ptr<Backend> openSdl(int width, int height, const BackendOptions& options);

// Called by a back end that lost its display (the X server went away): the
// program ends here, as the device's display-lost hook says.
[[noreturn]] void displayLost();

}  // namespace zenta::platform
