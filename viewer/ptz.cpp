#include "viewer/ptz.h"

#include <mutex>
#include <shared_mutex>

#include "resources/resource_ids.h"
#include "viewer/main_window.h"
#include "viewer/ptz_buttons.h"

namespace zenta::viewer {

bool ptzTap(MainWindow& window, int x, int y) {
  ViewerState& state = window.state;
  ChannelView& current = *state.current.load();
  if (!state.ptzMode || !current.ptzCapable) return false;
  // The buttons stand where the panel is drawn: over the picture as shown.
  const Place shown = window.display.shownPlace(current);
  const auto button = hitPtz(x, y, shown.x, shown.y, shown.width, shown.height);
  if (!button) return false;
  return ptzCommand(window, ptzButtons[size_t(*button)].word);
}

bool ptzCommand(MainWindow& window, std::string_view word) {
  ViewerState& state = window.state;
  ChannelView& current = *state.current.load();
  if (!window.display.ptzPanelShown()) return false;
  window.session.sendCameraCommand(current.number, word);
  return true;
}

void togglePtzMode(MainWindow& window) {
  std::unique_lock view(window.display.viewLock);
  ViewerState& state = window.state;
  // The mode goes on only where a camera can be steered: one picture of a
  // channel the login may control. Elsewhere the button stays up and the
  // status line says why.
  const ChannelView& current = *state.current.load();
  if (!state.ptzMode && (state.layoutMode != 1 || !current.link->active || !current.ptzCapable)) {
    SendMessageW(window.menuBar, TB_CHECKBUTTON, resources::kCommandPtz, 0);
    view.unlock();
    window.display.showNotice(u"No camera control", kAlertColour, 2000);
    return;
  }
  state.ptzMode = !state.ptzMode;
  // The menu button stays down while the mode is on.
  SendMessageW(window.menuBar, TB_CHECKBUTTON, resources::kCommandPtz, state.ptzMode ? 1 : 0);
  if (state.layoutMode == 1 && state.current.load()->link->active)
    window.display.drawChannel(state.firstShown);
}

}  // namespace zenta::viewer
