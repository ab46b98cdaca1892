// Channel pictures on the screen and the one-line status text. The UI
// thread and the sixteen receive threads all draw through the window's DC:
// each drawing call is whole, a channel's canvas is held under its canvas
// lock while it is changed or copied, and a status text is drawn together
// with its colour under one lock, so no text appears in another's colour.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string_view>

#include "stream/channel_state.h"
#include "viewer/skin.h"

namespace zenta::viewer {

// Passed to SetTextColor unchanged: red 255, blue 7, with 7 in the top byte.
inline constexpr COLORREF kAlertColour = 0x070700FF;
inline constexpr std::u16string_view kNoRight = u"            No Right";

class ChannelDisplay {
 public:
  ChannelDisplay(stream::ViewerState& state, const SkinLayout& skin) : state_(state), skin_(skin) {}

  // Takes the status rectangle and the brushes from the loaded skin and
  // keeps the PTZ panel's bitmap. Called once while the window is created.
  void prepare(HINSTANCE instance);

  // Draws channel `index` into its place in the current layout (UI thread).
  void drawChannel(int index);
  // Lays the PTZ panel over a channel picture of w x h (canvas lock held).
  void drawPtzPanel(HDC dc, int width, int height);
  // Stretches a channel's shown picture into its place for `layoutMode` and
  // quadrant; turns it first in the full-screen view of a tall screen. A
  // layout that became the skin view while turning draws nothing. Canvas
  // lock held by the caller.
  void showPicture(stream::ChannelView& channel, int layoutMode, int quadrant);

  // Blanks the status line in the one-picture skin view.
  void clearStatus();
  // -1: the server title, in any layout; a channel index: its camera name,
  // or the refusal, in the one-picture skin view when it is active.
  void showChannelStatus(int index);
  // Draws a text into the status line: with `colour` it becomes the line's
  // colour first, else the current colour stays. `thenGreen` sets green
  // again afterwards. One step for every thread.
  void drawStatus(std::u16string_view text, UINT format, std::optional<COLORREF> colour = {},
                  bool thenGreen = false);
  // Sets the status colour without drawing.
  void setStatusColour(COLORREF colour);

  // The picture box: left, top, right and bottom of the picture area.
  RECT pictureBox() const;
  // Fills the picture box white with a black outline.
  void blankPictureBox();
  // Fills a quadrant of the skin view black.
  void fillQuadrant(int quadrant);

  // Told of every picture a receive thread put on the screen, with the time
  // its last payload byte was read (the receive-path benchmark's probe).
  using ShownHook = void (*)(int channel, std::chrono::steady_clock::time_point payloadRead);
  std::atomic<ShownHook> shownHook{nullptr};

  // Held shared by a receive thread while it places and draws a picture,
  // and exclusively by the UI thread while it changes the view and draws
  // the new one, so that no picture lands where the old view put it. Taken
  // before any canvas lock, and never held while channels are opened or
  // closed (closing waits for the receive threads).
  std::shared_mutex viewLock;

  RECT statusRect{};
  HBRUSH blackBrush = nullptr;
  HBRUSH greyBrush = nullptr;

 private:
  stream::ViewerState& state_;
  const SkinLayout& skin_;
  std::mutex statusLock_;
  HBITMAP ptzBitmap_ = nullptr;
  HDC ptzDC_ = nullptr;
};

}  // namespace zenta::viewer
