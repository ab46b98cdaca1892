#include "viewer/menu_commands.h"

#include <mutex>
#include <shared_mutex>

#include "framework/ce_app.h"
#include "platform/base/metrics.h"
#include "viewer/commands.h"
#include "viewer/main_window.h"

namespace zenta::viewer {

namespace {

void showPageActive(MainWindow& w, bool resumeCommands) {
  ViewerState& state = w.state;
  const int first = state.firstShown, count = state.channelCount;
  for (int d = first; d < first + 4; ++d) {
    if (d < count) {
      ChannelView& channel = state.channels[size_t(d)];
      if (resumeCommands) {
        w.session.resume(channel.number);
      } else {
        channel.link->active = true;
      }
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
  ViewerState& state = w.state;
  // While connecting, the sequence's end draws on the skin view.
  if (!state.current.load()->link->active || state.connecting) return;
  const int count = state.channelCount;
  const bool four = state.layoutMode > 10;
  if (four && count > 0) {
    for (int j = state.firstShown; j <= state.firstShown + 3; ++j)
      state.channels[size_t(j % count)].link->active = false;
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
  ViewerState& state = w.state;
  const int count = state.channelCount;
  const bool four = state.layoutMode > 10;
  if (four) {
    for (int j = state.firstShown; count > 0 && j <= state.firstShown + 3; ++j) {
      ChannelView& channel = state.channels[size_t(j % count)];
      w.session.pause(channel.number);
    }
  } else {
    state.current.load()->link->active = false;
  }
  const int width = w.skin.fullScreenWidth,
            height = w.skin.fullScreenHeight - platform::kMenuBarHeight;
  MoveWindow(w.hwnd, 0, 0, width, height, TRUE);
  // The repaint that the move asks for happens now, as the device's move
  // does it, and not after the steps below, which it would paint over.
  UpdateWindow(w.hwnd);
  SHFullScreen(framework::defaultOwnerWindow(), SHFS_SHOWSIPBUTTON);
  if (w.menuBar != nullptr) CommandBar_Show(w.menuBar, TRUE);
  BitBlt(state.windowDC, 0, 0, width, height, w.skin.skinDC, 0, 0, SRCCOPY);
  {
    ChannelView& current = *state.current.load();
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
    state.current.load()->link->active = true;
    w.display.drawChannel(state.firstShown);
    w.display.showChannelStatus(state.firstShown);
  }
}

void requestSnapshot(MainWindow& w) {
  ViewerState& state = w.state;
  // Four pictures have no one picture to save: say so rather than nothing.
  if (state.layoutMode > 9) {
    w.display.showNotice(u"Snapshot needs one picture", kAlertColour, 2000);
    return;
  }
  if (!state.current.load()->link->active) return;
  CreateDirectoryW(u"WebCAM", nullptr);
  state.current.load()->snapshotPending = true;
}

}  // namespace zenta::viewer
