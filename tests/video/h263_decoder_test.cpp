// Hand-made bitstreams for the decoder's edge cases.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "tests/support/reference_h263.h"
#include "video/h263/context.h"
#include "video/h263/decoder.h"
#include "video/h263/stream_split.h"

namespace zenta::video {
namespace {

class BitWriter {
 public:
  BitWriter& put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (used_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (used_ % 8));
      ++used_;
    }
    return *this;
  }
  BitWriter& ones(int count) {
    for (int i = 0; i < count; ++i)
      put(1, 1);
    return *this;
  }
  size_t bits() const { return used_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t used_ = 0;
};

// Picture start code, temporal reference and the first PTYPE bits.
BitWriter& start(BitWriter& w) {
  return w.put(0x20, 22).put(0, 8).put(0b10, 2).put(0, 3);
}

// Baseline header: source format 1 to 5, I (0) or P (1) picture.
BitWriter baseline(int format, int type, int qp = 8, int options = 0) {
  BitWriter w;
  start(w).put(uint32_t(format), 3).put(uint32_t(type), 1).put(uint32_t(options), 4);
  w.put(uint32_t(qp), 5).put(0, 1).put(0, 1);  // PQUANT, CPM, PEI
  return w;
}

// Extended header; with ufep 1 and format 6 a custom size.
BitWriter extended(int ufep, int format, int type, int pwi = 0, int phi = 0, int options = 0,
                   int rounding = 0) {
  BitWriter w;
  start(w).put(7, 3).put(uint32_t(ufep), 3);
  if (ufep == 1) w.put(uint32_t(format), 3).put(0, 1).put(uint32_t(options), 10).put(0b1000, 4);
  w.put(uint32_t(type), 3).put(0, 2).put(uint32_t(rounding), 1).put(0b001, 3).put(0, 1);
  if (ufep == 1 && format == 6) w.put(2, 4).put(uint32_t(pwi), 9).put(1, 1).put(uint32_t(phi), 9);
  w.put(8, 5).put(0, 1);  // PQUANT, PEI
  return w;
}

// An intra macroblock without coefficients: every block is flat at `dc`.
void flatIntra(BitWriter& w, const uint8_t dc[6]) {
  w.put(1, 1).put(0b0011, 4);  // MCBPC INTRA CBPC 0, CBPY 0
  for (int b = 0; b < 6; ++b)
    w.put(dc[b], 8);
}

// An I picture whose blocks are flat, at values that tell the blocks apart.
uint8_t blockValue(int mb, int block) {
  return static_cast<uint8_t>(20 + (mb * 6 + block) % 200);
}

BitWriter flatIPicture(BitWriter w, int macroblocks) {
  for (int mb = 0; mb < macroblocks; ++mb) {
    uint8_t dc[6];
    for (int b = 0; b < 6; ++b)
      dc[b] = blockValue(mb, b);
    flatIntra(w, dc);
  }
  return w;
}

class Decoder : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(h263Create(handle), 0); }
  void TearDown() override { h263Destroy(handle); }
  int decode(const BitWriter& w) {
    return h263Decode(handle, &frame, w.bytes().data(), w.bytes().size());
  }
  H263Decoder& context() { return *handle.context; }
  H263DecoderHandle handle;
  PlanarFrame* frame = nullptr;
};

