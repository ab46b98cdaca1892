// Colour conversion into the canvas beside libswscale's YUV 4:2:0 to BGR24
// conversion (into the same bottom-up canvas layout), in the same run.
#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <random>
#include <vector>

#include "video/colour/canvas.h"

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

void ours(benchmark::State& state, int width, int height) {
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

}  // namespace

BENCHMARK_CAPTURE(ours, cif, 352, 288);
BENCHMARK_CAPTURE(libswscale, cif, 352, 288);
BENCHMARK_CAPTURE(ours, 368x288, 368, 288);
BENCHMARK_CAPTURE(libswscale, 368x288, 368, 288);
BENCHMARK_MAIN();
