#include "viewer/ptz.h"

#include <mutex>
#include <shared_mutex>

#include "viewer/main_window.h"
#include "viewer/ptz_buttons.h"

namespace zenta::viewer {

bool ptzTap(MainWindow& window, int x, int y) {
  stream::ViewerState& state = window.state;
  stream::ChannelView& current = *state.current.load();
  if (!state.ptzMode || !current.ptzCapable) return false;
  const auto button = hitPtz(x, y, window.skin.pictureRect.y);
  if (!button) return false;
  std::string command;
  {
    std::lock_guard guard(state.loginLock);
    command = stream::formatCameraCommand(current.number, ptzButtons[size_t(*button)].word,
                                          state.wireAccount, state.wirePassword);
  }
  window.session.send(current, command);
  return true;
}

void togglePtzMode(MainWindow& window) {
  std::unique_lock view(window.display.viewLock);
  stream::ViewerState& state = window.state;
  state.ptzMode = !state.ptzMode;
  if (state.layoutMode == 1 && state.current.load()->active)
    window.display.drawChannel(state.firstShown);
}

}  // namespace zenta::viewer