TEST_F(Decoder, RejectedHeadersProduceNoPicture) {
  ASSERT_GT(decode(flatIPicture(baseline(2, 0), 99)), 0);
  PlanarFrame* const good = frame;
  const uint8_t firstPixel = frame->y[0];

  BitWriter noStart;
  noStart.put(0, 8);
  const BitWriter header = baseline(2, 0);
  for (const uint8_t b : header.bytes())
    noStart.put(b, 8);
  const BitWriter rejected[] = {
      noStart,
      baseline(0, 0),                         // forbidden source format
      baseline(2, 1, 8, 0b1000),              // unrestricted vectors
      baseline(2, 1, 8, 0b0100),              // arithmetic coding
      baseline(2, 1, 8, 0b0010),              // advanced prediction
      baseline(2, 1, 8, 0b0001),              // PB-frames
      baseline(2, 0, 0),                      // quantiser 0
      extended(2, 2, 0),                      // UFEP 2
      extended(1, 0, 0),                      // forbidden format
      extended(1, 6, 0, 0, 0),                // height 0
      extended(1, 2, 2),                      // not an I or P picture
      extended(1, 2, 0, 0, 0, 0b0010000000),  // advanced prediction
      extended(1, 2, 0, 0, 0, 0b0000100000),  // slice structure
      extended(1, 2, 0, 0, 0, 0b0000000010),  // alternative inter VLC
      extended(1, 2, 0, 0, 0, 0b0001000000),  // advanced intra coding
  };
  for (size_t i = 0; i < std::size(rejected); ++i) {
    PlanarFrame* out = good;
    EXPECT_EQ(h263Decode(handle, &out, rejected[i].bytes().data(), rejected[i].bytes().size()), -1)
        << i;
    EXPECT_EQ(out, good) << i;
  }
  // The picture handed out last is untouched, and a P picture after the
  // rejected ones is still predicted from it.
  EXPECT_EQ(good->y[0], firstPixel);
  BitWriter skipped = baseline(2, 1);
  ASSERT_GT(decode(skipped.ones(99)), 0);
  EXPECT_EQ(frame->y[0], firstPixel);
  EXPECT_EQ(h263Decode(handle, &frame, nullptr, 0), -1);
}

TEST_F(Decoder, QcifIntraPictureAndBlockPlaces) {
  const BitWriter w = flatIPicture(baseline(2, 0), 99);
  ASSERT_EQ(decode(w), int((w.bits() + 7) / 8));
  EXPECT_EQ(handle.width, 176);
  EXPECT_EQ(handle.height, 144);
  EXPECT_EQ(frame->stride, 176);
  EXPECT_EQ(frame->cb, frame->y + 176 * 144);
  EXPECT_EQ(frame->cr, frame->cb + 88 * 72);
  for (int mb = 0; mb < 99; ++mb) {
    const int mx = mb % 11, my = mb / 11;
    for (int b = 0; b < 4; ++b) {
      const int x = 16 * mx + 8 * (b & 1) + 3, y = 16 * my + 8 * (b >> 1) + 5;
      ASSERT_EQ(frame->y[y * 176 + x], blockValue(mb, b)) << mb << " " << b;
    }
    ASSERT_EQ(frame->cb[(8 * my + 7) * 88 + 8 * mx], blockValue(mb, 4));
    ASSERT_EQ(frame->cr[(8 * my) * 88 + 8 * mx + 7], blockValue(mb, 5));
  }
}

TEST_F(Decoder, IntraDc255IsMidGreyAndByteCountRoundsUp) {
  const uint8_t dc[6] = {255, 255, 255, 255, 255, 255};
  BitWriter w = baseline(1, 0);
  for (int mb = 0; mb < 48; ++mb)
    flatIntra(w, dc);
  ASSERT_NE(w.bits() % 8, 0u);
  BitWriter padded = w;
  padded.put(0, 32);  // trailing bytes that are not read
  ASSERT_EQ(decode(padded), int((w.bits() + 7) / 8));
  for (int i = 0; i < 128 * 96; ++i)
    ASSERT_EQ(frame->y[i], 128);
}

