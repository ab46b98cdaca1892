#include "viewer/commands.h"

#include <mutex>
#include <shared_mutex>
#include <string>
#include <system_error>
#include <thread>

#include "viewer/main_window.h"
#include "viewer/menu_commands.h"
#include "viewer/pages.h"
#include "viewer/ptz.h"

namespace zenta::viewer {

namespace {

void pause(MainWindow& w, ChannelView& channel) {
  w.session.pause(channel.number);
}

void resume(MainWindow& w, ChannelView& channel) {
  w.session.resume(channel.number);
}

// The current channel's last picture in the picture area.
void showLastPicture(MainWindow& w) {
  w.display.forgetSignalMarks();
  w.display.drawChannel(w.state.firstShown);
}

void setFirst(MainWindow& w, int first) {
  w.state.firstShown = first;
  w.state.current = &w.state.channels[size_t(first)];
}

// The page of four from firstShown: channels the server grants are resumed
// and drawn, the other quadrants are black.
void showPage(MainWindow& w) {
  const int first = w.state.firstShown, count = w.state.channelCount;
  w.display.forgetSignalMarks();
  for (int d = first; d < first + 4; ++d) {
    if (d < count) resume(w, w.state.channels[size_t(d)]);
    drawPageSlot(w, d);
  }
}

void step(MainWindow& w, bool forward) {
  std::unique_lock view(w.display.viewLock);
  ViewerState& state = w.state;
  w.drawRecordAt(forward ? kNextB : kPrevB, forward ? kNextA : kPrevA);
  if (!state.current.load()->link->active) return;
  const int count = state.channelCount, first = state.firstShown;
  if (state.layoutMode / 10 != 0) {
    if (count <= 4) return;
    for (int j = first; j < std::min(first + 4, count); ++j)
      pause(w, state.channels[size_t(j % count)]);
    if (forward) w.display.blankPictureBox();
    setFirst(w, forward ? nextPage(first, count) : previousPage(first, count));
    showPage(w);
    return;
  }
  if (count < 1) return;
  pause(w, *state.current.load());
  setFirst(w, forward ? nextChannel(first, count) : previousChannel(first, count));
  showLastPicture(w);
  resume(w, *state.current.load());
  w.display.clearStatus();
  w.display.showChannelStatus(state.firstShown);
}

void onePicture(MainWindow& w) {
  std::unique_lock view(w.display.viewLock);
  ViewerState& state = w.state;
  if (state.layoutMode < 10) return;
  w.drawRecord(k4SplitA);
  w.drawRecord(k1SplitB);
  state.layoutMode = state.layoutMode % 10;
  if (!state.current.load()->link->active) return;
  w.display.clearStatus();
  w.display.showChannelStatus(state.firstShown);
  const int count = state.channelCount;
  for (int j = state.firstShown + 1; count > 0 && j <= state.firstShown + 3; ++j)
    pause(w, state.channels[size_t(j % count)]);
  showLastPicture(w);
}

void fourPictures(MainWindow& w) {
  std::unique_lock view(w.display.viewLock);
  ViewerState& state = w.state;
  if (!state.current.load()->link->active || w.session.unanswered() != 0 ||
      state.channelCount < 4 || state.layoutMode > 10) {
    return;
  }
  w.display.clearStatus();
  w.display.showChannelStatus(-1);
  w.drawRecord(k1SplitA);
  w.drawRecord(k4SplitB);
  state.current.load()->link->active = false;  // no command: the page resumes it
  w.display.blankPictureBox();
  state.layoutMode = state.layoutMode % 10 + 10;
  setFirst(w, state.firstShown / 4 * 4);
  showPage(w);
  w.display.clearStatus();
}

}  // namespace

void drawPageSlot(MainWindow& w, int d) {
  if (d < w.state.channelCount) {
    w.display.drawChannel(d);
  } else if (w.state.channels[size_t(d)].link->absent) {
    w.display.fillQuadrant(d % 4, kNoChannel);
  } else {
    w.display.fillQuadrant(d % 4);
  }
}

namespace {

// The failure of a connect sequence: the window shows it, then every
// channel that was opened is resumed and closed.
void failConnect(MainWindow& w, bool quietly) {
  ViewerState& state = w.state;
  {
    std::unique_lock view(w.display.viewLock);
    state.current.load()->link->active = false;
    for (ChannelView& channel : state.channels)
      channel.link->active = false;
    if (!quietly) {
      w.drawRecord(kConnectA);
      // Nothing of what the sequence had begun to show stays.
      const RECT box = w.display.pictureBox();
      BitBlt(state.windowDC, box.left, box.top, box.right - box.left, box.bottom - box.top,
             w.skin.skinDC, box.left, box.top, SRCCOPY);
      w.display.clearStatus();
      w.display.drawStatus(kStatusCantConnect, DT_LEFT, kAlertColour);
    }
  }
  w.session.closeAllChannels();
}

void connectSequence(MainWindow& w, stream::Login login) {
  ViewerState& state = w.state;
  stream::ConnectOptions options;
  options.closeOnFailure = false;  // the window shows the failure first
  const bool opened = w.session.connect(login, w.sink, options) == stream::ConnectResult::Connected;
  if (!opened) failConnect(w, w.quietConnectEnd);
  state.connecting = false;
  PostMessageW(w.hwnd, kConnectEndedMessage, opened ? 1 : 0, 0);
}

}  // namespace

void connect(MainWindow& w) {
  ViewerState& state = w.state;
  if (w.connector.joinable()) w.connector.join();  // the last sequence, ended
  std::unique_lock view(w.display.viewLock);
  w.drawRecordAt(kConnectB, kConnectA);
  w.drawRecord(k4SplitA);
  w.drawRecord(k1SplitB);
  state.layoutMode = state.layoutMode % 10;
  state.current.load()->link->active = true;
  w.display.clearStatus();
  state.ptzMode = false;
  w.display.drawStatus(kStatusConnecting, DT_LEFT, kAlertColour);
  state.channelCount = 0;
  state.connecting = true;
  view.unlock();  // the channels' threads start drawing

  w.quietConnectEnd = false;
  try {
    w.connector = std::thread(connectSequence, std::ref(w), state.login);
  } catch (const std::system_error&) {
    failConnect(w, false);
    state.connecting = false;
  }
}

void stopConnecting(MainWindow& w, bool quietly) {
  if (!w.connector.joinable()) return;
  if (quietly) w.quietConnectEnd = true;
  w.session.cancelConnect();
  w.connector.join();
}

void disconnect(MainWindow& w) {
  ViewerState& state = w.state;
  std::unique_lock view(w.display.viewLock);
  state.channelCount = 0;
  for (ChannelView& channel : state.channels)
    channel.link->active = false;
  w.drawRecord(kConnectA);
  const RECT box = w.display.pictureBox();
  BitBlt(state.windowDC, box.left, box.top, box.right - box.left, box.bottom - box.top,
         w.skin.skinDC, box.left, box.top, SRCCOPY);
  w.display.clearStatus();
  view.unlock();  // closing waits for the receive threads
  w.session.closeAllChannels();
  setFirst(w, 0);
  state.layoutMode = 1;
  w.display.clearStatus();
  w.drawRecord(k4SplitA);
  w.drawRecord(k1SplitB);
}

void stepChannel(MainWindow& w, bool forward) {
  if (w.state.layoutMode % 10 != 1) return;
  step(w, forward);
  w.drawRecord(forward ? kNextA : kPrevA);  // a key has no release to wait for
}

void showOnePicture(MainWindow& w) {
  onePicture(w);
}

void showFourPictures(MainWindow& w) {
  fourPictures(w);
}

void pressConnect(MainWindow& w) {
  const SkinRecord& r = w.skin.records[kConnectA];
  tap(w, r.dstX + r.width / 2, r.dstY + r.height / 2);
}

bool showAlone(MainWindow& w, int quadrant) {
  std::unique_lock view(w.display.viewLock);
  ViewerState& state = w.state;
  const int first = state.firstShown, count = state.channelCount, d = first + quadrant;
  if (state.layoutMode != 11 || quadrant < 0 || quadrant > 3 || d >= count) return false;
  w.drawRecord(k4SplitA);
  w.drawRecord(k1SplitB);
  state.layoutMode = 1;
  for (int j = first; j < std::min(first + 4, count); ++j) {
    if (j != d) pause(w, state.channels[size_t(j)]);
  }
  setFirst(w, d);
  w.display.clearStatus();
  w.display.showChannelStatus(d);
  showLastPicture(w);
  return true;
}

void tap(MainWindow& w, int x, int y) {
  ViewerState& state = w.state;
  const int mode = state.layoutMode;
  if (mode == 0) return;
  if (mode % 10 == 2) {
    leaveFullScreen(w);
    return;
  }
  const auto& r = w.skin.records;
  if (hit(r[kConnectA], x, y)) {
    setFirst(w, 0);
    if (state.connecting) {
      // A second tap gives the sequence up; it shows the failure itself.
      w.session.cancelConnect();
      return;
    }
    if (state.channels[0].link->socket == stream::kNoConnection) {
      connect(w);
    } else {
      disconnect(w);
    }
  } else if (hit(r[kNextA], x, y)) {
    step(w, true);
  } else if (hit(r[kPrevA], x, y)) {
    step(w, false);
  } else if (hit(r[k1SplitB], x, y)) {
    onePicture(w);
  } else if (hit(r[k4SplitB], x, y)) {
    fourPictures(w);
  } else if (w.display.ptzPanelShown()) {
    ptzTap(w, x, y);
  }
}

void release(MainWindow& w, int x, int y) {
  if (w.state.layoutMode % 10 != 1) return;
  if (hit(w.skin.records[kNextA], x, y)) {
    w.drawRecord(kNextA);
  } else if (hit(w.skin.records[kPrevA], x, y)) {
    w.drawRecord(kPrevA);
  }
}

}  // namespace zenta::viewer
