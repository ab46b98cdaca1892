// Channel pictures on the screen and the one-line status text. The UI
// thread and the sixteen receive threads all draw through the window's DC:
// each drawing call is whole, a channel's canvas is held under its canvas
// lock while it is changed or copied, and a status text is drawn together
// with its colour under one lock, so no text appears in another's colour.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string_view>

#include "viewer/skin.h"
#include "viewer/view_lock.h"
#include "viewer/viewer_state.h"

namespace zenta::viewer {

// Passed to SetTextColor unchanged: red 255, blue 7, with 7 in the top byte.
inline constexpr COLORREF kAlertColour = 0x070700FF;
inline constexpr std::u16string_view kNoRight = u"            No Right";
// A channel on screen that has shown nothing new for kNoSignalAfter.
inline constexpr std::u16string_view kNoSignal = u"           No signal";
// A channel the recorder does not have.
inline constexpr std::u16string_view kNoChannel = u"          No channel";
inline constexpr int64_t kNoSignalAfterMs = 3000;
inline constexpr std::u16string_view kStatusConnecting = u"Connecting...  ";
inline constexpr std::u16string_view kStatusCantConnect = u"Can't Connect !";

class ChannelDisplay {
 public:
  ChannelDisplay(ViewerState& state, const SkinLayout& skin) : state_(state), skin_(skin) {}

  // Takes the status rectangle and the brushes from the loaded skin, keeps
  // the PTZ panel's bitmap and makes the canvas the panel is laid on.
  // Called once while the window is created.
  void prepare(HINSTANCE instance);

  // Draws channel `index` into its place in the current layout (UI thread).
  void drawChannel(int index);
  // Stretches a channel's shown picture into its place for `layoutMode` and
  // quadrant: turned first in the full-screen view of a tall screen, with
  // the PTZ panel over it in the one-picture skin view while PTZ mode is on
  // and the channel may be steered (on a copy: the canvas itself stays the
  // camera's picture), and with its shape kept when it was scaled to fit. A
  // layout that became the skin view while turning draws nothing. Canvas
  // lock held by the caller.
  void showPicture(ChannelView& channel, int layoutMode, int quadrant);
  // Whether the PTZ panel is on screen over the current channel now.
  bool ptzPanelShown() const;
  // Where the channel's picture stands in the one-picture skin view: the
  // picture area, or the part of it of the picture's shape.
  Place shownPlace(const ChannelView& channel) const;

  // A short message over the whole status line for `ms` (a snapshot's file
  // name, its failure), in the one-picture skin view; the line's own texts
  // come back after it. Any thread.
  void showNotice(std::u16string_view text, COLORREF colour, int ms);
  // Takes a notice down once its time is over (UI thread, on the timer).
  void endNoticeWhenDue();

  // Blanks the status line in the one-picture skin view.
  void clearStatus();
  // -1: the server title, in any layout; a channel index: in the
  // one-picture skin view when it is active, its camera name, or the
  // refusal, or that the recorder has no such channel or that it shows
  // nothing new.
  void showChannelStatus(int index);
  // Draws a text into the status line: with `colour` it becomes the line's
  // colour first, else the current colour stays. `thenGreen` sets green
  // again afterwards. One step for every thread. The line keeps what it
  // shows, left and right, for redrawStatus.
  void drawStatus(std::u16string_view text, UINT format, std::optional<COLORREF> colour = {},
                  bool thenGreen = false);
  // Sets the status colour without drawing.
  void setStatusColour(COLORREF colour);
  // Draws the status line again as it stood (after a repaint of the skin).
  void redrawStatus();

  // The picture box: left, top, right and bottom of the picture area.
  RECT pictureBox() const;
  // Fills the picture box white with a black outline.
  void blankPictureBox();
  // Fills a quadrant of the skin view black.
  void fillQuadrant(int quadrant);
  // A quadrant of the skin view that shows no picture: black, with `text`
  // (a channel the recorder does not have, one the login may not view).
  void fillQuadrant(int quadrant, std::u16string_view text);
  // Lays `text` in red over the middle of a quadrant of the skin view.
  void markQuadrant(int quadrant, std::u16string_view text);

  // The channel is on screen, streams, may be viewed, and has shown nothing
  // new for kNoSignalAfterMs at `nowMs`.
  bool silent(const ChannelView& channel, int64_t nowMs) const;
  // UI thread, every fraction of a second: marks the channels on screen
  // that fell silent and clears the marks of those that came back.
  void checkSignals();
  // A connect that succeeded: "Connecting..." leaves the status line even
  // when the recorder has sent no time yet.
  void endConnecting();
  // Forgets the marks (the view changed and was drawn anew).
  void forgetSignalMarks();
  bool noSignalMarked(int index) const { return noSignal_[size_t(index)]; }

  // Told of every picture a receive thread put on the screen, with the time
  // its last payload byte was read (the receive-path benchmark's probe).
  using ShownHook = void (*)(int channel, std::chrono::steady_clock::time_point payloadRead);
  std::atomic<ShownHook> shownHook{nullptr};

  // Held shared by a receive thread while it places and draws a picture,
  // and exclusively by the UI thread while it changes the view and draws
  // the new one, so that no picture lands where the old view put it. Taken
  // before any canvas lock, and never held while channels are opened or
  // closed (closing waits for the receive threads).
  ViewLock viewLock;

  RECT statusRect{};
  HBRUSH blackBrush = nullptr;
  HBRUSH greyBrush = nullptr;

 private:
  struct StatusText {
    std::array<char16_t, 64> text{};
    size_t length = 0;
    COLORREF colour = 0;
    void set(std::u16string_view t, COLORREF c) {
      length = std::min(t.size(), text.size());
      std::copy_n(t.begin(), length, text.begin());
      colour = c;
    }
    std::u16string_view view() const { return {text.data(), length}; }
  };
  void drawStatusLocked(std::u16string_view text, UINT format);
  bool noticeShownLocked() const;
  void stretchInto(const Place& to, HDC from, int x, int y, int w, int h, bool keepShape);
  // The same with the camera's name over the picture's top left corner,
  // put together off screen so the name never flickers.
  void stretchLabelled(int quadrant, const Place& to, HDC from, int w, int h, bool keepShape,
                       std::u16string_view label);
  void shadePanel(int w, int h);

  ViewerState& state_;
  const SkinLayout& skin_;
  std::mutex statusLock_;
  COLORREF colour_ = kStatusTextColour;
  StatusText left_, right_;
  StatusText notice_;
  int64_t noticeUntil_ = 0;  // steady milliseconds; 0: none
  HBITMAP ptzBitmap_ = nullptr;
  HDC ptzDC_ = nullptr;
  // The canvas a picture is copied to for the PTZ panel to be laid on it.
  std::mutex overlayLock_;
  HBITMAP overlayBitmap_ = nullptr;
  HDC overlayDC_ = nullptr;
  uint8_t* overlayPixels_ = nullptr;
  // Where each quadrant's picture and name are put together.
  struct Scratch {
    std::mutex lock;
    HBITMAP bitmap = nullptr;
    HDC dc = nullptr;
  };
  std::array<Scratch, 4> scratch_;
  std::array<std::atomic<bool>, stream::kChannelCount> noSignal_{};
};

}  // namespace zenta::viewer
