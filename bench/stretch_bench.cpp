// The stretch of a channel canvas onto the 32-bit screen at the sizes the
// skins use, by the path the viewer takes and by the general per-pixel
// path, interleaved in one run. Prints stretches per second and the ratio.
#include <benchmark/benchmark.h>

#include <random>

#include "bench/interleaved.h"
#include "platform/screen/surface.h"

namespace {

using namespace zenta::platform;

struct Case {
  const char* name;
  int srcWidth, srcHeight;  // the canvas
  int sx, sy, sw, sh, w, h;
};
// One picture, one of four (the quadrants are 120 and 119 wide), and the
// turned full-screen view, whose canvas is the rotated frame.
constexpr Case kCases[] = {{"320x240_to_240x178", 368, 288, 0, 0, 320, 240, 240, 178},
                           {"320x240_to_120x88", 368, 288, 0, 0, 320, 240, 120, 88},
                           {"320x240_to_119x88", 368, 288, 0, 0, 320, 240, 119, 88},
                           {"turned_240x320", 288, 368, 0, 48, 240, 320, 240, 320}};

using Stretch = void (*)(Surface&, int, int, int, int, const Surface&, int, int, int, int, DWORD,
                         const ClipList&);

void run(benchmark::State& state, const Case& c, Stretch stretch) {
  Surface canvas(c.srcWidth, c.srcHeight, 24, false);
  std::mt19937 random(2);
  for (size_t i = 0; i < canvas.byteCount(); ++i)
    canvas.bits()[i] = uint8_t(random());
  Surface screen(240, 320, 32, true);
  const ClipList clip{RECT{0, 0, 240, 320}};
  for (auto _ : state) {
    stretch(screen, 0, 0, c.w, c.h, canvas, c.sx, c.sy, c.sw, c.sh, SRCCOPY, clip);
    benchmark::DoNotOptimize(screen.bits());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}

}  // namespace

int main(int argc, char** argv) {
  using zenta::bench::Body;
  std::vector<std::pair<std::string, Body>> contenders;
  for (const Case& c : kCases) {
    contenders.emplace_back(std::string(c.name) + "/viewer",
                            [&c](benchmark::State& st) { run(st, c, stretchBlit); });
    contenders.emplace_back(std::string(c.name) + "/general",
                            [&c](benchmark::State& st) { run(st, c, stretchBlitPortable); });
  }
  zenta::bench::registerInterleaved(contenders, 5);
  benchmark::Initialize(&argc, argv);
  zenta::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nStretches per second (median of the rounds) and ratio to the general path:\n");
  for (const Case& c : kCases)
    reporter.printRatio(std::string(c.name) + "/viewer", std::string(c.name) + "/general",
                        "stretches/s");
  benchmark::Shutdown();
  return 0;
}
