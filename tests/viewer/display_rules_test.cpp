// The viewer's pure rules: time stamps as shown and as named, stepping
// through channels and pages, and snapshot names.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <string>

#include "viewer/pages.h"
#include "viewer/pictures_folder.h"
#include "viewer/placement.h"
#include "viewer/receive_loop.h"
#include "viewer/time_text.h"

namespace zenta::viewer {
namespace {

std::u16string timeText(double stamp) {
  const auto t = formatStamp(stamp).time;
  return std::u16string(t.data(), 14);
}
std::string stampText(double stamp) {
  return formatStamp(stamp).stamp.data();
}

TEST(TimeText, DaysSince1899AsMonthDayAndTime) {
  EXPECT_EQ(timeText(39156.5), u"03/15 12:00:00");
  EXPECT_EQ(stampText(39156.5), "0315120000");
  EXPECT_EQ(timeText(0), u"12/30 00:00:00");
  EXPECT_EQ(timeText(1.75), u"12/31 18:00:00");
  EXPECT_EQ(timeText(60), u"02/28 00:00:00");  // 1900 has no 29 February
  EXPECT_EQ(timeText(61), u"03/01 00:00:00");
  EXPECT_EQ(stampText(39156.75), "0315180000");
  // Outside the calendar's range: month and day 0; no number at all: 0 too.
  EXPECT_EQ(timeText(-693594.0), u"00/00 00:00:00");
  EXPECT_EQ(timeText(std::numeric_limits<double>::quiet_NaN()), u"00/00 00:00:00");
  EXPECT_EQ(timeText(1e300), u"00/00 00:00:00");
  // Before 1899 the time of day runs backwards; the texts keep their length.
  EXPECT_EQ(formatStamp(-0.5).stamp[10], 0);
  EXPECT_EQ(formatStamp(-0.5).time[14], 0);
}

TEST(Pages, OnePictureWrapsAroundTheGrantedChannels) {
  EXPECT_EQ(nextChannel(4, 5), 0);
  EXPECT_EQ(previousChannel(0, 5), 4);
  for (int count = 1; count <= 16; ++count) {
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(previousChannel(nextChannel(i, count), count), i);
      EXPECT_LT(nextChannel(i, count), count);
    }
  }
}

TEST(Pages, FourPicturesStepByWholePages) {
  EXPECT_EQ(nextPage(0, 6), 4);
  EXPECT_EQ(nextPage(4, 6), 0);
  EXPECT_EQ(previousPage(0, 6), 4);
  EXPECT_EQ(nextPage(0, 4), 0);  // one page only
  EXPECT_EQ(previousPage(0, 4), 0);
  for (int count = 5; count <= 16; ++count) {
    // Next visits every page once and comes back; every page starts at a
    // multiple of four below the count; Previous undoes Next.
    std::set<int> seen;
    int page = 0;
    do {
      EXPECT_EQ(page % 4, 0);
      EXPECT_LT(page, count);
      EXPECT_EQ(previousPage(nextPage(page, count), count), page) << count << " " << page;
      seen.insert(page);
      page = nextPage(page, count);
    } while (page != 0 && seen.size() < 8);
    EXPECT_EQ(int(seen.size()), (count + 3) / 4);
  }
}

std::array<char, 21> field(const std::string& text) {
  std::array<char, 21> out{};
  const size_t start = 20 - std::min<size_t>(text.size(), 20);
  for (size_t i = 0; i < 20; ++i)
    out[i] = i < start ? ' ' : text[i - start];
  return out;
}

TEST(Placement, APictureFitsItsPlaceWithItsShapeKept) {
  for (const Place area : {Place{0, 46, 240, 178}, Place{121, 135, 119, 88}, Place{3, 5, 1, 300}}) {
    for (int w = 1; w <= 1500; w += 37) {
      for (int h = 1; h <= 1200; h += 41) {
        const Place fit = fitPicture(area, w, h);
        // Inside the area, touching two opposite sides, centred.
        EXPECT_GE(fit.x, area.x);
        EXPECT_GE(fit.y, area.y);
        EXPECT_LE(fit.x + fit.width, area.x + area.width);
        EXPECT_LE(fit.y + fit.height, area.y + area.height);
        EXPECT_TRUE(fit.width == area.width || fit.height == area.height);
        EXPECT_LE(std::abs((fit.x - area.x) - (area.x + area.width - fit.x - fit.width)), 1);
        EXPECT_LE(std::abs((fit.y - area.y) - (area.y + area.height - fit.y - fit.height)), 1);
        // The shape within half a pixel's rounding (and at least a pixel).
        const double wide = std::clamp(double(fit.height) * w / h, 1.0, double(area.width));
        const double tall = std::clamp(double(fit.width) * h / w, 1.0, double(area.height));
        EXPECT_TRUE(std::abs(fit.width - wide) <= 0.5 + 1e-9 ||
                    std::abs(fit.height - tall) <= 0.5 + 1e-9)
            << w << "x" << h;
        // The bars and the picture cover the area exactly once.
        Place bars[2];
        const int n = barsAround(area, fit, bars);
        long covered = long(fit.width) * fit.height;
        for (int i = 0; i < n; ++i)
          covered += long(bars[i].width) * bars[i].height;
        EXPECT_EQ(covered, long(area.width) * area.height);
      }
    }
  }
}

TEST(SnapshotPath, TitleCameraAndStampInTheWebcamFolder) {
  EXPECT_EQ(snapshotPath(field("Test DVR"), field("Gate"), "0315120000"),
            "WebCAM\\Test DVR-Gate-0315120000.jpg");
  // Characters that cannot stand in a file name are replaced: the name
  // stays one file in the folder.
  EXPECT_EQ(snapshotPath(field("a/b\\c"), field("..:*?\"<>|"), "0315120000"),
            "WebCAM\\a_b_c-.._______-0315120000.jpg");
  EXPECT_EQ(snapshotPath(field(""), field("\x01\x7f"), "0315120000"), "WebCAM\\-__-0315120000.jpg");
  // C1 controls too; the Latin-1 letters around them stay.
  EXPECT_EQ(snapshotPath(field("caf\xe9"), field("\x80\x9b[31m\x9f\xa0"), "0315120000"),
            "WebCAM\\caf\xe9-__[31m_\xa0-0315120000.jpg");
}

TEST(PicturesFolder, FromTheEnvironmentTheUserDirsFileOrHome) {
  const std::string home = ::testing::TempDir() + "pictures-home-" + std::to_string(::getpid());
  std::filesystem::create_directories(home + "/.config");
  ::setenv("HOME", home.c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_PICTURES_DIR");
  EXPECT_EQ(picturesFolder(), home + "/Pictures");
  {
    std::ofstream dirs(home + "/.config/user-dirs.dirs");
    dirs << "# written by xdg-user-dirs-update\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
  }
  EXPECT_EQ(picturesFolder(), home + "/Bilder");
  ::setenv("XDG_PICTURES_DIR", "/srv/shots", 1);
  EXPECT_EQ(picturesFolder(), "/srv/shots");
  ::unsetenv("XDG_PICTURES_DIR");
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace zenta::viewer
