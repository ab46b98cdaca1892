// The emulated device screen: one framebuffer that every top-level window
// draws into, clipped to what of it is visible, and the shell's bars that
// decide the work area.
#pragma once

#include <atomic>
#include <functional>

#include "platform/base/metrics.h"
#include "platform/base/types.h"
#include "platform/screen/surface.h"

namespace zenta::platform {

// Sets the screen's size; the framebuffer is made anew (black). Called when
// the program starts, before any window exists; without a call the screen
// is 240 x 320.
void configureScreen(int width, int height);

Surface& screen();
// Drawing on the screen marks it changed; the display presents it later.
void markScreenChanged();
// True once per batch of changes.
bool takeScreenChanged();

// The bars across the top (task bar) and bottom (menu bar) of the screen.
struct ShellBars {
  bool taskBar = true;
  bool menuBar = false;
  bool sipButton = true;
  bool startIcon = true;
};
ShellBars shellBars();
void setShellBars(const ShellBars& bars);
RECT workArea();

// Called by the UI thread's message loop while it has nothing to do, with
// the longest time it may take (in milliseconds): the display polls its
// input and presents the screen here. Returns whether it did anything.
using IdleHook = std::function<bool(int timeoutMs)>;
void setIdleHook(IdleHook hook);
bool runIdleHook(int timeoutMs);
bool hasIdleHook();

}  // namespace zenta::platform
