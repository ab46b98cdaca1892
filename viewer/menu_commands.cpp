#include "viewer/menu_commands.h"

#include <mutex>
#include <shared_mutex>

#include "framework/ce_app.h"
#include "viewer/commands.h"
#include "viewer/main_window.h"

namespace zenta::viewer {

namespace {

void showPageActive(MainWindow& w, bool resumeCommands) {
  stream::ViewerState& state = w.state;
  const int first = state.firstShown, count = state.channelCount;
  for (int d = first; d < first + 4; ++d) {
    if (d < count) {
      stream::ChannelView& channel = state.channels[size_t(d)];
      if (resumeCommands) w.session.send(channel, stream::formatResume(channel.number));
      channel.active = true;
      w.display.drawChannel(d);
    } else if (state.layoutMode % 10 == 2) {
      const Place& q = w.skin.fullQuadRects[size_t(d % 4)];
      const RECT r{q.x, q.y, q.x + q.width, q.y + q.height};
      FillRect(state.windowDC, &r, w.display.blackBrush);
    } else {
      drawPageSlot(w, d);
    }
  }
}

}  // namespace

void enterFullScreen(MainWindow& w) {
  std::unique_lock view(w.display.viewLock);
  stream::ViewerState& state = w.state;
  // While connecting, the sequence's end draws on the skin view.
  if (!state.current.load()->active || state.connecting) return;
  const int count = state.channelCount;
  const bool four = state.layoutMode > 10;
  if (four && count > 0) {
    for (int j = state.firstShown; j <= state.firstShown + 3; ++j)
      state.channels[size_t(j % count)].active = false;
  }
  state.layoutMode = state.layoutMode / 10 * 10 + 2;
  if (w.menuBar != nullptr) CommandBar_Show(w.menuBar, FALSE);
  SHFullScreen(framework::defaultOwnerWindow(), SHFS_HIDESIPBUTTON);
  const int width = w.skin.fullScreenWidth, height = w.skin.fullScreenHeight;
  MoveWindow(w.hwnd, 0, 0, width, height, TRUE);
  if (height > 240) {
    Rectangle(state.windowDC, 0, 0, width, height);
  } else {
    const RECT all{0, 0, width, height};
    FillRect(state.windowDC, &all, w.display.greyBrush);
  }
  if (four) {
    showPageActive(w, false);
  } else {
    w.display.drawChannel(state.firstShown);
  }
  const RECT all{0, 0, width, height};
  ValidateRect(w.hwnd, &all);
}

void leaveFullScreen(MainWindow& w) {
  std::unique_lock view(w.display.viewLock);
  stream::ViewerState& state = w.state;
  const int count = state.channelCount;
  const bool four = state.layoutMode > 10;
  if (four) {
    for (int j = state.firstShown; count > 0 && j <= state.firstShown + 3; ++j) {
      stream::ChannelView& channel = state.channels[size_t(j % count)];
      w.session.send(channel, stream::formatPause(channel.number));
      channel.active = false;
    }
  } else {
    state.current.load()->active = false;
  }
  const int width = w.skin.fullScreenWidth, height = w.skin.fullScreenHeight - 26;
  MoveWindow(w.hwnd, 0, 0, width, height, TRUE);
  // The repaint that the move asks for happens now, as the device's move
  // does it, and not after the steps below, which it would paint over.
  UpdateWindow(w.hwnd);
  SHFullScreen(framework::defaultOwnerWindow(), SHFS_SHOWSIPBUTTON);
  if (w.menuBar != nullptr) CommandBar_Show(w.menuBar, TRUE);
  BitBlt(state.windowDC, 0, 0, width, height, w.skin.skinDC, 0, 0, SRCCOPY);
  {
    stream::ChannelView& current = *state.current.load();
    std::lock_guard guard(current.canvasLock);
    w.display.showPicture(current, 1, 0);
  }
  w.drawRecord(kConnectB);
  state.layoutMode = state.layoutMode / 10 * 10 + 1;
  w.display.showChannelStatus(state.firstShown);
  if (four) {
    w.display.blankPictureBox();
    w.drawRecord(k4SplitB);
    w.drawRecord(k1SplitA);
    w.display.showChannelStatus(-1);
    showPageActive(w, true);
  } else {
    state.current.load()->active = true;
    w.display.drawChannel(state.firstShown);
    w.display.showChannelStatus(state.firstShown);
  }
}

void requestSnapshot(MainWindow& w) {
  stream::ViewerState& state = w.state;
  if (state.layoutMode > 9 || !state.current.load()->active) return;
  CreateDirectoryW(u"WebCAM", nullptr);
  state.current.load()->snapshotPending = true;
}

}  // namespace zenta::viewer
