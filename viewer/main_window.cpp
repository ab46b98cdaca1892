#include "viewer/main_window.h"

#include <mutex>

#include "framework/ce_app.h"
#include "hosts/host_dialog.h"
#include "hosts/host_store.h"
#include "platform/base/metrics.h"
#include "platform/device/device.h"
#include "resources/resource_ids.h"
#include "video/colour/canvas.h"
#include "viewer/canvas_bitmap.h"
#include "viewer/commands.h"
#include "viewer/keys.h"
#include "viewer/menu_commands.h"
#include "viewer/ptz.h"
#include "viewer/receive_loop.h"
#include "viewer/window_title.h"

namespace zenta::viewer {

namespace {

// The shell call of the first paint asks for the input panel to go down; a
// full-screen application wants it out of the way.
void lowerInputPanel(HWND owner) {
  SHSipPreference(owner, SIP_DOWN);
}

}  // namespace

MainWindow::MainWindow(ViewerState& viewerState, stream::SessionSettings settings)
    : state(viewerState), session(settings) {
  for (ChannelView& channel : state.channels)
    channel.link = &session.channel(channel.number);
}

MainWindow::~MainWindow() {
  stopConnecting(*this, true);
}

void MainWindow::onCreate(CREATESTRUCTW&, bool& handled) {
  state.login = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
  hosts::HostStore(state.login).loadRemembered();
  const HINSTANCE instance = framework::theApp != nullptr ? framework::theApp->instance : nullptr;
  const SkinFiles files = skinFiles(instance, workArea.bottom);
  loadSkinLayout(skin, files);

  SHMENUBARINFO bar{};
  bar.cbSize = 36;
  bar.hwndParent = hwnd;
  bar.dwFlags = 0;
  bar.nToolBarId = resources::kMenuBar;
  bar.hInstRes = instance;
  bar.nBmpId = resources::kMenuBarImages;
  bar.cBmpImages = resources::kMenuBarImageCount;
  bar.clrBk = 0;
  if (!SHCreateMenuBar(&bar)) MessageBoxW(hwnd, u"SHCreateMenuBar Failed", u"Error", MB_ICONERROR);
  menuBar = bar.hwndMB;
  // The buttons' names, for a mouse that rests on them in a desktop window.
  static constexpr LPCWSTR kButtonNames[] = {u"Quit", u"Full screen", u"Camera control",
                                             u"Select Host", u"Snapshot"};
  if (menuBar != nullptr) CommandBar_AddToolTips(menuBar, 5, kButtonNames);

  state.windowDC = GetDC(hwnd);
  video::yuvToRgbTables();
  loadSkinBitmap(skin, files, state.windowDC);
  createChannels();

  display.prepare(instance);
  state.layoutMode = 0;
  state.current = &state.channels[0];
  state.firstShown = 0;
  RECT version = display.statusRect;
  DrawTextW(skin.skinDC, kVersionText, 11, &version, DT_LEFT | DT_TOP);
  // The status line turns green when a channel connection is made, before
  // its receive thread can draw.
  session.setOpenedHook(
      [this](stream::Connection&) { display.setStatusColour(kStatusTextColour); });
  SetTimer(hwnd, kSignalTimer, kSignalCheckMs, nullptr);
  handled = true;
}

void MainWindow::createChannels() {
  for (ChannelView& channel : state.channels) {
    channel.codedWidth = 320;
    channel.codedHeight = 240;
    channel.shownWidth = 320;
    channel.shownHeight = 240;
    channel.pictureBitmap =
        createCanvas(video::kCanvasWidth, video::kCanvasHeight, channel.picture);
    channel.pictureDC = memoryDC(channel.pictureBitmap);
    channel.rotatedBitmap =
        createCanvas(video::kCanvasHeight, video::kCanvasWidth, channel.rotated);
    channel.rotatedDC = memoryDC(channel.rotatedBitmap);
  }
}

void MainWindow::firstPaint() {
  const HWND owner = framework::defaultOwnerWindow();
  lowerInputPanel(owner);
  SetForegroundWindow(owner);
  HDC screen = GetDC(nullptr);
  const int width = GetDeviceCaps(screen, HORZRES);
  const int height = GetDeviceCaps(screen, VERTRES);
  ReleaseDC(nullptr, screen);
  MoveWindow(hwnd, 0, 0, width, height - platform::kMenuBarHeight, TRUE);
  SHFullScreen(owner, SHFS_HIDETASKBAR);
  SHFullScreen(owner, SHFS_HIDESIPBUTTON);
  SHFullScreen(owner, SHFS_HIDESTARTICON);
  state.layoutMode = 1;
  drawRecord(kMainArea);
}

void MainWindow::onPaint(bool& handled) {
  handled = true;
  if (state.layoutMode == 0) {
    // No paint cycle here: the window stays invalid and the next paint
    // message draws the skin through the branch below.
    firstPaint();
    return;
  }
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(hwnd, &paint);
  if (!paint.fErase) {
    const RECT& r = paint.rcPaint;
    BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, skin.skinDC, r.left, r.top,
           SRCCOPY);
  }
  EndPaint(hwnd, &paint);
  // The skin shows the buttons as they are before a connection; a repaint
  // while connected, or with four pictures, shows them as they stand.
  if (state.layoutMode % 10 == 1) {
    if (state.channels[0].link->socket != stream::kNoConnection) drawRecordAt(kConnectB, kConnectA);
    if (state.layoutMode == 11) {
      drawRecord(k1SplitA);
      drawRecord(k4SplitB);
    }
  }
  // The skin covered the status line and the pictures: they are drawn
  // again as they stood, and nothing the login may not view.
  if (state.layoutMode % 10 == 1) display.redrawStatus();
  if (state.layoutMode == 11) {
    for (int d = state.firstShown; d < state.firstShown + 4 && d < stream::kChannelCount; ++d) {
      drawPageSlot(*this, d);
      if (display.noSignalMarked(d)) display.markQuadrant(d % 4, kNoSignal);
    }
  } else if (state.layoutMode == 1 && state.current.load()->link->active) {
    display.drawChannel(state.firstShown);
  }
}

