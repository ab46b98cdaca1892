// The pictures a channel shows: a synthetic world for each channel (a
// brightness ramp from left to right and top to bottom, a grid, the channel
// number large, in the channel's own colour), seen through the virtual
// camera's view, with moving balls and the server clock laid over it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string_view>
#include <vector>

namespace zenta::sim {

// A 4:2:0 picture with even sides; chroma planes are half as wide and high.
struct YuvImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> y, cb, cr;

  YuvImage() = default;
  YuvImage(int w, int h);
  int chromaWidth() const { return width / 2; }
  int chromaHeight() const { return height / 2; }
};

// The part of a world a camera shows: its centre in world pixels and the
// zoom (output pixels per world pixel).
struct View {
  double centreX = 0;
  double centreY = 0;
  double zoom = 1;
};

// The colour of a channel (1 to 16), as Y, Cb, Cr.
struct YuvColour {
  uint8_t y, cb, cr;
};
YuvColour channelColour(int channel);

// The world of a synthetic channel: twice the picture size in each direction,
// its brightness rising by 120 from left to right and by 60 from top to bottom.
YuvImage buildWorld(int channel, int pictureWidth, int pictureHeight);

// Samples `world` through `view` into `out` (nearest sample; outside the
// world is black). Uses no memory beyond `out` and `columns`.
void renderView(const YuvImage& world, const View& view, YuvImage& out, std::vector<int>& columns);

// Balls that move through the world of a synthetic channel; positions follow
// from the time in seconds alone.
void drawBalls(YuvImage& out, int channel, double seconds, const View& view, int worldWidth,
               int worldHeight);

// The time of day "HH:MM:SS" in the top left corner.
void drawClock(YuvImage& out, const std::tm& localTime);

// Digits and colons of the built-in 5x7 font, `scale` pixels a dot.
void drawText(YuvImage& out, int x, int y, int scale, std::string_view text, YuvColour colour);

}  // namespace zenta::sim
