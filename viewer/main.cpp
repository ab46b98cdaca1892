// zenta: the viewer for networked multi-channel video servers.
#include <pthread.h>
#include <signal.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/device/device.h"
#include "viewer/commands.h"
#include "viewer/keys.h"
#include "viewer/main_window.h"
#include "viewer/pictures_folder.h"
#include "viewer/viewer_app.h"
#include "zenta/version.h"

namespace {

void printHelp() {
  std::printf(
      "Usage: zenta [OPTION]...\n"
      "Watch the cameras of a networked multi-channel video server: pick a saved\n"
      "server, connect, watch one channel or four, step through the channels, steer\n"
      "pan/tilt/zoom cameras and save the picture on screen as a JPEG file.\n"
      "\n"
      "The program shows an emulated handheld screen (240 x 320 by default).\n"
      "\n"
      "Options:\n"
      "  --screen=WxH        the device's screen: 240x320 (the default) or 320x240\n"
      "                      (the landscape skin); no other size\n"
      "  --headless          no window, even where a display is available\n"
      "  --zoom=N            integer zoom of the window (default: the largest that fits)\n"
      "  --device-root=DIR   the folder that holds the device's files: snapshots go\n"
      "                      to DIR/WebCAM (default: your pictures folder,\n"
      "                      $XDG_PICTURES_DIR or ~/Pictures)\n"
      "  --registry=FILE     the file that keeps the saved servers (default\n"
      "                      $XDG_CONFIG_HOME/zenta/registry)\n"
      "  --automation=PATH   serve the automation channel on the Unix socket PATH\n"
      "  --help              show this text and exit\n"
      "  --version           show the version and exit\n"
      "\n"
      "The window can be resized and maximised; the screen keeps its shape. Its size\n"
      "and place are kept in $XDG_STATE_HOME/zenta (~/.local/state/zenta).\n"
      "\n"
      "Keys and mouse:\n");
  for (const auto& k : zenta::viewer::keyHelp)
    std::printf("  %-18s  %.*s\n", std::string(k.keys).c_str(), int(k.action.size()),
                k.action.data());
  std::printf(
      "  In text fields: Ctrl+V or Shift+Insert pastes, Ctrl+A selects all, Ctrl+C\n"
      "  copies and Ctrl+X cuts (not from a password field); Home, End and the\n"
      "  arrows move, with Shift they select. The host list opens with a click on\n"
      "  its arrow, F4 or Alt+Down; Up and Down step through it. Enter confirms a\n"
      "  dialog (or picks from an open list), Esc cancels it (or closes the list).\n"
      "\n"
      "A second start brings the running viewer to the front and exits with code 1.\n"
      "When the display goes away, the viewer closes its channels and exits with 0.\n");
}

// $XDG_STATE_HOME/zenta/window-WxH, or under ~/.local/state; nothing without
// a home.
std::string windowPlaceFile(int width, int height) {
  std::string base;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
    base = state;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    base = std::string(home) + "/.local/state";
  } else {
    return {};
  }
  return base + "/zenta/window-" + std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      printHelp();
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("zenta %s\n", zenta::kProjectVersion);
      return 0;
    }
  }
  zenta::platform::DeviceOptions options;
  std::error_code ignored;
  std::string error;
  if (!zenta::platform::takeDeviceOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "zenta: %s\nTry 'zenta --help'.\n", error.c_str());
    return 2;
  }
  if (argc > 1) {
    std::fprintf(stderr, "zenta: unknown argument '%s'\nTry 'zenta --help'.\n", argv[1]);
    return 2;
  }
  // The skins are drawn for the two shapes of the device's screen; any other
  // size would show a skin that does not fit it.
  const bool portrait = options.width == 240 && options.height == 320;
  const bool landscape = options.width == 320 && options.height == 240;
  if (!portrait && !landscape) {
    std::fprintf(stderr,
                 "zenta: --screen takes 240x320 or 320x240, the sizes its skins are drawn for\n"
                 "Try 'zenta --help'.\n");
    return 2;
  }
  // Snapshots go to the user's pictures folder unless told otherwise.
  if (options.deviceRoot.empty()) {
    options.deviceRoot = zenta::viewer::picturesFolder();
    if (!options.deviceRoot.empty())
      std::filesystem::create_directories(options.deviceRoot, ignored);
    if (options.deviceRoot.empty()) options.deviceRoot.assign(1, '.');
  }
  options.placeFile = windowPlaceFile(options.width, options.height);
  // Ctrl-C and a polite kill close the window as its close box would: the
  // channels are resumed and closed, and the program ends with code 0.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);  // every later thread too
  zenta::platform::startDevice(options);
  // The records every thread shares, the window, and the application object
  // that runs it, alive until the process ends.
  static zenta::viewer::ViewerState state;
  static zenta::viewer::MainWindow window(state);
  static zenta::viewer::ViewerApp app(window);
  // A display that goes away ends the viewer as a polite kill does, from
  // wherever the UI thread was: the channels are resumed and closed.
  zenta::platform::setDisplayLostHook([] {
    zenta::viewer::stopConnecting(window, true);
    window.session.closeAllChannels();
    return 0;
  });
  std::thread([stopSignals] {
    // The first signal closes the window; a second one, while the first
    // is still being handled, ends the program at once.
    // A close that takes longer than kCloseLimit (the program stuck, whatever
    // a recorder sends) ends it as a second signal would.
    constexpr timespec kCloseLimit{3, 0};
    for (bool closing = false;;) {
      int signal = 0;
      if (!closing) {
        if (sigwait(&stopSignals, &signal) != 0) return;
      } else {
        signal = sigtimedwait(&stopSignals, nullptr, &kCloseLimit);
        if (signal < 0 && errno == EINTR) continue;
        if (signal < 0) signal = SIGTERM;
      }
      const HWND hwnd = app.createdWindow();
      if (closing || hwnd == nullptr) std::_Exit(128 + signal);
      PostMessageW(hwnd, WM_CLOSE, 0, 0);
      closing = true;
    }
  }).detach();
  const int code = WinMain(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW);
  // The quit button leaves the channels open, to end with the process: they
  // end here, without a resume command, before the screen they draw on goes.
  window.session.closeAllChannels(false);
  zenta::platform::stopDevice();
  return code;
}
