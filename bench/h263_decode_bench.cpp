// Decoding speed of our H.263 decoder beside libavcodec's (one thread), on
// the same streams in the same run, round by round. Prints frames per
// second for each and our speed as a multiple of libavcodec's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/interleaved.h"
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

}  // namespace

int main(int argc, char** argv) {
  using zenta::bench::Body;
  std::vector<std::pair<std::string, Body>> contenders;
  for (const std::string name : {"cif", "368x288"}) {
    contenders.emplace_back(name + "/ours", [name](benchmark::State& st) { ours(st, name); });
    contenders.emplace_back(name + "/libavcodec",
                            [name](benchmark::State& st) { libavcodec(st, name); });
  }
  zenta::bench::registerInterleaved(contenders, 5, benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  zenta::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nFrames per second (median of the rounds), one thread, and ratio to libavcodec:\n");
  for (const std::string name : {"cif", "368x288"})
    reporter.printRatio(name + "/ours", name + "/libavcodec", "frames/s");
  benchmark::Shutdown();
  return 0;
}
