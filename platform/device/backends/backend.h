// A display back end: a small table of operations that puts the emulated
// screen somewhere and brings input back. Nothing above platform/backends
// knows which one runs.
#pragma once

#include <memory>
#include <string>

#include "platform/screen/surface.h"

namespace zenta::platform {

struct BackendOptions {
  int zoom = 0;  // 0: chosen to fit the desktop
};

struct Backend {
  virtual ~Backend() = default;
  virtual const char* name() const = 0;
  // Shows the screen's pixels (the caller holds the screen's lock).
  virtual void present(const Surface& screen) = 0;
  // Delivers pending input (through the window manager's inject calls),
  // waiting at most `timeoutMs` for some. Returns whether any came.
  virtual bool poll(int timeoutMs) = 0;
};

std::unique_ptr<Backend> openHeadless();
// Nothing when no display can be opened.
std::unique_ptr<Backend> openSdl(int width, int height, const BackendOptions& options);

}  // namespace zenta::platform
