// Starting the emulated device: screen size, display back end and the
// automation channel, chosen when the program starts.
//
// Options (taken out of the command line, the rest is the program's own):
//   --screen=WxH        screen size in pixels (default 240x320)
//   --headless          no window, even where a display is available
//   --zoom=N            integer zoom of the desktop window (default: fit)
//   --automation=PATH   serve the automation channel on a Unix socket
//   --device-root=DIR   the host folder of the device's file system root
//   --registry=FILE     the file that keeps the device registry
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zenta::platform {

struct DeviceOptions {
  int width = 240;
  int height = 320;
  bool headless = false;
  int zoom = 0;
  std::string automation;
  std::string deviceRoot;
  std::string registry;
  // Where the desktop window's size and place are kept between runs; empty:
  // they are not kept.
  std::string placeFile;
};

// Removes the device options from argc/argv. False (with `error` set) for a
// malformed one.
bool takeDeviceOptions(int& argc, char** argv, DeviceOptions& options, std::string& error);

// Sets up the screen and the back end; the calling thread becomes the one
// that presents the screen and receives input (the UI thread). A window back
// end is used where a display can be opened, else the headless one.
// Registers the system window classes: the standard controls, dialogs,
// message boxes and the shell's bars. startDevice does it; a program or
// test that uses the layer without starting the device calls it itself.
void registerSystemClasses();

void startDevice(const DeviceOptions& options);
// What to do when the window's display goes away (its X server ended): runs
// on the UI thread, from wherever it was, and returns the exit code. The
// process ends when it returns; without a hook it ends with code 1.
void setDisplayLostHook(std::function<int()> hook);
void stopDevice();
const char* deviceBackendName();
// The title of the desktop window that shows the screen (none headless);
// UI thread.
void setDesktopTitle(std::u16string_view title);
// How often the screen was presented since the device started (UI thread).
uint64_t devicePresents();

}  // namespace zenta::platform
