// Every kernel table entry of every instruction-set level this CPU has,
// held to the portable entry: the same output bytes for random inputs,
// extreme ones (saturating values, every clamp edge), several strides and
// misaligned pointers, and nothing written outside the destination (guard
// bytes around it). Each kernel gets its own inputs; a failure names the
// kernel, the level and the parameters.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "video/colour/canvas.h"
#include "video/cpu.h"
#include "video/h263/kernels.h"

namespace zenta::video {
namespace {

constexpr uint8_t kGuard = 0xA5;
constexpr size_t kGuardBytes = 64;

// A destination with guard bytes on both sides.
class Guarded {
 public:
  explicit Guarded(size_t bytes) : storage_(bytes + 2 * kGuardBytes, kGuard), bytes_(bytes) {}
  uint8_t* data() { return storage_.data() + kGuardBytes; }
  size_t size() const { return bytes_; }
  bool guardsIntact() const {
    for (size_t i = 0; i < kGuardBytes; ++i) {
      if (storage_[i] != kGuard || storage_[storage_.size() - 1 - i] != kGuard) return false;
    }
    return true;
  }
  bool operator==(const Guarded& other) const { return storage_ == other.storage_; }
  void copyFrom(const Guarded& other) { storage_ = other.storage_; }

 private:
  std::vector<uint8_t> storage_;
  size_t bytes_;
};

// The levels this CPU has, each as the flags up to it.
struct Level {
  std::string name;
  unsigned flags;
};
std::vector<Level> levels() {
  std::vector<Level> out;
  for (const CpuLevel& level : kCpuLevels) {
    if ((cpuFlags() & level.flag) != 0)
      out.push_back({std::string(level.name), cpuFlagsUpTo(level.flag)});
  }
  return out;
}

std::mt19937& random() {
  static std::mt19937 generator(20261208);
  return generator;
}

void fillBytes(uint8_t* p, size_t n, int pattern) {
  for (size_t i = 0; i < n; ++i) {
    switch (pattern) {
      case 0:
        p[i] = uint8_t(random()());
        break;
      case 1:
        p[i] = 0;
        break;
      case 2:
        p[i] = 255;
        break;
      default:
        p[i] = (i & 1) != 0 ? 255 : 0;
        break;
    }
  }
}

// Coefficients: random over the whole 16-bit range, near the clamp edges,
// within the range real streams give, or sparse.
void fillCoefficients(int16_t* c, int pattern) {
  static constexpr int16_t kEdges[] = {-32768, 32767, -32767, 0,     1,   -1,   255,  256,
                                       -256,   -257,  2047,   -2048, 127, -127, 7905, -7967};
  for (int i = 0; i < 64; ++i) {
    switch (pattern) {
      case 0:
        c[i] = int16_t(random()());
        break;
      case 1:
        c[i] = kEdges[random()() % std::size(kEdges)];
        break;
      case 2:
        c[i] = int16_t(int(random()() % 4096) - 2048);
        break;
      default:
        c[i] = random()() % 8 == 0 ? int16_t(int(random()() % 511) - 255) : 0;
        break;
    }
  }
}
constexpr int kCoefficientPatterns = 4;

template <typename Table, typename Entry>
void forEachLevel(
    const char* kernel, Entry Table::*entry, const Table& portable, void (*init)(Table&, unsigned),
    const std::function<void(Entry fast, Entry reference, const std::string& where)>& check) {
  Entry below = portable.*entry;
  for (const Level& level : levels()) {
    Table table;
    init(table, level.flags);
    // An entry the level only inherits was checked where it came from.
    if (table.*entry == below) continue;
    below = table.*entry;
    check(table.*entry, portable.*entry, std::string(kernel) + " at " + level.name);
  }
}

const ReconKernels& portableRecon() {
  return portableKernels();
}

// The three half-sample predictions; copyBlock is checked as one that
// ignores the rounding.
using PixelKernel = void (*)(uint8_t*, const uint8_t*, ptrdiff_t, ptrdiff_t, int);
using Prediction = std::function<void(uint8_t*, const uint8_t*, ptrdiff_t, ptrdiff_t, int)>;

void checkPixelKernel(const char* name, const Prediction& fast, const Prediction& reference,
                      const std::string& where) {
  for (const ptrdiff_t dstStride : {8, 13, 16, 40}) {
    for (const ptrdiff_t srcStride : {9, 16, 23, 64}) {
      for (int pattern = 0; pattern < 4; ++pattern) {
        for (int offset = 0; offset < 3; ++offset) {
          std::vector<uint8_t> src(size_t(srcStride) * 9 + 16 + 3);
          fillBytes(src.data(), src.size(), pattern);
          Guarded a(size_t(dstStride) * 7 + 8), b(a.size());
          fillBytes(a.data(), a.size(), 0);
          b.copyFrom(a);
          const int rounding = int(random()() & 1);
          fast(a.data(), src.data() + offset, dstStride, srcStride, rounding);
          reference(b.data(), src.data() + offset, dstStride, srcStride, rounding);
          ASSERT_TRUE(a.guardsIntact())
              << where << ": wrote outside the block, strides " << dstStride << "/" << srcStride;
          ASSERT_TRUE(a == b) << where << " differs: " << name << " strides " << dstStride << "/"
                              << srcStride << ", pattern " << pattern << ", rounding " << rounding
                              << ", offset " << offset;
        }
      }
    }
  }
}

TEST(KernelCheck, PixelPredictions) {
  const ReconKernels& p = portableRecon();
  using Copy = decltype(ReconKernels::copyBlock);
  forEachLevel<ReconKernels, Copy>("copyBlock", &ReconKernels::copyBlock, p, initReconKernels,
                                   [](Copy fast, Copy reference, const std::string& where) {
                                     const auto ignoringRounding = [](Copy copy) {
                                       return [copy](uint8_t* d, const uint8_t* s, ptrdiff_t ds,
                                                     ptrdiff_t ss, int) { copy(d, s, ds, ss); };
                                     };
                                     checkPixelKernel("copyBlock", ignoringRounding(fast),
                                                      ignoringRounding(reference), where);
                                   });
  for (const auto& [name, entry] : {std::pair{"interpolateH", &ReconKernels::interpolateH},
                                    std::pair{"interpolateV", &ReconKernels::interpolateV},
                                    std::pair{"interpolateHV", &ReconKernels::interpolateHV}}) {
    forEachLevel<ReconKernels, PixelKernel>(
        name, entry, p, initReconKernels,
        [name = name](PixelKernel fast, PixelKernel reference, const std::string& where) {
          checkPixelKernel(name, fast, reference, where);
        });
  }
}

TEST(KernelCheck, ClippedStores) {
  using Store = void (*)(uint8_t*, const int16_t*, ptrdiff_t);
  for (const auto& [name, entry] : {std::pair{"storeClipped", &ReconKernels::storeClipped},
                                    std::pair{"addClipped", &ReconKernels::addClipped}}) {
    forEachLevel<ReconKernels, Store>(
        name, entry, portableRecon(), initReconKernels,
        [](Store fast, Store reference, const std::string& where) {
          for (const ptrdiff_t stride : {8, 11, 16, 352}) {
            for (int pattern = 0; pattern < kCoefficientPatterns * 4; ++pattern) {
              alignas(16) int16_t block[64];
              fillCoefficients(block, pattern % kCoefficientPatterns);
              Guarded a(size_t(stride) * 7 + 8), b(a.size());
              fillBytes(a.data(), a.size(), pattern / kCoefficientPatterns);
              b.copyFrom(a);
              fast(a.data(), block, stride);
              reference(b.data(), block, stride);
              ASSERT_TRUE(a.guardsIntact()) << where << ": wrote outside, stride " << stride;
              ASSERT_TRUE(a == b) << where << " differs: stride " << stride << ", pattern "
                                  << pattern;
            }
          }
        });
  }
}

TEST(KernelCheck, Dequantisers) {
  using Dequant = void (*)(int16_t*, const int16_t*, int);
  for (const auto& [name, entry] : {std::pair{"dequantIntra", &ReconKernels::dequantIntra},
                                    std::pair{"dequantInter", &ReconKernels::dequantInter}}) {
    forEachLevel<ReconKernels, Dequant>(
        name, entry, portableRecon(), initReconKernels,
        [](Dequant fast, Dequant reference, const std::string& where) {
          for (int qp = 1; qp <= 31; ++qp) {
            for (int pattern = 0; pattern < kCoefficientPatterns; ++pattern) {
              alignas(16) int16_t levels[64];
              fillCoefficients(levels, pattern);
              Guarded a(128), b(128);
              fast(reinterpret_cast<int16_t*>(a.data()), levels, qp);
              reference(reinterpret_cast<int16_t*>(b.data()), levels, qp);
              ASSERT_TRUE(a.guardsIntact()) << where << ": wrote outside the block";
              ASSERT_TRUE(a == b) << where << " differs: qp " << qp << ", pattern " << pattern;
            }
          }
        });
  }
}

TEST(KernelCheck, InverseTransform) {
  using Idct = void (*)(int16_t*);
  forEachLevel<ReconKernels, Idct>(
      "idct8x8", &ReconKernels::idct8x8, portableRecon(), initReconKernels,
      [](Idct fast, Idct reference, const std::string& where) {
        const auto compare = [&](const int16_t* input, const std::string& what) {
          Guarded a(128), b(128);
          std::memcpy(a.data(), input, 128);
          std::memcpy(b.data(), input, 128);
          fast(reinterpret_cast<int16_t*>(a.data()));
          reference(reinterpret_cast<int16_t*>(b.data()));
          EXPECT_TRUE(a.guardsIntact()) << where << ": wrote outside the block";
          return a == b ? ::testing::AssertionSuccess()
                        : ::testing::AssertionFailure() << where << " differs: " << what;
        };
        for (int trial = 0; trial < 20000; ++trial) {
          alignas(16) int16_t block[64];
          fillCoefficients(block, trial % kCoefficientPatterns);
          ASSERT_TRUE(compare(block, "pattern " + std::to_string(trial % kCoefficientPatterns) +
                                         ", trial " + std::to_string(trial)));
        }
        // One value alone at each position, at the ends of the range.
        for (int position = 0; position < 64; ++position) {
          for (const int16_t value : {int16_t(-32768), int16_t(32767), int16_t(2047),
                                      int16_t(-2048), int16_t(1), int16_t(-1)}) {
            alignas(16) int16_t block[64] = {};
            block[position] = value;
            ASSERT_TRUE(compare(
                block, "value " + std::to_string(value) + " at " + std::to_string(position)));
          }
        }
      });
}

TEST(KernelCheck, ClearBlocks) {
  using Clear = void (*)(void*, size_t);
  forEachLevel<ReconKernels, Clear>(
      "clearBlocks", &ReconKernels::clearBlocks, portableRecon(), initReconKernels,
      [](Clear fast, Clear, const std::string& where) {
        for (const size_t bytes : {size_t(128), size_t(768)}) {
          Guarded a(bytes);
          fillBytes(a.data(), bytes, 2);
          fast(a.data(), bytes);
          ASSERT_TRUE(a.guardsIntact()) << where << ": wrote outside, " << bytes << " bytes";
          for (size_t i = 0; i < bytes; ++i)
            ASSERT_EQ(a.data()[i], 0) << where << ", " << bytes << " bytes";
        }
      });
}

// The mask only ever takes levels away, and a level brings those below it.
TEST(KernelCheck, CpuMaskLowersTheLevels) {
  const unsigned all = cpuFlags();
  for (const CpuLevel& level : kCpuLevels) {
    EXPECT_EQ(cpuFlagsUpTo(level.flag) & level.flag, unsigned(level.flag)) << level.name;
    EXPECT_EQ(cpuFlagsUpTo(level.flag) & ~((unsigned(level.flag) << 1) - 1), 0u) << level.name;
    setCpuFlagsMask(cpuFlagsUpTo(level.flag));
    EXPECT_EQ(cpuFlags() & ~cpuFlagsUpTo(level.flag), 0u) << level.name;
    EXPECT_EQ(cpuFlags(), all & cpuFlagsUpTo(level.flag)) << level.name;
  }
  setCpuFlagsMask(0);
  EXPECT_EQ(cpuFlags(), 0u);
  setCpuFlagsMask(~0u);
  EXPECT_EQ(cpuFlags(), all);
}

using RowPair = void (*)(uint8_t*, uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*,
                         const uint8_t*, int);

void compareRowPair(RowPair fast, RowPair reference, const std::string& where, int pixels,
                    const uint8_t* yTop, const uint8_t* yBottom, const uint8_t* cb,
                    const uint8_t* cr, const std::string& what) {
  const size_t bytes = size_t(3 * pixels);
  Guarded topA(bytes), bottomA(bytes), topB(bytes), bottomB(bytes);
  fast(topA.data(), bottomA.data(), yTop, yBottom, cb, cr, pixels);
  reference(topB.data(), bottomB.data(), yTop, yBottom, cb, cr, pixels);
  ASSERT_TRUE(topA.guardsIntact() && bottomA.guardsIntact())
      << where << ": wrote outside the rows, " << pixels << " pixels, " << what;
  ASSERT_TRUE(topA == topB && bottomA == bottomB)
      << where << " differs: " << pixels << " pixels, " << what;
}

TEST(KernelCheck, ColourRowPairs) {
  forEachLevel<ColourKernels, RowPair>(
      "convertRowPair", &ColourKernels::convertRowPair, portableColourKernels(), initColourKernels,
      [](RowPair fast, RowPair reference, const std::string& where) {
        // Every width up to beyond the widest step, and the picture widths.
        std::vector<int> widths;
        for (int w = 2; w <= 200; w += 2)
          widths.push_back(w);
        for (const int w : {176, 320, 352, 360, 368})
          widths.push_back(w);
        for (const int pixels : widths) {
          for (int pattern = 0; pattern < 4; ++pattern) {
            for (int offset = 0; offset < 2; ++offset) {
              std::vector<uint8_t> y0(size_t(pixels) + 2), y1(y0.size()),
                  cb(size_t(pixels / 2) + 2), cr(cb.size());
              for (auto* v : {&y0, &y1, &cb, &cr})
                fillBytes(v->data(), v->size(), pattern);
              ASSERT_NO_FATAL_FAILURE(compareRowPair(
                  fast, reference, where, pixels, y0.data() + offset, y1.data() + offset,
                  cb.data() + offset, cr.data() + offset,
                  "pattern " + std::to_string(pattern) + ", offset " + std::to_string(offset)));
            }
          }
        }
      });
}

// Each output pixel depends on its Y, Cb and Cr alone: running every one of
// the 2^24 combinations through a level proves it equal to the tables for
// every input. A row pair of 512 pixels holds each Cb once per call, with
// four luma values each.
TEST(KernelCheck, ColourEveryInputCombination) {
  forEachLevel<ColourKernels, RowPair>(
      "convertRowPair", &ColourKernels::convertRowPair, portableColourKernels(), initColourKernels,
      [](RowPair fast, RowPair reference, const std::string& where) {
        constexpr int kPixels = 512;
        std::vector<uint8_t> yTop(kPixels), yBottom(kPixels), cb(kPixels / 2), cr(kPixels / 2);
        for (int c = 0; c < kPixels / 2; ++c)
          cb[size_t(c)] = uint8_t(c);
        std::vector<uint8_t> topA(3 * kPixels), bottomA(3 * kPixels), topB(3 * kPixels),
            bottomB(3 * kPixels);
        for (int red = 0; red < 256; ++red) {
          std::fill(cr.begin(), cr.end(), uint8_t(red));
          for (int step = 0; step < 64; ++step) {
            for (int c = 0; c < kPixels / 2; ++c) {
              yTop[size_t(2 * c)] = uint8_t(4 * step);
              yTop[size_t(2 * c + 1)] = uint8_t(4 * step + 1);
              yBottom[size_t(2 * c)] = uint8_t(4 * step + 2);
              yBottom[size_t(2 * c + 1)] = uint8_t(4 * step + 3);
            }
            fast(topA.data(), bottomA.data(), yTop.data(), yBottom.data(), cb.data(), cr.data(),
                 kPixels);
            reference(topB.data(), bottomB.data(), yTop.data(), yBottom.data(), cb.data(),
                      cr.data(), kPixels);
            if (topA != topB || bottomA != bottomB) {
              for (int x = 0; x < 3 * kPixels; ++x) {
                const bool top = topA[size_t(x)] != topB[size_t(x)];
                if (!top && bottomA[size_t(x)] == bottomB[size_t(x)]) continue;
                const int pixel = x / 3;
                FAIL() << where << " differs at Y " << (4 * step + (pixel & 1) + (top ? 0 : 2))
                       << ", Cb " << pixel / 2 << ", Cr " << red << ", channel " << x % 3;
              }
            }
          }
        }
      });
}

}  // namespace
}  // namespace zenta::video