TEST_F(Decoder, CustomSizeAndKeptSize) {
  BitWriter w = extended(1, 6, 0, 91, 72);
  ASSERT_GT(decode(flatIPicture(w, 23 * 18)), 0);
  EXPECT_EQ(handle.width, 368);
  EXPECT_EQ(handle.height, 288);
  std::vector<uint8_t> intra(frame->y, frame->y + 368 * 288 * 3 / 2);
  BitWriter p = extended(0, 0, 1);
  ASSERT_GT(decode(p.ones(23 * 18)), 0);
  EXPECT_EQ(handle.width, 368);
  EXPECT_EQ(handle.height, 288);
  EXPECT_EQ(std::vector<uint8_t>(frame->y, frame->y + intra.size()), intra);
  for (int i = 0; i < 23 * 18; ++i) {
    EXPECT_EQ(context().motionVectors[i].x, 0);
    EXPECT_EQ(context().motionVectors[i].y, 0);
  }
}

TEST_F(Decoder, ARejectedHeaderChangesNothingForThePicturesAfterIt) {
  BitWriter w = extended(1, 6, 0, 91, 72);
  ASSERT_GT(decode(flatIPicture(w, 23 * 18)), 0);
  std::vector<uint8_t> intra(frame->y, frame->y + 368 * 288 * 3 / 2);
  // A custom size of 176 x 144 with a custom clock, rejected only at its
  // quantiser of 0, after the size and clock fields were read.
  BitWriter bad;
  start(bad).put(7, 3).put(1, 3).put(6, 3).put(1, 1).put(0, 10).put(0b1000, 4);
  bad.put(0, 3).put(0, 2).put(0, 1).put(0b001, 3).put(0, 1);
  bad.put(2, 4).put(43, 9).put(1, 1).put(36, 9).put(0, 8).put(0, 2);
  bad.put(0, 5).put(0, 1);
  EXPECT_EQ(decode(bad), -1);
  // The P picture that follows still decodes at 368 x 288 without a clock.
  BitWriter p = extended(0, 0, 1);
  ASSERT_GT(decode(p.ones(23 * 18)), 0);
  EXPECT_EQ(handle.width, 368);
  EXPECT_EQ(handle.height, 288);
  EXPECT_EQ(context().customClock, 0);
  EXPECT_EQ(std::vector<uint8_t>(frame->y, frame->y + intra.size()), intra);
}

TEST_F(Decoder, SizeChangeReallocatesOnce) {
  ASSERT_GT(decode(flatIPicture(baseline(3, 0), 396)), 0);
  EXPECT_EQ(handle.width, 352);
  ASSERT_GT(decode(flatIPicture(baseline(2, 0), 99)), 0);
  EXPECT_EQ(handle.width, 176);
  EXPECT_EQ(handle.height, 144);
  const PlanarFrame* records = context().frameRecords;
  const uint8_t* planes[2] = {records[0].y, records[1].y};
  for (int i = 0; i < 4; ++i) {
    BitWriter p = baseline(2, 1);
    ASSERT_GT(decode(p.ones(99)), 0);
    EXPECT_EQ(context().frameRecords, records);
    EXPECT_EQ(records[0].y, planes[0]);
    EXPECT_EQ(records[1].y, planes[1]);
  }
}

TEST(DecoderLife, DestroyWithoutPictureAndWithoutContext) {
  H263DecoderHandle handle;
  ASSERT_EQ(h263Create(handle), 0);
  EXPECT_EQ(handle.width, 0);
  h263Destroy(handle);
  H263DecoderHandle empty;
  h263Destroy(empty);
  PlanarFrame* frame = nullptr;
  const uint8_t byte = 0;
  EXPECT_EQ(h263Decode(empty, &frame, &byte, 1), -1);
}

