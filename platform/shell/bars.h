// Which of the shell's bars show: the task bar across the top (with its
// start icon and input-panel button) and a menu bar across the bottom.
// Changing them changes the screen's work area.
#pragma once

namespace zenta::platform {

struct ShellBars {
  bool taskBar = true;
  bool menuBar = false;
  bool sipButton = true;
  bool startIcon = true;
};
ShellBars shellBars();
void setShellBars(const ShellBars& bars);

}  // namespace zenta::platform
