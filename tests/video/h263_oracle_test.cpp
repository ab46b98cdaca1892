// Our decoder against libavcodec's on streams made by ffmpeg's encoders.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "tests/support/reference_h263.h"
#include "video/h263/context.h"
#include "video/h263/decoder.h"
#include "video/h263/stream_split.h"

namespace zenta::video {
namespace {

using zenta::testing::psnr;
using zenta::testing::StreamRecipe;

// Tightly packed luma of a decoded picture.
std::vector<uint8_t> luma(const PlanarFrame& frame, int width, int height) {
  std::vector<uint8_t> plane(size_t(width) * size_t(height));
  for (int y = 0; y < height; ++y) {
    std::copy_n(frame.y + ptrdiff_t(y) * frame.stride, width, plane.begin() + ptrdiff_t(y) * width);
  }
  return plane;
}

double chromaPsnr(const PlanarFrame& frame, const zenta::testing::YuvPicture& ref) {
  const int w = ref.width / 2, h = ref.height / 2;
  std::vector<uint8_t> cb(size_t(w) * size_t(h)), cr(cb.size());
  for (int y = 0; y < h; ++y) {
    std::copy_n(frame.cb + ptrdiff_t(y) * (frame.stride / 2), w, cb.begin() + ptrdiff_t(y) * w);
    std::copy_n(frame.cr + ptrdiff_t(y) * (frame.stride / 2), w, cr.begin() + ptrdiff_t(y) * w);
  }
  return std::min(psnr(cb.data(), ref.cb.data(), cb.size()),
                  psnr(cr.data(), ref.cr.data(), cr.size()));
}

// Stream features a case is there to exercise, checked to be present.
enum Feature : unsigned {
  kNone = 0,
  kGobHeaders = 1,    // GOB headers in front of some GOBs
  kRoundingFlip = 2,  // P pictures alternate the rounding type
  kCustomClock = 4,   // custom picture clock code and extended temporal reference
};

struct OracleCase {
  const char* name;
  StreamRecipe recipe;
  unsigned features = kNone;
};

size_t gobHeaderCount(const std::vector<uint8_t>& coded) {
  size_t count = 0;
  for (size_t i = 0; i + 2 < coded.size(); ++i) {
    const uint8_t third = coded[i + 2];
    if (coded[i] == 0 && coded[i + 1] == 0 && (third & 0x80) && (third & 0x7C)) ++count;
  }
  return count;
}

class Oracle : public ::testing::TestWithParam<OracleCase> {};

TEST_P(Oracle, MatchesLibavcodec) {
  const StreamRecipe& recipe = GetParam().recipe;
  const auto stream = zenta::testing::makeStream(recipe);
  ASSERT_FALSE(stream.coded.empty()) << "ffmpeg could not make the stream";
  const auto pictures = splitPictures(stream.coded);
  ASSERT_EQ(pictures.size(), size_t(recipe.frames));
  ASSERT_EQ(stream.source.size(), pictures.size());

  const unsigned features = GetParam().features;
  if (features & kGobHeaders) {
    EXPECT_GT(gobHeaderCount(stream.coded), pictures.size());
  }
  H263DecoderHandle handle;
  ASSERT_EQ(h263Create(handle), 0);
  zenta::testing::ReferenceH263Decoder reference;
  bool roundedDown = false, customClock = false;
  double minimum = 99, ourSource = 0, theirSource = 0;
  for (size_t i = 0; i < pictures.size(); ++i) {
    PlanarFrame* frame = nullptr;
    const int consumed = h263Decode(handle, &frame, pictures[i].data(), pictures[i].size());
    ASSERT_GT(consumed, 0) << "picture " << i;
    EXPECT_LE(size_t(consumed), pictures[i].size());
    EXPECT_GE(size_t(consumed) + 8, pictures[i].size()) << "picture " << i << " not read through";
    roundedDown |= handle.context->rounding == 1;
    customClock |= handle.context->customClock == 1;
    ASSERT_EQ(handle.width, recipe.width);
    ASSERT_EQ(handle.height, recipe.height);
    const auto theirs = reference.decode(pictures[i]);
    ASSERT_TRUE(theirs) << "picture " << i;
    const auto ours = luma(*frame, recipe.width, recipe.height);
    const double y = psnr(ours.data(), theirs->y.data(), ours.size());
    minimum = std::min({minimum, y, chromaPsnr(*frame, *theirs)});
    ourSource += psnr(ours.data(), stream.source[i].y.data(), ours.size());
    theirSource += psnr(theirs->y.data(), stream.source[i].y.data(), ours.size());
  }
  h263Destroy(handle);
  EXPECT_EQ(roundedDown, (features & kRoundingFlip) != 0);
  EXPECT_EQ(customClock, (features & kCustomClock) != 0);
  ourSource /= double(pictures.size());
  theirSource /= double(pictures.size());
  if (recipe.gop <= 30) {
    EXPECT_GE(minimum, 50.0);
  }
  EXPECT_NEAR(ourSource, theirSource, 0.3);
  RecordProperty("min_psnr_vs_libavcodec", std::to_string(minimum));
  std::printf("%s: min PSNR vs libavcodec %.2f dB; vs source %.2f dB (libavcodec %.2f dB)\n",
              GetParam().name, minimum, ourSource, theirSource);
}

StreamRecipe recipe(const char* codec, int w, int h, const char* bitrate, int gop,
                    const char* extra = "", const char* rate = "30000/1001", int frames = 40,
                    const char* filters = "") {
  return StreamRecipe{codec, w, h, rate, frames, gop, bitrate, extra, filters};
}

const OracleCase kCases[] = {
    {"sqcif_low", recipe("h263", 128, 96, "24k", 12)},
    {"sqcif_intra_only", recipe("h263", 128, 96, "400k", 1)},
    {"qcif_low", recipe("h263", 176, 144, "32k", 30)},
    {"qcif_high", recipe("h263", 176, 144, "800k", 12)},
    {"cif_low", recipe("h263", 352, 288, "64k", 30)},
    {"cif_high", recipe("h263", 352, 288, "2500k", 15)},
    {"cif_long_gop", recipe("h263", 352, 288, "400k", 300, "", "30000/1001", 120)},
    {"cif_gob_headers", recipe("h263", 352, 288, "600k", 15, "-ps 400"), kGobHeaders},
    {"4cif", recipe("h263", 704, 576, "1500k", 12, "", "30000/1001", 16)},
    {"4cif_gob_headers", recipe("h263", 704, 576, "1500k", 12, "-ps 900", "30000/1001", 16),
     kGobHeaders},
    {"p320x240", recipe("h263p", 320, 240, "300k", 30), kRoundingFlip},
    {"p320x240_high", recipe("h263p", 320, 240, "3000k", 10), kRoundingFlip},
    {"p352x240_25fps", recipe("h263p", 352, 240, "200k", 30, "", "25"),
     kRoundingFlip | kCustomClock},
    {"p368x288", recipe("h263p", 368, 288, "500k", 30), kRoundingFlip},
    {"p368x288_long_gop", recipe("h263p", 368, 288, "300k", 300, "", "30000/1001", 120),
     kRoundingFlip},
    {"p176x144_15fps", recipe("h263p", 176, 144, "48k", 20, "", "15"),
     kRoundingFlip | kCustomClock},
    {"p320x240_gob_headers", recipe("h263p", 320, 240, "600k", 30, "-ps 500"),
     kRoundingFlip | kGobHeaders},
    {"p320x240_extended_aspect",
     recipe("h263p", 320, 240, "300k", 30, "", "30000/1001", 30, ",setsar=7/5"), kRoundingFlip},
};

INSTANTIATE_TEST_SUITE_P(Streams, Oracle, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace zenta::video
