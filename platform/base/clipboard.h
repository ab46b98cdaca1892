// The desktop clipboard as the device's text fields see it: the window back
// end installs the desktop's own; without one, a clipboard inside the
// program (headless runs, tests).
#pragma once

#include <functional>
#include <string>

namespace zenta::platform {

struct ClipboardAccess {
  std::function<std::u16string()> read;
  std::function<void(const std::u16string&)> write;
};

// Installed and removed by the window back end, on the UI thread.
void setClipboardAccess(ClipboardAccess access);
std::u16string clipboardText();
void setClipboardText(const std::u16string& text);

}  // namespace zenta::platform