TEST_F(Decoder, QuantiserChangesAreClamped) {
  const auto withDquant = [](int qp, int code) {
    BitWriter w = baseline(1, 0, qp);
    w.put(0b0001, 4).put(0b0011, 4).put(uint32_t(code), 2);  // INTRA+Q, CBPY 0, DQUANT
    for (int b = 0; b < 6; ++b)
      w.put(128, 8);
    const uint8_t dc[6] = {128, 128, 128, 128, 128, 128};
    for (int mb = 1; mb < 48; ++mb)
      flatIntra(w, dc);
    return w;
  };
  ASSERT_GT(decode(withDquant(2, 0b01)), 0);  // -2
  EXPECT_EQ(context().qp, 1);
  ASSERT_GT(decode(withDquant(30, 0b11)), 0);  // +2
  EXPECT_EQ(context().qp, 31);
  ASSERT_GT(decode(withDquant(10, 0b00)), 0);  // -1
  EXPECT_EQ(context().qp, 9);
}

TEST_F(Decoder, EscapeWithRun63FillsTheLastPosition) {
  ASSERT_GT(decode(flatIPicture(baseline(1, 0), 48)), 0);
  BitWriter w = baseline(1, 1, 4);
  w.put(0, 1).put(1, 1).put(0b1011, 4);                 // coded, INTER CBPC 0, CBPY(inter) 1000
  w.put(1, 1).put(1, 1);                                // vector differences 0, 0
  w.put(0b0000011, 7).put(1, 1).put(63, 6).put(10, 8);  // ESCAPE, LAST, RUN 63, LEVEL 10
  w.ones(47);
  ASSERT_GT(decode(w), 0);
  EXPECT_EQ(context().blocks[0][63], 10);
  for (int i = 0; i < 63; ++i)
    EXPECT_EQ(context().blocks[0][i], 0);

  // A run beyond the block writes nothing and ends the picture; the rest is
  // taken over from the reference.
  BitWriter beyond = baseline(1, 1, 4);
  beyond.put(0, 1).put(1, 1).put(0b1011, 4).put(1, 1).put(1, 1);
  beyond.put(0b0000011, 7).put(0, 1).put(40, 6).put(3, 8);  // position 40
  beyond.put(0b0000011, 7).put(1, 1).put(30, 6).put(3, 8);  // position 71
  beyond.ones(47);
  ASSERT_GT(decode(beyond), 0);
  EXPECT_EQ(context().blocks[0][0], 0);
}

// Vector difference codes in half samples, with their sign bit.
void mvd(BitWriter& w, int value) {
  if (value == 0) {
    w.put(1, 1);
    return;
  }
  struct Code {
    uint32_t bits;
    int length;
  };
  static const Code kCodes[33] = {
      {1, 1},   {1, 2},  {1, 3},   {1, 4},   {3, 6},   {5, 7},   {4, 7},   {3, 7},   {11, 9},
      {10, 9},  {9, 9},  {17, 10}, {16, 10}, {15, 10}, {14, 10}, {13, 10}, {12, 10}, {11, 10},
      {10, 10}, {9, 10}, {8, 10},  {7, 10},  {6, 10},  {5, 10},  {4, 10},  {7, 11},  {6, 11},
      {5, 11},  {4, 11}, {3, 11},  {2, 11},  {3, 12},  {2, 12}};
  const Code c = kCodes[std::abs(value)];
  w.put(c.bits, c.length).put(value < 0 ? 1 : 0, 1);
}

// An INTER macroblock without coefficients and with vector difference (dx, 0).
void interMb(BitWriter& w, int dx) {
  w.put(0, 1).put(1, 1).put(0b11, 2);  // coded, INTER CBPC 0, CBPY(inter) 0
  mvd(w, dx);
  mvd(w, 0);
}

