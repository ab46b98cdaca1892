#include "sim/scene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace zenta::sim {

namespace {

// 5x7 glyphs, one row a byte, the leftmost dot in bit 4.
constexpr std::array<std::array<uint8_t, 7>, 11> kGlyphs = {{
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},  // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 9
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00},  // :
}};

constexpr YuvColour kWhite{235, 128, 128};
constexpr YuvColour kBlack{16, 128, 128};

uint8_t clampByte(double value) {
  return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

YuvColour fromRgb(double r, double g, double b) {
  return {clampByte(16 + 0.257 * r + 0.504 * g + 0.098 * b),
          clampByte(128 - 0.148 * r - 0.291 * g + 0.439 * b),
          clampByte(128 + 0.439 * r - 0.368 * g - 0.071 * b)};
}

void fillRect(YuvImage& image, int x0, int y0, int x1, int y1, YuvColour colour) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, image.width);
  y1 = std::min(y1, image.height);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      image.y[static_cast<size_t>(y * image.width + x)] = colour.y;
  const int cw = image.chromaWidth();
  for (int y = y0 / 2; y < (y1 + 1) / 2 && y < image.chromaHeight(); ++y)
    for (int x = x0 / 2; x < (x1 + 1) / 2 && x < cw; ++x) {
      image.cb[static_cast<size_t>(y * cw + x)] = colour.cb;
      image.cr[static_cast<size_t>(y * cw + x)] = colour.cr;
    }
}

void fillCircle(YuvImage& image, double cx, double cy, double radius, YuvColour colour) {
  const int y0 = std::max(0, static_cast<int>(std::floor(cy - radius)));
  const int y1 = std::min(image.height - 1, static_cast<int>(std::ceil(cy + radius)));
  const int x0 = std::max(0, static_cast<int>(std::floor(cx - radius)));
  const int x1 = std::min(image.width - 1, static_cast<int>(std::ceil(cx + radius)));
  const double r2 = radius * radius;
  const int cw = image.chromaWidth();
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) {
      const double dx = x + 0.5 - cx;
      const double dy = y + 0.5 - cy;
      if (dx * dx + dy * dy > r2) continue;
      image.y[static_cast<size_t>(y * image.width + x)] = colour.y;
      const auto c = static_cast<size_t>((y / 2) * cw + x / 2);
      image.cb[c] = colour.cb;
      image.cr[c] = colour.cr;
    }
}

// A value that runs from 0 to 1 and back once a period.
double triangle(double phase) {
  const double f = phase - std::floor(phase);
  return f < 0.5 ? 2 * f : 2 - 2 * f;
}

}  // namespace

YuvImage::YuvImage(int w, int h)
    : width(w),
      height(h),
      y(static_cast<size_t>(w) * static_cast<size_t>(h), 16),
      cb(static_cast<size_t>(w / 2) * static_cast<size_t>(h / 2), 128),
      cr(static_cast<size_t>(w / 2) * static_cast<size_t>(h / 2), 128) {}

YuvColour channelColour(int channel) {
  // Sixteen hues around the circle, saturated enough to tell apart.
  const double hue = std::fmod((channel - 1) * 360.0 / 16, 360.0) / 60.0;
  const double value = 200;
  const double chroma = value * 0.7;
  const double x = chroma * (1 - std::fabs(std::fmod(hue, 2.0) - 1));
  double r = 0, g = 0, b = 0;
  switch (static_cast<int>(hue)) {
    case 0:
      r = chroma, g = x;
      break;
    case 1:
      r = x, g = chroma;
      break;
    case 2:
      g = chroma, b = x;
      break;
    case 3:
      g = x, b = chroma;
      break;
    case 4:
      r = x, b = chroma;
      break;
    default:
      r = chroma, b = x;
      break;
  }
  const double m = value - chroma;
  return fromRgb(r + m, g + m, b + m);
}

YuvImage buildWorld(int channel, int pictureWidth, int pictureHeight) {
  YuvImage world(2 * pictureWidth, 2 * pictureHeight);
  const YuvColour colour = channelColour(channel);
  const int grid = std::max(16, pictureWidth / 8);
  for (int y = 0; y < world.height; ++y)
    for (int x = 0; x < world.width; ++x) {
      double luma = 30 + 120.0 * x / (world.width - 1) + 60.0 * y / (world.height - 1);
      if (x % grid < 2 || y % grid < 2) luma += 25;
      world.y[static_cast<size_t>(y * world.width + x)] = clampByte(luma);
    }
  std::fill(world.cb.begin(), world.cb.end(), colour.cb);
  std::fill(world.cr.begin(), world.cr.end(), colour.cr);

  // The channel number, as high as 70% of a picture, in the middle.
  const std::string digits = std::to_string(channel);
  const int scale = std::max(1, pictureHeight * 7 / 10 / 7);
  const int textWidth = static_cast<int>(digits.size()) * 6 * scale - scale;
  const int x = (world.width - textWidth) / 2;
  const int y = (world.height - 7 * scale) / 2;
  drawText(world, x + scale / 2, y + scale / 2, scale, digits, kBlack);
  drawText(world, x, y, scale, digits, kWhite);
  return world;
}

