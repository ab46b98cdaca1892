// The emulated device screen: one framebuffer that every top-level window
// draws into, clipped to what of it is visible, and the shell's bars that
// decide the work area.
#pragma once

#include <atomic>
#include <functional>
#include <vector>

#include "platform/base/metrics.h"
#include "platform/base/types.h"
#include "platform/screen/surface.h"

namespace zenta::platform {

// Sets the screen's size; the framebuffer is made anew (black). Called when
// the program starts, before any window exists; without a call the screen
// is 240 x 320.
void configureScreen(int width, int height);

Surface& screen();
// Drawing on the screen marks what it changed (the whole screen without a
// rectangle); the display presents it later.
void markScreenChanged();
void markScreenChanged(const RECT& area);
// True once per batch of changes.
bool takeScreenChanged();
// The same, with the bounds of everything changed since the last call
// (clipped to the screen; empty when nothing changed).
bool takeScreenChanged(RECT& changedArea);
// The same as a few rectangles, apart where the changes were apart.
bool takeScreenChanged(std::vector<RECT>& changedAreas);

// The bands across the top and bottom of the screen that the shell's bars
// take (the task bar's at the start); the rest is the work area, where
// windows go by default.
void setReservedBands(int top, int bottom);
RECT workArea();

// Called by the UI thread's message loop while it has nothing to do, with
// the longest time it may take (in milliseconds): the display polls its
// input and presents the screen here. Returns whether it did anything.
using IdleHook = std::function<bool(int timeoutMs)>;
void setIdleHook(IdleHook hook);
bool runIdleHook(int timeoutMs);
bool hasIdleHook();

}  // namespace zenta::platform
