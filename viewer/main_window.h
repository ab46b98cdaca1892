// The viewer's only top-level window: it owns the menu bar, loads the skin,
// prepares the sixteen channel records and every drawing resource when it
// is created, takes the whole screen above the menu bar at its first paint
// and repaints itself from the skin.
#pragma once

#include "framework/ce_wnd.h"
#include "stream/channel_state.h"
#include "stream/session.h"
#include "viewer/skin.h"

namespace zenta::viewer {

inline constexpr const char16_t* kVersionText = u" 2.1.070315";
inline constexpr const char16_t* kWindowTitle = u"ZENTA";
// A message that the window answers with 1 and no default processing.
inline constexpr UINT kAnswerOneMessage = 0x07E8;

class MainWindow : public framework::CeWnd {
 public:
  // `receive` is the body of every channel's receive thread.
  MainWindow(stream::ViewerState& viewerState, stream::StreamSession::ReceiveEntry receive,
             stream::SessionSettings settings = {})
      : state(viewerState), session(viewerState, std::move(receive), settings) {}

  void onCreate(CREATESTRUCTW& create, bool& handled) override;
  void onPaint(bool& handled) override;
  LRESULT onCommand(WPARAM wParam, LPARAM lParam, bool& handled) override;
  void onClose(bool& handled) override;
  void onDestroy(bool& handled) override;
  LRESULT onOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

  // Copies a skin record's source to its destination in the window.
  void drawRecord(SkinRecordId id);
  stream::ViewerState& state;
  // The sixteen channel connections to the selected server.
  stream::StreamSession session;
  SkinLayout skin;
  RECT workArea{};
  RECT statusRect{};  // the display's copy of the skin's status line
  HWND menuBar = nullptr;
  HBRUSH blackBrush = nullptr;
  HBRUSH greyBrush = nullptr;

 private:
  void createChannels();
  void firstPaint();
};

}  // namespace zenta::viewer
