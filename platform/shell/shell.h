// The shell's own windows, for the device's start-up.
#pragma once

namespace zenta::platform {

// The classes of the shell's windows (menu bar, task bar), once.
void registerMenuBarClass();
void registerTaskBarClass();

// The task bar window across the top of the screen, and its redrawing after
// the foreground window or the bars changed.
void createTaskBar();
void refreshTaskBar();

}  // namespace zenta::platform