TEST_F(Decoder, VectorPredictionAndWrap) {
  ASSERT_GT(decode(flatIPicture(baseline(1, 0), 48)), 0);  // sub-QCIF: 8 x 6
  BitWriter w = baseline(1, 1);
  interMb(w, 10);  // (0,0): top row, first column: prediction 0 -> 10
  interMb(w, 10);  // (1,0): prediction left 10 -> 20
  interMb(w, 32);  // (2,0): 20 + 32 = 52, wrapped to -12
  w.ones(3);       // (3..5,0) not coded
  interMb(w, 6);   // (6,0): prediction 0 -> 6
  interMb(w, 2);   // (7,0): prediction 6 -> 8
  interMb(w, 0);   // (0,1): median(0, above 10, above-right 20) = 10
  w.ones(5);       // (1..5,1)
  interMb(w, 0);   // (6,1): median(left 0, above 6, above-right 8) = 6
  interMb(w, 0);   // (7,1): last column: median(left 6, above 8, 0) = 6
  w.ones(32);
  ASSERT_GT(decode(w), 0);
  const MotionVector* v = context().motionVectors;
  EXPECT_EQ(v[0].x, 10);
  EXPECT_EQ(v[1].x, 20);
  EXPECT_EQ(v[2].x, -12);
  EXPECT_EQ(v[6].x, 6);
  EXPECT_EQ(v[7].x, 8);
  EXPECT_EQ(v[8].x, 10);
  EXPECT_EQ(v[14].x, 6);
  EXPECT_EQ(v[15].x, 6);
  for (int i = 0; i < 48; ++i)
    EXPECT_EQ(v[i].y, 0);
}

TEST_F(Decoder, VectorsOutsideThePictureReadClampedSamples) {
  ASSERT_GT(decode(flatIPicture(baseline(1, 0), 48)), 0);
  const std::vector<uint8_t> reference(frame->y, frame->y + 128 * 96);
  BitWriter w = baseline(1, 1);
  w.put(0, 1).put(1, 1).put(0b11, 2);
  mvd(w, -31);  // 15.5 samples to the left ...
  mvd(w, -31);  // ... and up: only the corner sample is inside
  w.ones(47);
  ASSERT_GT(decode(w), 0);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x)
      ASSERT_EQ(frame->y[y * 128 + x], reference[0]) << x << "," << y;
  }
}

TEST(DecoderRobustness, DamagedRealPicturesStayInBounds) {
  zenta::testing::StreamRecipe recipe;
  recipe.codec = "h263p";
  recipe.width = 368;
  recipe.height = 288;
  recipe.frames = 6;
  const auto stream = zenta::testing::makeStream(recipe);
  ASSERT_FALSE(stream.coded.empty());
  const auto pictures = splitPictures(stream.coded);
  ASSERT_EQ(pictures.size(), 6u);
  std::mt19937 random(7);
  H263DecoderHandle handle;
  ASSERT_EQ(h263Create(handle), 0);
  PlanarFrame* frame = nullptr;
  for (const auto& picture : pictures) {
    std::vector<uint8_t> bytes(picture.begin(), picture.end());
    // Every prefix length of the picture, on a heap block of exactly that size.
    for (size_t cut = 0; cut <= bytes.size(); cut += 1 + cut / 16) {
      std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + ptrdiff_t(cut));
      const int consumed = h263Decode(handle, &frame, prefix.data(), prefix.size());
      EXPECT_LE(consumed, int(cut));
    }
    // Bit flips after the header.
    for (int trial = 0; trial < 30; ++trial) {
      std::vector<uint8_t> damaged = bytes;
      for (int flip = 0; flip < 4; ++flip) {
        damaged[8 + random() % (damaged.size() - 8)] ^= uint8_t(1u << (random() % 8));
      }
      h263Decode(handle, &frame, damaged.data(), damaged.size());
    }
    ASSERT_GT(h263Decode(handle, &frame, picture.data(), picture.size()), 0);
  }
  h263Destroy(handle);
}

