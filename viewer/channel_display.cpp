#include "viewer/channel_display.h"

#include "stream/session.h"

#include "resources/resource_ids.h"
#include "video/colour/canvas.h"
#include "viewer/canvas_bitmap.h"
#include "viewer/placement.h"

namespace zenta::viewer {

namespace {

// A recorder's text (Latin-1) for the screen: control characters (C0, DEL
// and C1) become blanks, so no glyph of theirs is drawn or left behind.
std::u16string_view widen(const std::array<char, 21>& text, std::array<char16_t, 21>& out) {
  size_t n = 0;
  for (; n < 20 && text[n] != 0; ++n) {
    const auto u = static_cast<unsigned char>(text[n]);
    out[n] = u < 0x20 || (u >= 0x7F && u <= 0x9F) ? u' ' : char16_t(u);
  }
  return {out.data(), n};
}

RECT rectOf(const Place& p) {
  return RECT{p.x, p.y, p.x + p.width, p.y + p.height};
}

}  // namespace

void ChannelDisplay::prepare(HINSTANCE instance) {
  statusRect =
      RECT{skin_.statusRect[0], skin_.statusRect[1], skin_.statusRect[2], skin_.statusRect[3]};
  blackBrush = CreateSolidBrush(RGB(0, 0, 0));
  greyBrush = CreateSolidBrush(RGB(0xE0, 0xE0, 0xE0));
  // The panel is loaded once and kept, rather than loaded for every
  // picture: the picture drawn is the same.
  ptzBitmap_ = LoadBitmapW(instance, resources::kPtzBitmap);
  HDC screen = GetDC(nullptr);
  ptzDC_ = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  if (ptzBitmap_ != nullptr) SelectObject(ptzDC_, ptzBitmap_);
  overlayBitmap_ = createCanvas(video::kCanvasWidth, video::kCanvasHeight, overlayPixels_);
  overlayDC_ = memoryDC(overlayBitmap_);
  for (Scratch& s : scratch_) {
    uint8_t* pixels = nullptr;
    s.bitmap = createCanvas(video::kCanvasWidth, video::kCanvasHeight, pixels);
    s.dc = memoryDC(s.bitmap);
  }
}

Place ChannelDisplay::shownPlace(const ChannelView& channel) const {
  return channel.scaledToFit
             ? fitPicture(skin_.pictureRect, channel.shownWidth, channel.shownHeight)
             : skin_.pictureRect;
}

// Darkens the picture under the panel, so its white figures stand out over
// any picture (the panel is laid on with OR).
void ChannelDisplay::shadePanel(int w, int h) {
  if (overlayPixels_ == nullptr) return;
  const int left = std::clamp(w * 202 / 640, 0, video::kCanvasWidth);
  const int right = std::clamp(left + w * 118 / 320, left, video::kCanvasWidth);
  h = std::clamp(h, 0, video::kCanvasHeight);
  for (int y = 0; y < h; ++y) {
    // Bottom-up rows: the picture's top row is the canvas's last.
    uint8_t* row = overlayPixels_ + size_t(video::kCanvasHeight - 1 - y) * video::kCanvasStride;
    for (int i = left * 3; i < right * 3; ++i)
      row[i] = uint8_t((row[i] * 96) >> 8);
  }
}

void ChannelDisplay::stretchLabelled(int quadrant, const Place& to, HDC from, int w, int h,
                                     bool keepShape, std::u16string_view label) {
  Scratch& s = scratch_[size_t(quadrant)];
  if (s.dc == nullptr || to.width > video::kCanvasWidth || to.height > video::kCanvasHeight) {
    stretchInto(to, from, 0, 0, w, h, keepShape);
    return;
  }
  std::lock_guard guard(s.lock);
  const Place whole{0, 0, to.width, to.height};
  const Place inner = keepShape ? fitPicture(whole, w, h) : whole;
  if (keepShape) {
    const RECT r = rectOf(whole);
    FillRect(s.dc, &r, blackBrush);
  }
  StretchBlt(s.dc, inner.x, inner.y, inner.width, inner.height, from, 0, 0, w, h, SRCCOPY);
  while (!label.empty() && label.front() == u' ')
    label.remove_prefix(1);
  RECT text{2, 1, to.width - 2, std::min<int>(to.height, 15)};
  SetBkMode(s.dc, OPAQUE);
  SetBkColor(s.dc, RGB(0, 0, 0));
  SetTextColor(s.dc, RGB(255, 255, 255));
  DrawTextW(s.dc, label.data(), int(label.size()), &text, DT_LEFT | DT_TOP | DT_SINGLELINE);
  BitBlt(state_.windowDC, to.x, to.y, to.width, to.height, s.dc, 0, 0, SRCCOPY);
}

bool ChannelDisplay::ptzPanelShown() const {
  const ChannelView& current = *state_.current.load();
  return state_.layoutMode == 1 && state_.ptzMode && current.link->active && current.ptzCapable;
}

void ChannelDisplay::stretchInto(const Place& to, HDC from, int x, int y, int w, int h,
                                 bool keepShape) {
  if (!keepShape) {
    StretchBlt(state_.windowDC, to.x, to.y, to.width, to.height, from, x, y, w, h, SRCCOPY);
    return;
  }
  // The picture with its shape kept, black bars beside it: only the bars
  // are filled, so nothing flickers.
  const Place inner = fitPicture(to, w, h);
  Place bars[2];
  for (int i = 0, n = barsAround(to, inner, bars); i < n; ++i) {
    const RECT r = rectOf(bars[i]);
    FillRect(state_.windowDC, &r, blackBrush);
  }
  StretchBlt(state_.windowDC, inner.x, inner.y, inner.width, inner.height, from, x, y, w, h,
             SRCCOPY);
}

void ChannelDisplay::showPicture(ChannelView& channel, int layoutMode, int quadrant) {
  const int w = channel.shownWidth, h = channel.shownHeight;
  const bool four = layoutMode / 10 != 0;
  const bool keepShape = channel.scaledToFit;
  const ViewState viewing = channel.viewState;
  const bool refused = channel.link->answered && viewing != ViewState::Granted;
  if (viewing == ViewState::Pending || refused) {
    // Nothing of this login's to show: the canvas may still hold a picture
    // that an earlier login was allowed to see.
    const Place& to = layoutMode % 10 == 1
                          ? (four ? skin_.quadRects[size_t(quadrant)] : skin_.pictureRect)
                          : (four ? skin_.fullQuadRects[size_t(quadrant)] : skin_.fullPictureRect);
    const RECT r = rectOf(to);
    FillRect(state_.windowDC, &r, blackBrush);
    if (layoutMode == 11 && refused) markQuadrant(quadrant, kNoRight);
    return;
  }
  if (layoutMode % 10 == 1) {
    const Place& to = four ? skin_.quadRects[size_t(quadrant)] : skin_.pictureRect;
    if (!four && state_.ptzMode && channel.ptzCapable && ptzBitmap_ != nullptr) {
      // The panel goes over a copy: the canvas stays the camera's picture,
      // for snapshots and for every other view of it.
      std::lock_guard guard(overlayLock_);
      BitBlt(overlayDC_, 0, 0, w, h, channel.pictureDC, 0, 0, SRCCOPY);
      shadePanel(w, h);
      StretchBlt(overlayDC_, w * 202 / 640, 0, w * 118 / 320, h, ptzDC_, 0, 0, 118, 240, SRCPAINT);
      stretchInto(to, overlayDC_, 0, 0, w, h, keepShape);
      return;
    }
    if (four) {
      std::array<char16_t, 21> wide{};
      stretchLabelled(quadrant, to, channel.pictureDC, w, h, keepShape,
                      widen(channel.cameraNameCopy(), wide));
      return;
    }
    stretchInto(to, channel.pictureDC, 0, 0, w, h, keepShape);
    return;
  }
  const Place& to = four ? skin_.fullQuadRects[size_t(quadrant)] : skin_.fullPictureRect;
  if (skin_.fullScreenHeight > 240) {
    video::RotateCanvas(channel.rotated, channel.picture);
    // The view may have gone back to the skin meanwhile: then this picture
    // would land over the skin.
    if (state_.layoutMode % 10 == 1) return;
    stretchInto(to, channel.rotatedDC, 0, video::kCanvasWidth - w, h, w, keepShape);
  } else {
    stretchInto(to, channel.pictureDC, 0, 0, w, h, keepShape);
  }
}

void ChannelDisplay::drawChannel(int index) {
  ChannelView& channel = state_.channels[size_t(index)];
  const int mode = state_.layoutMode;
  std::lock_guard guard(channel.canvasLock);
  showPicture(channel, mode, index % 4);
}

bool ChannelDisplay::noticeShownLocked() const {
  return noticeUntil_ != 0;
}

void ChannelDisplay::drawStatusLocked(std::u16string_view text, UINT format) {
  // Under a notice the line only remembers what it will show after it.
  if (!noticeShownLocked()) {
    RECT r = statusRect;
    DrawTextW(state_.windowDC, text.data(), int(text.size()), &r, format | DT_TOP);
  }
  ((format & DT_RIGHT) != 0 ? right_ : left_).set(text, colour_);
}

void ChannelDisplay::showNotice(std::u16string_view text, COLORREF colour, int ms) {
  std::lock_guard guard(statusLock_);
  // Too long for the line: its first word, then an ellipsis and as much of
  // its end as fits (a file name's end tells it apart).
  std::u16string shown(text);
  const LONG room = statusRect.right - statusRect.left;
  SIZE size{};
  GetTextExtentPoint32W(state_.windowDC, shown.c_str(), int(shown.size()), &size);
  if (size.cx > room) {
    const size_t head = std::min(text.find(u' ') + 1, text.size());
    for (size_t cut = head + 1; cut < text.size(); ++cut) {
      shown = std::u16string(text.substr(0, head)) + u"\u2026" + std::u16string(text.substr(cut));
      GetTextExtentPoint32W(state_.windowDC, shown.c_str(), int(shown.size()), &size);
      if (size.cx <= room) break;
    }
  }
  text = shown;
  notice_.set(text, colour);
  noticeUntil_ = stream::steadyMilliseconds() + ms;
  FillRect(state_.windowDC, &statusRect, blackBrush);
  SetTextColor(state_.windowDC, colour);
  RECT r = statusRect;
  DrawTextW(state_.windowDC, text.data(), int(text.size()), &r, DT_LEFT | DT_TOP | DT_SINGLELINE);
  SetTextColor(state_.windowDC, colour_);
}

void ChannelDisplay::endNoticeWhenDue() {
  {
    std::lock_guard guard(statusLock_);
    if (noticeUntil_ == 0 || stream::steadyMilliseconds() < noticeUntil_) return;
    noticeUntil_ = 0;
    FillRect(state_.windowDC, &statusRect, blackBrush);
  }
  redrawStatus();
}

void ChannelDisplay::drawStatus(std::u16string_view text, UINT format,
                                std::optional<COLORREF> colour, bool thenGreen) {
  std::lock_guard guard(statusLock_);
  if (colour) SetTextColor(state_.windowDC, colour_ = *colour);
  drawStatusLocked(text, format);
  if (thenGreen) SetTextColor(state_.windowDC, colour_ = kStatusTextColour);
}

void ChannelDisplay::endConnecting() {
  std::lock_guard guard(statusLock_);
  if (left_.view() != kStatusConnecting) return;
  left_.length = 0;
  if (noticeShownLocked()) return;
  // Where the words stand, whatever the width of the font's blanks.
  SIZE size{};
  const auto text = kStatusConnecting;
  GetTextExtentPoint32W(state_.windowDC, text.data(), int(text.size()), &size);
  RECT r = statusRect;
  r.right = std::min<LONG>(r.right, r.left + size.cx + 1);
  FillRect(state_.windowDC, &r, blackBrush);
}

void ChannelDisplay::setStatusColour(COLORREF colour) {
  std::lock_guard guard(statusLock_);
  SetTextColor(state_.windowDC, colour_ = colour);
}

void ChannelDisplay::redrawStatus() {
  std::lock_guard guard(statusLock_);
  const COLORREF current = colour_;
  if (noticeShownLocked()) {
    SetTextColor(state_.windowDC, notice_.colour);
    RECT r = statusRect;
    DrawTextW(state_.windowDC, notice_.view().data(), int(notice_.length), &r,
              DT_LEFT | DT_TOP | DT_SINGLELINE);
    SetTextColor(state_.windowDC, current);
    return;
  }
  const StatusText left = left_, right = right_;
  for (const StatusText* t : {&left, &right}) {
    if (t->length == 0) continue;
    SetTextColor(state_.windowDC, colour_ = t->colour);
    drawStatusLocked(t->view(), t == &right ? DT_RIGHT : DT_LEFT);
  }
  SetTextColor(state_.windowDC, colour_ = current);
}

void ChannelDisplay::clearStatus() {
  if (state_.layoutMode != 1) return;
  // The whole line, whatever the width of the font's blanks.
  std::lock_guard guard(statusLock_);
  FillRect(state_.windowDC, &statusRect, blackBrush);
  left_.length = right_.length = 0;
  noticeUntil_ = 0;  // the view changed: a notice has had its say
}

void ChannelDisplay::showChannelStatus(int index) {
  std::array<char16_t, 21> wide{};
  if (index < 0) {
    drawStatus(widen(state_.serverTitleCopy(), wide), DT_RIGHT);
    return;
  }
  const ChannelView& channel = state_.channels[size_t(index)];
  if (state_.layoutMode != 1 || !channel.link->active) return;
  if (channel.link->absent) {
    drawStatus(kNoChannel, DT_RIGHT, kAlertColour, true);
  } else if (channel.viewState != ViewState::Granted) {
    drawStatus(kNoRight, DT_RIGHT, kAlertColour, true);
  } else if (noSignal_[size_t(index)]) {
    drawStatus(kNoSignal, DT_RIGHT, kAlertColour, true);
  } else {
    drawStatus(widen(channel.cameraNameCopy(), wide), DT_RIGHT);
  }
}

RECT ChannelDisplay::pictureBox() const {
  return rectOf(skin_.pictureRect);
}

void ChannelDisplay::blankPictureBox() {
  const RECT box = pictureBox();
  Rectangle(state_.windowDC, box.left, box.top, box.right, box.bottom);
}

void ChannelDisplay::fillQuadrant(int quadrant) {
  const RECT r = rectOf(skin_.quadRects[size_t(quadrant)]);
  FillRect(state_.windowDC, &r, blackBrush);
}

void ChannelDisplay::fillQuadrant(int quadrant, std::u16string_view text) {
  fillQuadrant(quadrant);
  markQuadrant(quadrant, text);
}

void ChannelDisplay::markQuadrant(int quadrant, std::u16string_view text) {
  // Without the blanks that right-align it in the status line.
  while (!text.empty() && text.front() == u' ')
    text.remove_prefix(1);
  RECT r = rectOf(skin_.quadRects[size_t(quadrant)]);
  std::lock_guard guard(statusLock_);
  SetTextColor(state_.windowDC, kAlertColour);
  DrawTextW(state_.windowDC, text.data(), int(text.size()), &r,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SetTextColor(state_.windowDC, colour_);
}

bool ChannelDisplay::silent(const ChannelView& channel, int64_t nowMs) const {
  return channel.link->active && channel.link->socket != stream::kNoConnection &&
         !channel.link->absent && channel.viewState == ViewState::Granted &&
         nowMs - channel.link->lastPictureMs >= kNoSignalAfterMs;
}

void ChannelDisplay::checkSignals() {
  endNoticeWhenDue();
  const int mode = state_.layoutMode;
  if (mode % 10 != 1) return;  // the full-screen view shows pictures only
  std::unique_lock view(viewLock);
  const int64_t now = stream::steadyMilliseconds();
  const bool four = mode / 10 != 0;
  const int first = state_.firstShown;
  for (int d = 0; d < stream::kChannelCount; ++d) {
    const bool onScreen = four ? d >= first && d < first + 4 : d == first;
    // A channel the recorder stopped having is marked as one it never had.
    const ChannelView& channel = state_.channels[size_t(d)];
    const bool gone = channel.link->absent && channel.viewState == ViewState::Granted;
    const bool marked = onScreen && (silent(channel, now) || gone);
    if (marked == noSignal_[size_t(d)]) continue;
    noSignal_[size_t(d)] = marked;
    if (!onScreen) continue;
    if (!four) {
      showChannelStatus(d);
    } else if (marked) {
      markQuadrant(d % 4, gone ? kNoChannel : kNoSignal);
    }
  }
}

void ChannelDisplay::forgetSignalMarks() {
  for (auto& mark : noSignal_)
    mark = false;
}

}  // namespace zenta::viewer
