// The viewer's only top-level window: it owns the menu bar, loads the skin,
// prepares the sixteen channel records and every drawing resource when it
// is created, takes the whole screen above the menu bar at its first paint
// and repaints itself from the skin.
#pragma once

#include <atomic>
#include <thread>

#include "framework/ce_wnd.h"
#include "stream/session.h"
#include "viewer/channel_display.h"
#include "viewer/receive_loop.h"
#include "viewer/skin.h"
#include "viewer/viewer_state.h"

namespace zenta::viewer {

inline constexpr const char16_t* kVersionText = u" 2.1.070315";
inline constexpr const char16_t* kWindowTitle = u"ZENTA";
// A message that the window answers with 1 and no default processing.
inline constexpr UINT kAnswerOneMessage = 0x07E8;
// Posted by the connect sequence's thread when it has ended.
inline constexpr UINT kConnectEndedMessage = WM_USER + 0x100;
// The timer that looks for channels on screen that fell silent.
inline constexpr UINT_PTR kSignalTimer = 1;
inline constexpr UINT kSignalCheckMs = 250;

class MainWindow : public framework::CeWnd {
 public:
  explicit MainWindow(ViewerState& viewerState, stream::SessionSettings settings = {});
  ~MainWindow() override;

  void onCreate(CREATESTRUCTW& create, bool& handled) override;
  void onPaint(bool& handled) override;
  LRESULT onCommand(WPARAM wParam, LPARAM lParam, bool& handled) override;
  void onClose(bool& handled) override;
  void onDestroy(bool& handled) override;
  LRESULT onOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
  void onLButtonDown(WPARAM keys, WORD x, WORD y, bool& handled) override;
  void onLButtonUp(WPARAM keys, WORD x, WORD y, bool& handled) override;
  void onTimer(WPARAM id, bool& handled) override;
  void onKeyDown(WPARAM key, WORD repeat, WORD flags, bool& handled) override;
  void onLButtonDoubleClick(WPARAM keys, WORD x, WORD y, bool& handled) override;

  // Copies a skin record's source to its destination in the window, or to
  // another record's destination.
  void drawRecord(SkinRecordId id);
  void drawRecordAt(SkinRecordId id, SkinRecordId place);
  ViewerState& state;
  SkinLayout skin;
  ChannelDisplay display{state, skin};
  // The sixteen channel connections to the selected server; their receive
  // threads draw through `display`.
  // What the receive threads do with what comes; it outlives the session,
  // whose end waits for them.
  DisplaySink sink{state, display};
  stream::StreamSession session;
  RECT workArea{};
  HWND menuBar = nullptr;
  // The connect sequence's thread, from a Connect tap until it is joined.
  std::thread connector;
  // The window is closing: a connect sequence given up draws nothing.
  std::atomic<bool> quietConnectEnd{false};

 private:
  void createChannels();
  void firstPaint();
  int closeTries_ = 0;         // closes put off for a dialog on top
  std::u16string shownTitle_;  // the desktop window's
};

}  // namespace zenta::viewer
