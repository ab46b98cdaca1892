// Decoding speed of our H.263 decoder beside libavcodec's (one thread), on
// the same streams in the same run. Prints frames per second for each and,
// at the end, our speed as a multiple of libavcodec's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/support/reference_h263.h"
#include "video/h263/decoder.h"
#include "video/h263/stream_split.h"

namespace {

using zenta::testing::StreamRecipe;

struct BenchStream {
  std::vector<uint8_t> coded;
  std::vector<std::span<const uint8_t>> pictures;
};

const BenchStream& stream(const std::string& name) {
  static std::map<std::string, BenchStream> streams;
  auto found = streams.find(name);
  if (found != streams.end()) return found->second;
  StreamRecipe recipe;
  recipe.frames = 120;
  recipe.gop = 30;
  if (name == "cif") {
    recipe.codec = "h263";
    recipe.bitrate = "800k";
  } else {
    recipe.codec = "h263p";
    recipe.width = 368;
    recipe.bitrate = "600k";
  }
  BenchStream& s = streams[name];
  s.coded = zenta::testing::makeStream(recipe).coded;
  s.pictures = zenta::video::splitPictures(s.coded);
  return s;
}

void ours(benchmark::State& state, const std::string& name) {
  const BenchStream& s = stream(name);
  if (s.pictures.empty()) return state.SkipWithError("ffmpeg could not make the stream");
  zenta::video::H263DecoderHandle handle;
  zenta::video::h263Create(handle);
  zenta::video::PlanarFrame* frame = nullptr;
  for (auto _ : state) {
    for (const auto picture : s.pictures) {
      benchmark::DoNotOptimize(
          zenta::video::h263Decode(handle, &frame, picture.data(), picture.size()));
    }
    benchmark::ClobberMemory();
  }
  zenta::video::h263Destroy(handle);
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(s.pictures.size()));
}

void libavcodec(benchmark::State& state, const std::string& name) {
  const BenchStream& s = stream(name);
  if (s.pictures.empty()) return state.SkipWithError("ffmpeg could not make the stream");
  zenta::testing::ReferenceH263Decoder decoder;
  for (auto _ : state) {
    for (const auto picture : s.pictures)
      benchmark::DoNotOptimize(decoder.decodeOnly(picture));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(s.pictures.size()));
}

// Keeps frames per second of each run, for the closing comparison.
class Reporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const auto items = run.counters.find("items_per_second");
      if (items != run.counters.end()) fps[run.benchmark_name()] = items->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> fps;
};

}  // namespace

int main(int argc, char** argv) {
  for (const std::string name : {"cif", "368x288"}) {
    benchmark::RegisterBenchmark(("ours/" + name).c_str(), ours, name)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("libavcodec/" + name).c_str(), libavcodec, name)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const std::string name : {"cif", "368x288"}) {
    const double a = reporter.fps["ours/" + name], b = reporter.fps["libavcodec/" + name];
    if (a > 0 && b > 0) {
      std::printf("%s: ours %.0f frames/s, libavcodec %.0f frames/s, ratio %.2f\n", name.c_str(), a,
                  b, a / b);
    }
  }
  benchmark::Shutdown();
  return 0;
}
