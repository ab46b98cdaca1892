#include <gtest/gtest.h>
#include <array>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/bitmap_file.h"
#include "viewer/ptz_buttons.h"
#include "viewer/skin_file.h"

namespace zenta::viewer {
namespace {

using testing::BitmapFile;
using testing::readBitmapFile;

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(SkinText, RecordsThenLayoutValuesOnlyForTheShortScreen) {
  std::string text;
  for (int i = 1; i <= 66; ++i)
    text += std::to_string(i) + (i % 6 ? " " : "\n");
  text += "1 2 3 4  5 6 7 8  9 10 11 12 13 14";  // layout values follow
  SkinGeometry portrait;
  readSkinText(text, false, portrait);
  EXPECT_EQ(portrait.records[kMainArea].srcX, 1);
  EXPECT_EQ(portrait.records[kNextB].dstY, 66);
  // More than 66 integers on the tall screen: the rest are ignored.
  EXPECT_EQ(portrait.statusRect, (std::array<int16_t, 4>{7, 23, 233, 37}));
  EXPECT_EQ(portrait.pictureRect.y, 46);

  SkinGeometry landscape;
  readSkinText(text, true, landscape);
  EXPECT_EQ(landscape.statusRect, (std::array<int16_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(landscape.pictureRect.width, 7);
  EXPECT_EQ(landscape.fullScreenWidth, 9);
  EXPECT_EQ(landscape.fullPictureRect.height, 14);
  // The file ended there: the quadrants keep their defaults.
  EXPECT_EQ(landscape.quadRects[1].x, 121);
}

TEST(SkinText, ReadingStopsAtTheFirstItemThatIsNoInteger) {
  SkinGeometry g;
  readSkinText("0 0 240 294 0 0\n4 234 x 50 4 234", false, g);
  EXPECT_EQ(g.records[kMainArea].width, 240);
  EXPECT_EQ(g.records[kConnectA].srcY, 234);
  EXPECT_EQ(g.records[kConnectA].width, 0);  // not read: still zero
  EXPECT_EQ(g.records[kConnectA].dstX, 0);
  // No line breaks needed, signs and huge numbers saturate.
  SkinGeometry h;
  readSkinText("-5 +7 99999999999 3 1 2", false, h);
  EXPECT_EQ(h.records[kMainArea].srcX, -5);
  EXPECT_EQ(h.records[kMainArea].srcY, 7);
  EXPECT_EQ(h.records[kMainArea].width, INT32_MAX);
}

TEST(SkinHit, LeftAndTopEdgesInsideRightAndBottomOutside) {
  const SkinRecord r{
      0, 0, 10, 20, 100, 200,
  };
  EXPECT_TRUE(hit(r, 100, 200));
  EXPECT_TRUE(hit(r, 109, 219));
  EXPECT_FALSE(hit(r, 110, 200));
  EXPECT_FALSE(hit(r, 100, 220));
  EXPECT_FALSE(hit(r, 99, 205));
  EXPECT_FALSE(hit(SkinRecord{}, 0, 0));  // all-zero records take no tap
  // No overflow at the extremes.
  EXPECT_FALSE(hit(SkinRecord{0, 0, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}, 0, 0));
}

TEST(PtzButtons, TheTableAndItsEdges) {
  const int top = 46;
  const auto tallHit = [&](int x, int y) { return hitPtz(x, y, 0, top, 240, 178); };
  EXPECT_EQ(tallHit(127, top + 21), 0);  // "up"
  EXPECT_EQ(tallHit(128, top + 21), std::nullopt);
  EXPECT_EQ(ptzButtons[*tallHit(78 + 40, top + 40)].word, "stop");
  EXPECT_EQ(ptzButtons[*tallHit(78 + 40, top + 125)].word, "zoomstop");
  // Every button is hit at its top-left corner and at no point past its
  // right or bottom edge; no two buttons overlap.
  for (size_t i = 0; i < ptzButtons.size(); ++i) {
    const PtzButton& b = ptzButtons[i];
    EXPECT_EQ(tallHit(b.left + 78, top + b.top), int(i)) << b.word;
    EXPECT_NE(tallHit(b.right + 78, top + b.top), std::optional<int>(int(i))) << b.word;
    EXPECT_NE(tallHit(b.left + 78, top + b.bottom), std::optional<int>(int(i))) << b.word;
    for (size_t j = i + 1; j < ptzButtons.size(); ++j) {
      const PtzButton& c = ptzButtons[j];
      EXPECT_FALSE(b.left < c.right && c.left < b.right && b.top < c.bottom && c.top < b.bottom)
          << b.word << " and " << c.word;
    }
  }
}

TEST(PtzButtons, FollowThePanelWhereverThePictureStands) {
  // The panel is drawn from 202/640 of the picture's width, 118/320 of it
  // wide, over its whole height: every button lies inside it for any place
  // of the picture, and still hits at its own middle.
  for (const auto& [x, y, w, h] : {std::array{0, 22, 256, 192}, std::array{10, 30, 300, 150},
                                   std::array{0, 46, 240, 178}, std::array{5, 0, 640, 480}}) {
    const int panelLeft = x + w * 202 / 640, panelRight = panelLeft + w * 118 / 320;
    for (size_t i = 0; i < ptzButtons.size(); ++i) {
      const PtzArea a = ptzButtonArea(i, x, y, w, h);
      EXPECT_GE(a.left, panelLeft - w / 80) << ptzButtons[i].word;
      EXPECT_LE(a.right, panelRight + w / 80) << ptzButtons[i].word;
      EXPECT_GE(a.top, y);
      EXPECT_LE(a.bottom, y + h);
      EXPECT_EQ(hitPtz((a.left + a.right) / 2, (a.top + a.bottom) / 2, x, y, w, h), int(i))
          << ptzButtons[i].word << " at " << w << "x" << h;
    }
  }
}

std::vector<uint8_t> bitmapHeader(int32_t width, int32_t height, uint16_t bits, uint32_t image,
                                  uint32_t colours = 0) {
  std::vector<uint8_t> b(54, 0);
  b[0] = 'B';
  b[1] = 'M';
  const auto put = [&](size_t at, auto v) { std::memcpy(&b[at], &v, sizeof v); };
  put(14, uint32_t{40});
  put(18, width);
  put(22, height);
  put(26, uint16_t{1});
  put(28, bits);
  put(34, image);
  put(46, colours);
  return b;
}

TEST(SkinBitmap, HeadersThatCannotBeASkinAreRefused) {
  const auto read = [](const std::vector<uint8_t>& b) {
    return readSkinBitmapHeader(b.data(), b.size());
  };
  EXPECT_TRUE(read(bitmapHeader(240, 364, 24, 0)));
  EXPECT_TRUE(read(bitmapHeader(240, -364, 16, 0)));
  EXPECT_FALSE(read(bitmapHeader(240, 364, 8, 0)));         // another bit count
  EXPECT_FALSE(read(bitmapHeader(240, 364, 24, 0, 16)));    // a colour table
  EXPECT_FALSE(read(bitmapHeader(1 << 20, 364, 24, 0)));    // huge
  EXPECT_FALSE(read(bitmapHeader(-240, 364, 24, 0)));       // negative width
  EXPECT_FALSE(read(bitmapHeader(240, INT32_MIN, 24, 0)));  // no absolute value
  EXPECT_FALSE(read(bitmapHeader(240, 0, 24, 0)));
  auto short_ = bitmapHeader(240, 364, 24, 0);
  short_.resize(53);
  EXPECT_FALSE(read(short_));
  // An image size larger than the bitmap never makes a read past it.
  const auto big = read(bitmapHeader(2, 2, 24, 0xFFFFFFFF));
  ASSERT_TRUE(big);
  EXPECT_EQ(big->pixelBytes, 16u);  // rows of whole 32-bit words
  EXPECT_EQ(big->bytesToRead, 16u);
  const auto small = read(bitmapHeader(2, 2, 24, 5));
  EXPECT_EQ(small->bytesToRead, 5u);
}

// The skins the build draws: their formats, and records that match what is
// drawn (every button's record covers exactly one drawn button, the A and B
// images of a button are clearly different).
struct ShippedSkin {
  const char* name;
  int windowWidth, windowHeight;
  bool layoutValues;
};

class ShippedSkins : public ::testing::TestWithParam<ShippedSkin> {};

TEST_P(ShippedSkins, FormatAndRecordsMatchTheDrawing) {
  const ShippedSkin& skin = GetParam();
  const std::string base = std::string(ZENTA_PROGRAM_DIR) + "/" + skin.name;
  const auto bitmap = readBitmapFile(base + ".bmp");
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->bitCount, 24);
  EXPECT_EQ(bitmap->pixelOffset, 54u);  // no colour table, no masks
  ASSERT_TRUE(readSkinBitmapHeader(bitmap->bytes.data(), bitmap->bytes.size()));
  SkinGeometry g;
  readSkinText(fileText(base + ".ini"), skin.layoutValues, g);

  const SkinRecord& main = g.records[kMainArea];
  EXPECT_EQ(main.width, skin.windowWidth);
  EXPECT_EQ(main.height, skin.windowHeight);
  for (const SkinRecord& r : g.records) {
    EXPECT_GE(r.srcX, 0);
    EXPECT_GE(r.srcY, 0);
    EXPECT_LE(r.srcX + r.width, bitmap->width);
    EXPECT_LE(r.srcY + r.height, bitmap->height);
    EXPECT_LE(r.dstX + r.width, skin.windowWidth);
    EXPECT_LE(r.dstY + r.height, skin.windowHeight);
  }
  for (int a = kConnectA; a < kSkinRecordCount; a += 2) {
    const SkinRecord& ra = g.records[size_t(a)];
    const SkinRecord& rb = g.records[size_t(a + 1)];
    ASSERT_GT(ra.width, 0);
    EXPECT_EQ(ra.width, rb.width);
    EXPECT_EQ(ra.height, rb.height);
    EXPECT_EQ(ra.dstX, rb.dstX);
    EXPECT_EQ(ra.dstY, rb.dstY);
    // The two images differ in a good share of their pixels.
    int differing = 0;
    for (int y = 0; y < ra.height; ++y) {
      for (int x = 0; x < ra.width; ++x)
        differing +=
            bitmap->pixel(ra.srcX + x, ra.srcY + y) != bitmap->pixel(rb.srcX + x, rb.srcY + y);
    }
    EXPECT_GT(differing, ra.width * ra.height / 4) << "record " << a;
    // The ring just outside the button in the window is plain background:
    // the record holds the whole button and nothing of another.
    std::set<uint32_t> ring;
    for (int x = ra.dstX - 1; x <= ra.dstX + ra.width; ++x) {
      ring.insert(bitmap->pixel(x, ra.dstY - 1) >> 4 & 0x0F0F0F);
      ring.insert(bitmap->pixel(x, ra.dstY + ra.height) >> 4 & 0x0F0F0F);
    }
    EXPECT_LE(ring.size(), 4u) << "record " << a;
  }
  // Buttons take distinct places inside the window, away from the pictures.
  for (int a = kConnectA; a < kSkinRecordCount; a += 2) {
    const SkinRecord& ra = g.records[size_t(a)];
    const Place& p = g.pictureRect;
    EXPECT_FALSE(ra.dstX < p.x + p.width && p.x < ra.dstX + ra.width && ra.dstY < p.y + p.height &&
                 p.y < ra.dstY + ra.height);
    for (int b = a + 2; b < kSkinRecordCount; b += 2) {
      const SkinRecord& rb = g.records[size_t(b)];
      EXPECT_FALSE(ra.dstX < rb.dstX + rb.width && rb.dstX < ra.dstX + ra.width &&
                   ra.dstY < rb.dstY + rb.height && rb.dstY < ra.dstY + ra.height);
    }
  }
  // The quadrants lie in the picture area and never overlap; the status
  // line lies above the pictures.
  for (const auto* quads : {&g.quadRects, &g.fullQuadRects}) {
    const Place area = quads == &g.quadRects ? g.pictureRect : g.fullPictureRect;
    for (size_t i = 0; i < 4; ++i) {
      const Place& q = (*quads)[i];
      EXPECT_GE(q.x, area.x);
      EXPECT_GE(q.y, area.y);
      EXPECT_LE(q.x + q.width, area.x + area.width);
      EXPECT_LE(q.y + q.height, area.y + area.height);
      for (size_t j = i + 1; j < 4; ++j) {
        const Place& o = (*quads)[j];
        EXPECT_FALSE(q.x < o.x + o.width && o.x < q.x + q.width && q.y < o.y + o.height &&
                     o.y < q.y + q.height);
      }
    }
  }
  EXPECT_LE(g.statusRect[3], g.pictureRect.y);
  // The status line is black, for the green text on black drawn there.
  for (int x = g.statusRect[0]; x < g.statusRect[2]; x += 7)
    EXPECT_EQ(bitmap->pixel(x, g.statusRect[1] + 3), 0u);
}

INSTANTIATE_TEST_SUITE_P(Viewer, ShippedSkins,
                         ::testing::Values(ShippedSkin{"skin", 240, 294, false},
                                           ShippedSkin{"skin24", 320, 214, true}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(ShippedArt, MenuBarImagesPtzPanelAndIcon) {
  const std::string dir = ZENTA_RESOURCE_DIR;
  const auto strip = readBitmapFile(dir + "/menubar.bmp");
  ASSERT_TRUE(strip);
  EXPECT_EQ(strip->width, 80);
  EXPECT_EQ(strip->height, 16);
  EXPECT_EQ(strip->bitCount, 4);
  EXPECT_EQ(strip->colours, 16u);
  // Each of the five images draws something on the button face.
  for (int image = 0; image < 5; ++image) {
    int drawn = 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x)
        drawn += strip->pixel(image * 16 + x, y) != 0xC0C0C0;
    }
    EXPECT_GT(drawn, 20) << "image " << image;
  }
  const auto ptz = readBitmapFile(dir + "/ptz.bmp");
  ASSERT_TRUE(ptz);
  EXPECT_EQ(ptz->width, 118);
  EXPECT_EQ(ptz->height, 240);
  EXPECT_EQ(ptz->bitCount, 8);
  EXPECT_EQ(ptz->colours, 256u);
  // A white figure lies over the middle of every button's place (the panel
  // laid at x = 101 on a 320 x 240 picture shown in 240 x 178).
  for (const PtzButton& b : ptzButtons) {
    const double cx = (78 + (b.left + b.right) / 2.0) * 320 / 240 - 101;
    const double cy = (b.top + b.bottom) / 2.0 * 240 / 178;
    int white = 0;
    for (int dy = -3; dy <= 3; ++dy) {
      for (int dx = -3; dx <= 3; ++dx)
        white += ptz->pixel(int(cx) + dx, int(cy) + dy) == 0xFFFFFF;
    }
    EXPECT_GT(white, 3) << b.word;
  }
  std::ifstream icon(dir + "/icon.ico", std::ios::binary);
  std::vector<uint8_t> ico((std::istreambuf_iterator<char>(icon)),
                           std::istreambuf_iterator<char>());
  ASSERT_GE(ico.size(), 6u + 32);
  EXPECT_EQ(ico[4], 2);  // two images
  EXPECT_EQ(ico[6], 16);
  EXPECT_EQ(ico[6 + 16], 32);
}

}  // namespace
}  // namespace zenta::viewer
