#include "viewer/channel_display.h"

#include "resources/resource_ids.h"
#include "video/colour/canvas.h"

namespace zenta::viewer {

namespace {

std::u16string_view widen(const std::array<char, 21>& text, std::array<char16_t, 21>& out) {
  size_t n = 0;
  for (; n < 20 && text[n] != 0; ++n)
    out[n] = char16_t(static_cast<unsigned char>(text[n]));
  return {out.data(), n};
}

void stretch(HDC dc, const Place& to, HDC from, int x, int y, int w, int h) {
  StretchBlt(dc, to.x, to.y, to.width, to.height, from, x, y, w, h, SRCCOPY);
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
}

void ChannelDisplay::drawPtzPanel(HDC dc, int width, int height) {
  if (ptzBitmap_ == nullptr) return;
  StretchBlt(dc, width * 202 / 640, 0, width * 118 / 320, height, ptzDC_, 0, 0, 118, 240, SRCPAINT);
}

void ChannelDisplay::showPicture(stream::ChannelView& channel, int layoutMode, int quadrant) {
  const int w = channel.shownWidth, h = channel.shownHeight;
  const bool four = layoutMode / 10 != 0;
  if (layoutMode % 10 == 1) {
    stretch(state_.windowDC, four ? skin_.quadRects[size_t(quadrant)] : skin_.pictureRect,
            channel.pictureDC, 0, 0, w, h);
    return;
  }
  const Place& to = four ? skin_.fullQuadRects[size_t(quadrant)] : skin_.fullPictureRect;
  if (skin_.fullScreenHeight > 240) {
    video::RotateCanvas(channel.rotated, channel.picture);
    // The view may have gone back to the skin meanwhile: then this picture
    // would land over the skin.
    if (state_.layoutMode % 10 == 1) return;
    stretch(state_.windowDC, to, channel.rotatedDC, 0, video::kCanvasWidth - w, h, w);
  } else {
    stretch(state_.windowDC, to, channel.pictureDC, 0, 0, w, h);
  }
}

void ChannelDisplay::drawChannel(int index) {
  stream::ChannelView& channel = state_.channels[size_t(index)];
  const int mode = state_.layoutMode;
  std::lock_guard guard(channel.canvasLock);
  if (mode % 10 == 1 && mode / 10 == 0 && state_.ptzMode && channel.ptzCapable)
    drawPtzPanel(channel.pictureDC, channel.shownWidth, channel.shownHeight);
  showPicture(channel, mode, index % 4);
}

void ChannelDisplay::drawStatus(std::u16string_view text, UINT format,
                                std::optional<COLORREF> colour, bool thenGreen) {
  std::lock_guard guard(statusLock_);
  if (colour) SetTextColor(state_.windowDC, *colour);
  RECT r = statusRect;
  DrawTextW(state_.windowDC, text.data(), int(text.size()), &r, format | DT_TOP);
  if (thenGreen) SetTextColor(state_.windowDC, kStatusTextColour);
}

void ChannelDisplay::setStatusColour(COLORREF colour) {
  std::lock_guard guard(statusLock_);
  SetTextColor(state_.windowDC, colour);
}

void ChannelDisplay::clearStatus() {
  if (state_.layoutMode != 1) return;
  static const std::u16string blanks(60, u' ');
  drawStatus(blanks, DT_RIGHT);
}

void ChannelDisplay::showChannelStatus(int index) {
  std::array<char16_t, 21> wide{};
  if (index < 0) {
    drawStatus(widen(state_.serverTitleCopy(), wide), DT_RIGHT);
    return;
  }
  const stream::ChannelView& channel = state_.channels[size_t(index)];
  if (state_.layoutMode != 1 || !channel.active) return;
  if (channel.viewState == stream::ViewState::Granted) {
    drawStatus(widen(channel.cameraNameCopy(), wide), DT_RIGHT);
  } else {
    drawStatus(kNoRight, DT_RIGHT, kAlertColour, true);
  }
}

RECT ChannelDisplay::pictureBox() const {
  const Place& p = skin_.pictureRect;
  return RECT{p.x, p.y, p.x + p.width, p.y + p.height};
}

void ChannelDisplay::blankPictureBox() {
  const RECT box = pictureBox();
  Rectangle(state_.windowDC, box.left, box.top, box.right, box.bottom);
}

void ChannelDisplay::fillQuadrant(int quadrant) {
  const Place& q = skin_.quadRects[size_t(quadrant)];
  const RECT r{q.x, q.y, q.x + q.width, q.y + q.height};
  FillRect(state_.windowDC, &r, blackBrush);
}

}  // namespace zenta::viewer
