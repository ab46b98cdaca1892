#include "viewer/keys.h"

#include "resources/resource_ids.h"
#include "viewer/commands.h"
#include "viewer/main_window.h"
#include "viewer/menu_commands.h"
#include "viewer/ptz.h"

namespace zenta::viewer {

namespace {

void menuCommand(MainWindow& w, UINT command) {
  SendMessageW(w.hwnd, WM_COMMAND, MAKEWPARAM(WORD(command), 0), 0);
}

// The arrows and zoom keys while the panel is on screen.
bool steer(MainWindow& w, WPARAM key) {
  if (!w.display.ptzPanelShown()) return false;
  switch (key) {
    case VK_UP:
      return ptzCommand(w, "up");
    case VK_DOWN:
      return ptzCommand(w, "down");
    case VK_LEFT:
      return ptzCommand(w, "left");
    case VK_RIGHT:
      return ptzCommand(w, "right");
    case VK_ADD:
      return ptzCommand(w, "zoomin");
    case VK_SUBTRACT:
      return ptzCommand(w, "zoomout");
    case VK_SPACE:
      // Every movement stops: pan and tilt, and a zoom under way.
      return ptzCommand(w, "stop") && ptzCommand(w, "zoomstop");
    default:
      return false;
  }
}

}  // namespace

bool keyCommand(MainWindow& w, WPARAM key) {
  const bool control = GetKeyState(VK_CONTROL) < 0, alt = GetKeyState(VK_MENU) < 0;
  if (key == 'Q' && !alt) {
    menuCommand(w, resources::kCommandQuit);
    return true;
  }
  if (control || alt) return false;
  const int mode = w.state.layoutMode;
  if (mode % 10 == 2) {
    // The full-screen view: only the way back.
    if (key != 'F' && key != VK_ESCAPE) return false;
    leaveFullScreen(w);
    return true;
  }
  if (mode % 10 != 1) return false;
  if (steer(w, key)) return true;
  switch (key) {
    case 'C':
      pressConnect(w);
      return true;
    case '1':
      showOnePicture(w);
      return true;
    case '4':
      showFourPictures(w);
      return true;
    case VK_PRIOR:
    case VK_LEFT:
      stepChannel(w, false);
      return true;
    case VK_NEXT:
    case VK_RIGHT:
      stepChannel(w, true);
      return true;
    case 'F':
      menuCommand(w, resources::kCommandFullScreen);
      return true;
    case 'P':
      menuCommand(w, resources::kCommandPtz);
      return true;
    case 'H':
      menuCommand(w, resources::kCommandHosts);
      return true;
    case 'S':
      menuCommand(w, resources::kCommandSnapshot);
      return true;
    default:
      return false;
  }
}

void wheelCommand(MainWindow& w, int delta) {
  if (delta == 0 || w.state.layoutMode % 10 != 1) return;
  stepChannel(w, delta < 0);
}

void doubleClick(MainWindow& w, int x, int y) {
  if (w.state.layoutMode == 11) {
    for (int q = 0; q < 4; ++q) {
      const Place& p = w.skin.quadRects[size_t(q)];
      if (x >= p.x && x < p.x + p.width && y >= p.y && y < p.y + p.height) {
        if (showAlone(w, q)) return;
      }
    }
  }
  // Elsewhere the second press of a double click is a tap of its own.
  tap(w, x, y);
}

}  // namespace zenta::viewer
