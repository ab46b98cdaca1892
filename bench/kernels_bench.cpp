// Every kernel table entry at every level this CPU has (the portable entry
// and each level that brings its own), on the block sizes the decoder and
// the conversion use.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "video/colour/canvas.h"
#include "video/cpu.h"
#include "video/h263/kernels.h"

namespace {

using namespace zenta::video;

struct Inputs {
  std::vector<uint8_t> pixels = std::vector<uint8_t>(64 * 64);
  alignas(16) int16_t block[64];
  Inputs() {
    std::mt19937 random(5);
    for (auto& p : pixels)
      p = uint8_t(random());
    for (auto& c : block)
      c = int16_t(int(random() % 512) - 256);
  }
};

template <typename Table>
std::vector<std::pair<std::string, Table>> tables(void (*init)(Table&, unsigned)) {
  std::vector<std::pair<std::string, Table>> out;
  Table portable;
  init(portable, 0);
  out.emplace_back("portable", portable);
  for (const CpuLevel& level : kCpuLevels) {
    if ((cpuFlags() & level.flag) == 0) continue;
    Table t;
    init(t, cpuFlagsUpTo(level.flag));
    out.emplace_back(std::string(level.name), t);
  }
  return out;
}

// Registers `body` for each level whose entry differs from the level below.
template <typename Table, typename Entry, typename Body>
void registerEntry(const std::vector<std::pair<std::string, Table>>& levels, const char* kernel,
                   Entry Table::*entry, Body body) {
  Entry below = nullptr;
  for (const auto& [name, table] : levels) {
    const Entry e = table.*entry;
    if (e == below) continue;
    below = e;
    benchmark::RegisterBenchmark((std::string(kernel) + "/" + name).c_str(),
                                 [e, body](benchmark::State& state) { body(state, e); });
  }
}

}  // namespace

int main(int argc, char** argv) {
  static Inputs in;
  const auto recon = tables<ReconKernels>(initReconKernels);
  registerEntry(recon, "copyBlock", &ReconKernels::copyBlock, [](auto& state, auto f) {
    for (auto _ : state) {
      f(in.pixels.data() + 1024, in.pixels.data() + 3, 64, 64);
      benchmark::ClobberMemory();
    }
  });
  for (const auto& [name, entry] : {std::pair{"interpolateH", &ReconKernels::interpolateH},
                                    std::pair{"interpolateV", &ReconKernels::interpolateV},
                                    std::pair{"interpolateHV", &ReconKernels::interpolateHV}}) {
    registerEntry(recon, name, entry, [](auto& state, auto f) {
      for (auto _ : state) {
        f(in.pixels.data() + 1024, in.pixels.data() + 3, 64, 64, 0);
        benchmark::ClobberMemory();
      }
    });
  }
  for (const auto& [name, entry] : {std::pair{"dequantIntra", &ReconKernels::dequantIntra},
                                    std::pair{"dequantInter", &ReconKernels::dequantInter}}) {
    registerEntry(recon, name, entry, [](auto& state, auto f) {
      alignas(16) int16_t out[64];
      for (auto _ : state) {
        f(out, in.block, 13);
        benchmark::DoNotOptimize(out);
      }
    });
  }
  registerEntry(recon, "idct8x8", &ReconKernels::idct8x8, [](auto& state, auto f) {
    alignas(16) int16_t work[64];
    for (auto _ : state) {
      std::copy(in.block, in.block + 64, work);
      f(work);
      benchmark::DoNotOptimize(work);
    }
  });
  for (const auto& [name, entry] : {std::pair{"storeClipped", &ReconKernels::storeClipped},
                                    std::pair{"addClipped", &ReconKernels::addClipped}}) {
    registerEntry(recon, name, entry, [](auto& state, auto f) {
      for (auto _ : state) {
        f(in.pixels.data() + 1024, in.block, 64);
        benchmark::ClobberMemory();
      }
    });
  }
  registerEntry(recon, "clearBlocks", &ReconKernels::clearBlocks, [](auto& state, auto f) {
    alignas(16) int16_t blocks[384];
    for (auto _ : state) {
      f(blocks, sizeof blocks);
      benchmark::DoNotOptimize(blocks);
    }
  });
  const auto colour = tables<ColourKernels>(initColourKernels);
  registerEntry(colour, "convertRowPair/352", &ColourKernels::convertRowPair,
                [](auto& state, auto f) {
                  std::vector<uint8_t> out(2 * kCanvasStride);
                  for (auto _ : state) {
                    f(out.data(), out.data() + kCanvasStride, in.pixels.data(),
                      in.pixels.data() + 352, in.pixels.data() + 704, in.pixels.data() + 880, 352);
                    benchmark::ClobberMemory();
                  }
                });
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