LRESULT MainWindow::onCommand(WPARAM wParam, LPARAM, bool& handled) {
  if (HIWORD(wParam) != 0) return 0;  // a control's notification, not a menu command
  switch (LOWORD(wParam)) {
    case resources::kCommandQuit:
      // The connections are not closed first: they end with the process.
      handled = true;
      DestroyWindow(hwnd);
      break;
    case resources::kCommandFullScreen:
      handled = true;
      enterFullScreen(*this);
      break;
    case resources::kCommandPtz:
      handled = true;
      togglePtzMode(*this);
      break;
    case resources::kCommandHosts:
      handled = true;
      hosts::openHostDialog(state.login);
      break;
    case resources::kCommandSnapshot:
      handled = true;
      requestSnapshot(*this);
      break;
    default:
      break;
  }
  return 0;
}

// Taps and releases are left unhandled, so the default processing runs too.
void MainWindow::onLButtonDown(WPARAM, WORD x, WORD y, bool&) {
  tap(*this, x, y);
}

void MainWindow::onLButtonUp(WPARAM, WORD x, WORD y, bool&) {
  release(*this, x, y);
}

void MainWindow::onKeyDown(WPARAM key, WORD, WORD, bool& handled) {
  handled = keyCommand(*this, key);
}

void MainWindow::onLButtonDoubleClick(WPARAM, WORD x, WORD y, bool&) {
  doubleClick(*this, int16_t(x), int16_t(y));
}

void MainWindow::onTimer(WPARAM id, bool& handled) {
  if (id != kSignalTimer) return;
  handled = true;
  display.checkSignals();
  // The desktop window's title follows what the screen shows.
  const ChannelView& current = *state.current.load();
  const bool connected = current.link->socket != stream::kNoConnection;
  std::u16string title = connected ? windowTitle(current.cameraNameCopy(), state.serverTitleCopy(),
                                                 state.layoutMode > 9)
                                   : windowTitle({}, {}, false);
  if (title != shownTitle_) {
    platform::setDesktopTitle(title);
    shownTitle_ = std::move(title);
  }
}

void MainWindow::onClose(bool& handled) {
  handled = true;
  // A dialog of ours is open (the window is disabled under it): it is
  // cancelled first and the close comes back here once it has gone, so
  // that closing the window quits whatever is on top of it.
  if (!IsWindowEnabled(hwnd) && ++closeTries_ < 100) {
    if (const HWND active = GetActiveWindow(); active != nullptr && active != hwnd)
      PostMessageW(active, WM_CLOSE, 0, 0);
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    return;
  }
  stopConnecting(*this, true);
  session.closeAllChannels();
  DestroyWindow(hwnd);
}

void MainWindow::onDestroy(bool& handled) {
  KillTimer(hwnd, kSignalTimer);
  stopConnecting(*this, true);
  PostQuitMessage(0);
  handled = true;
}

LRESULT MainWindow::onOtherMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) {
  if (message == kConnectEndedMessage) {
    handled = true;
    // A message from a sequence that a new one has replaced meanwhile (its
    // thread was joined when the new one started) leaves the new one alone.
    if (!state.connecting && connector.joinable()) connector.join();
    if (wParam == 1 && !state.connecting) display.endConnecting();
    return 0;
  }
  if (message == WM_MOUSEWHEEL) {
    handled = true;
    wheelCommand(*this, int16_t(HIWORD(wParam)));
    return 0;
  }
  if (message != kAnswerOneMessage) return 0;
  handled = true;
  return 1;
}

void MainWindow::drawRecord(SkinRecordId id) {
  drawRecordAt(id, id);
}

void MainWindow::drawRecordAt(SkinRecordId id, SkinRecordId place) {
  const SkinRecord& r = skin.records[size_t(id)];
  const SkinRecord& at = skin.records[size_t(place)];
  BitBlt(state.windowDC, at.dstX, at.dstY, r.width, r.height, skin.skinDC, r.srcX, r.srcY, SRCCOPY);
}

}  // namespace zenta::viewer