// A reset decoder keeps its buffers and decodes exactly as a fresh one:
// a stream entered at a P picture is predicted from mid grey, not from what
// the decoder held before, and a new size still reallocates.
TEST(DecoderLife, AResetDecoderDecodesAsAFreshOne) {
  zenta::testing::StreamRecipe recipe;
  recipe.codec = "h263p";
  recipe.width = 368;
  recipe.height = 288;
  recipe.frames = 4;
  const auto stream = zenta::testing::makeStream(recipe);
  const auto pictures = splitPictures(stream.coded);
  ASSERT_EQ(pictures.size(), 4u);
  H263DecoderHandle reused, fresh;
  ASSERT_EQ(h263Create(reused), 0);
  PlanarFrame* frame = nullptr;
  for (const auto& picture : pictures)
    ASSERT_GT(h263Decode(reused, &frame, picture.data(), picture.size()), 0);
  const PlanarFrame* records = reused.context->frameRecords;
  ASSERT_EQ(h263Reset(reused), 0);
  EXPECT_EQ(reused.context->frameRecords, records);
  ASSERT_EQ(h263Create(fresh), 0);
  for (size_t i = 1; i < pictures.size(); ++i) {
    PlanarFrame *a = nullptr, *b = nullptr;
    ASSERT_GT(h263Decode(reused, &a, pictures[i].data(), pictures[i].size()), 0);
    ASSERT_GT(h263Decode(fresh, &b, pictures[i].data(), pictures[i].size()), 0);
    const size_t bytes = size_t(a->stride) * size_t(reused.height) * 3 / 2;
    ASSERT_EQ(std::memcmp(a->y, b->y, bytes), 0) << "picture " << i;
  }
  EXPECT_EQ(reused.context->frameRecords, records);
  // A picture of another size after a reset gets buffers of its size.
  ASSERT_EQ(h263Reset(reused), 0);
  BitWriter qcif = baseline(2, 1);
  ASSERT_GT(h263Decode(reused, &frame, qcif.ones(99).bytes().data(), qcif.bytes().size()), 0);
  EXPECT_EQ(reused.width, 176);
  h263Destroy(reused);
  h263Destroy(fresh);
  H263DecoderHandle empty;
  EXPECT_EQ(h263Reset(empty), -1);
}

// A picture larger than the context's limit is refused as a bad header is:
// the size, the buffers and the picture handed out last stay as they were,
// and the limit outlives a reset.
TEST(DecoderLife, APictureAboveTheLimitLeavesEverythingAsItWas) {
  H263DecoderHandle handle;
  ASSERT_EQ(h263Create(handle), 0);
  ASSERT_EQ(h263SetMaxPixels(handle, 176 * 144), 0);
  EXPECT_EQ(h263SetMaxPixels(handle, -1), -1);
  BitWriter qcif = baseline(2, 1);
  BitWriter cif = baseline(3, 1);
  const auto qcifBytes = qcif.ones(99).bytes();
  const auto cifBytes = cif.ones(396).bytes();
  PlanarFrame* frame = nullptr;
  ASSERT_GT(h263Decode(handle, &frame, qcifBytes.data(), qcifBytes.size()), 0);
  PlanarFrame* const shown = frame;
  const PlanarFrame* const records = handle.context->frameRecords;
  EXPECT_EQ(h263Decode(handle, &frame, cifBytes.data(), cifBytes.size()), -1);
  EXPECT_EQ(frame, shown);
  EXPECT_EQ(handle.context->width, 176);
  ASSERT_EQ(h263Reset(handle), 0);
  EXPECT_EQ(h263Decode(handle, &frame, cifBytes.data(), cifBytes.size()), -1);
  EXPECT_EQ(frame, shown);
  EXPECT_EQ(handle.width, 176);
  EXPECT_EQ(handle.context->frameRecords, records);
  // Without a limit the same picture is taken.
  ASSERT_EQ(h263SetMaxPixels(handle, 0), 0);
  EXPECT_GT(h263Decode(handle, &frame, cifBytes.data(), cifBytes.size()), 0);
  EXPECT_EQ(handle.width, 352);
  h263Destroy(handle);
  H263DecoderHandle empty;
  EXPECT_EQ(h263SetMaxPixels(empty, 0), -1);
}

}  // namespace
}  // namespace zenta::video