void renderView(const YuvImage& world, const View& view, YuvImage& out, std::vector<int>& columns) {
  const double step = 1.0 / view.zoom;
  // Luma: one world column per output column, looked up once a picture.
  columns.resize(static_cast<size_t>(std::max(out.width, 1)));
  for (int x = 0; x < out.width; ++x) {
    const double wx = view.centreX + (x + 0.5 - out.width / 2.0) * step;
    const int column = static_cast<int>(std::floor(wx));
    columns[static_cast<size_t>(x)] = column >= 0 && column < world.width ? column : -1;
  }
  for (int y = 0; y < out.height; ++y) {
    const double wy = view.centreY + (y + 0.5 - out.height / 2.0) * step;
    const int row = static_cast<int>(std::floor(wy));
    uint8_t* target = &out.y[static_cast<size_t>(y * out.width)];
    if (row < 0 || row >= world.height) {
      std::fill(target, target + out.width, uint8_t{16});
      continue;
    }
    const uint8_t* source = &world.y[static_cast<size_t>(row * world.width)];
    for (int x = 0; x < out.width; ++x) {
      const int column = columns[static_cast<size_t>(x)];
      target[x] = column < 0 ? uint8_t{16} : source[column];
    }
  }
  // Chroma: each sample at the middle of the two luma samples it covers.
  const int cw = out.chromaWidth();
  const int worldCw = world.chromaWidth();
  for (int x = 0; x < cw; ++x) {
    const double wx = view.centreX + (2 * x + 1 - out.width / 2.0) * step;
    const int column = static_cast<int>(std::floor(wx / 2));
    columns[static_cast<size_t>(x)] = column >= 0 && column < worldCw ? column : -1;
  }
  for (int y = 0; y < out.chromaHeight(); ++y) {
    const double wy = view.centreY + (2 * y + 1 - out.height / 2.0) * step;
    const int row = static_cast<int>(std::floor(wy / 2));
    const bool inside = row >= 0 && row < world.chromaHeight();
    for (int x = 0; x < cw; ++x) {
      const int column = columns[static_cast<size_t>(x)];
      const auto target = static_cast<size_t>(y * cw + x);
      if (!inside || column < 0) {
        out.cb[target] = 128;
        out.cr[target] = 128;
      } else {
        const auto source = static_cast<size_t>(row * worldCw + column);
        out.cb[target] = world.cb[source];
        out.cr[target] = world.cr[source];
      }
    }
  }
}

void drawBalls(YuvImage& out, int channel, double seconds, const View& view, int worldWidth,
               int worldHeight) {
  const YuvColour base = channelColour(channel);
  // The opposite colour, bright, so the balls stand out from the world.
  const YuvColour colour{220, static_cast<uint8_t>(255 - base.cb),
                         static_cast<uint8_t>(255 - base.cr)};
  const double radius = worldHeight / 24.0;
  for (int i = 0; i < 3; ++i) {
    // Two balls keep to the middle half of the world, where the camera
    // looks at first; the third roams the whole world.
    const double margin = i < 2 ? 0.25 : 0.0;
    const double left = margin * worldWidth + radius;
    const double top = margin * worldHeight + radius;
    const double spanX = (1 - 2 * margin) * worldWidth - 2 * radius;
    const double spanY = (1 - 2 * margin) * worldHeight - 2 * radius;
    const double periodX = 7.0 + 1.3 * i + 0.17 * channel;
    const double periodY = 5.0 + 0.9 * i + 0.11 * channel;
    const double wx = left + triangle(seconds / periodX + 0.31 * i) * spanX;
    const double wy = top + triangle(seconds / periodY + 0.17 * i + 0.05 * channel) * spanY;
    fillCircle(out, (wx - view.centreX) * view.zoom + out.width / 2.0,
               (wy - view.centreY) * view.zoom + out.height / 2.0, radius * view.zoom, colour);
  }
}

void drawClock(YuvImage& out, const std::tm& localTime) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", localTime.tm_hour, localTime.tm_min,
                localTime.tm_sec);
  const int scale = out.width >= 256 ? 2 : 1;
  const int margin = 2 * scale;
  fillRect(out, 0, 0, 8 * 6 * scale + 2 * margin - scale, 7 * scale + 2 * margin, kBlack);
  drawText(out, margin, margin, scale, text, kWhite);
}

void drawText(YuvImage& out, int x, int y, int scale, std::string_view text, YuvColour colour) {
  for (const char c : text) {
    const int glyph = c == ':' ? 10 : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (glyph >= 0) {
      const auto& rows = kGlyphs[static_cast<size_t>(glyph)];
      for (int row = 0; row < 7; ++row)
        for (int dot = 0; dot < 5; ++dot)
          if (rows[static_cast<size_t>(row)] & (0x10 >> dot))
            fillRect(out, x + dot * scale, y + row * scale, x + (dot + 1) * scale,
                     y + (row + 1) * scale, colour);
    }
    x += 6 * scale;
  }
}

}  // namespace zenta::sim
