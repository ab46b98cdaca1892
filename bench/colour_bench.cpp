// Colour conversion into the canvas at every level of the kernel table,
// beside libswscale's YUV 4:2:0 to BGR24 conversion into the same bottom-up
// canvas layout, interleaved in one run. Prints pictures per second and
// each level's speed as a multiple of libswscale's.
#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <random>
#include <vector>

#include "bench/interleaved.h"
#include "video/colour/canvas.h"
#include "video/cpu.h"

namespace {

using namespace zenta::video;

struct Planes {
  int width, height;
  std::vector<uint8_t> y, cb, cr;
  explicit Planes(int w, int h)
      : width(w), height(h), y(size_t(w) * size_t(h)), cb(y.size() / 4), cr(y.size() / 4) {
    std::mt19937 random(1);
    for (auto* plane : {&y, &cb, &cr}) {
      for (auto& v : *plane)
        v = uint8_t(random());
    }
  }
};

// The whole conversion, as ConvertPlanarToCanvas does it, with the table
// of one level.
void ours(benchmark::State& state, const ColourKernels& k, int width, int height) {
  const Planes p(width, height);
  std::vector<uint8_t> canvas(kCanvasBytes);
  for (auto _ : state) {
    for (int row = 0; row < height; row += 2) {
      uint8_t* top = canvas.data() + ptrdiff_t(kCanvasHeight - 1 - row) * kCanvasStride;
      const uint8_t* y = p.y.data() + ptrdiff_t(row) * width;
      k.convertRowPair(top, top - kCanvasStride, y, y + width, p.cb.data() + row / 2 * width / 2,
                       p.cr.data() + row / 2 * width / 2, width);
    }
    benchmark::DoNotOptimize(canvas.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}

// The entry the viewer calls, with the table it uses.
void inUse(benchmark::State& state, int width, int height) {
  const Planes p(width, height);
  std::vector<uint8_t> canvas(kCanvasBytes);
  for (auto _ : state) {
    ConvertPlanarToCanvas(canvas.data(), p.y.data(), p.cb.data(), p.cr.data(), width, height);
    benchmark::DoNotOptimize(canvas.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}

void libswscale(benchmark::State& state, int width, int height) {
  const Planes p(width, height);
  std::vector<uint8_t> canvas(kCanvasBytes);
  SwsContext* context = sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height,
                                       AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
  const uint8_t* source[3] = {p.y.data(), p.cb.data(), p.cr.data()};
  const int sourceStride[3] = {width, width / 2, width / 2};
  // The top screen row is the last memory row: a negative stride walks up.
  uint8_t* destination[1] = {canvas.data() + size_t(kCanvasHeight - 1) * kCanvasStride};
  const int destinationStride[1] = {-kCanvasStride};
  for (auto _ : state) {
    sws_scale(context, source, sourceStride, 0, height, destination, destinationStride);
    benchmark::DoNotOptimize(canvas.data());
    benchmark::ClobberMemory();
  }
  sws_freeContext(context);
  state.SetItemsProcessed(int64_t(state.iterations()));
}

struct Size {
  const char* name;
  int width, height;
};
constexpr Size kSizes[] = {{"cif", 352, 288}, {"368x288", 368, 288}};

}  // namespace

int main(int argc, char** argv) {
  using zenta::bench::Body;
  // One table a level this CPU has, the portable one first.
  static std::vector<std::pair<std::string, ColourKernels>> levels;
  levels.emplace_back("portable", ColourKernels{});
  initColourKernels(levels.back().second, 0);
  for (const CpuLevel& level : kCpuLevels) {
    if ((cpuFlags() & level.flag) == 0) continue;
    ColourKernels k;
    initColourKernels(k, cpuFlagsUpTo(level.flag));
    // A level with no entry of its own would time the one below again.
    if (k.convertRowPair == levels.back().second.convertRowPair) continue;
    levels.emplace_back(std::string(level.name), k);
  }
  std::vector<std::pair<std::string, Body>> contenders;
  for (const Size& s : kSizes) {
    for (const auto& [name, k] : levels) {
      const ColourKernels* table = &k;
      contenders.emplace_back(std::string(s.name) + "/" + name, [table, s](benchmark::State& st) {
        ours(st, *table, s.width, s.height);
      });
    }
    contenders.emplace_back(std::string(s.name) + "/in_use",
                            [s](benchmark::State& st) { inUse(st, s.width, s.height); });
    contenders.emplace_back(std::string(s.name) + "/libswscale",
                            [s](benchmark::State& st) { libswscale(st, s.width, s.height); });
  }
  zenta::bench::registerInterleaved(contenders, 9);
  benchmark::Initialize(&argc, argv);
  zenta::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nPictures per second (median of the rounds) and ratio to libswscale:\n");
  for (const Size& s : kSizes) {
    const std::string prefix = std::string(s.name) + "/";
    for (const auto& [name, k] : levels)
      reporter.printRatio(prefix + name, prefix + "libswscale", "pictures/s");
    reporter.printRatio(prefix + "in_use", prefix + "libswscale", "pictures/s");
  }
  benchmark::Shutdown();
  return 0;
}
