#include "video/snapshot/jpeg_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/support/reference_h263.h"
#include "video/colour/canvas.h"
#include "video/snapshot/jpeg_planes.h"

namespace zenta::video {
namespace {

namespace fs = std::filesystem;

struct Decoded {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // top row first
  std::vector<unsigned> luminanceTable, chrominanceTable;
};

Decoded readJpeg(const fs::path& path) {
  Decoded out;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return out;
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  for (int t = 0; t < 2; ++t) {
    auto& table = t == 0 ? out.luminanceTable : out.chrominanceTable;
    if (info.quant_tbl_ptrs[t] == nullptr) continue;
    for (int i = 0; i < 64; ++i)
      table.push_back(info.quant_tbl_ptrs[t]->quantval[i]);
  }
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  out.width = int(info.output_width);
  out.height = int(info.output_height);
  out.rgb.resize(size_t(out.width) * size_t(out.height) * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out.rgb.data() + size_t(info.output_scanline) * size_t(out.width) * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::fclose(file);
  return out;
}

// libjpeg's own quantisation tables for a quality, with baseline forcing.
std::vector<unsigned> expectedTable(int which, int quality) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  info.in_color_space = JCS_RGB;
  info.input_components = 3;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  std::vector<unsigned> table;
  for (int i = 0; i < 64; ++i)
    table.push_back(info.quant_tbl_ptrs[which]->quantval[i]);
  jpeg_destroy_compress(&info);
  return table;
}

class Snapshot : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("zenta-jpeg-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
      names.push_back(entry.path().filename());
    return names;
  }
  fs::path dir;
};

// A canvas whose 320 x 240 picture has a red top half, a blue bottom half,
// and a smooth ramp in green.
std::vector<uint8_t> testCanvas() {
  std::vector<uint8_t> canvas(kCanvasBytes, 0);
  for (int row = 0; row < 240; ++row) {
    uint8_t* line = canvas.data() + size_t(287 - row) * kCanvasStride;
    for (int x = 0; x < 320; ++x) {
      line[3 * x + 0] = row < 120 ? 20 : 230;    // blue
      line[3 * x + 1] = uint8_t((x + row) / 3);  // green
      line[3 * x + 2] = row < 120 ? 230 : 20;    // red
    }
  }
  return canvas;
}

double lumaPsnr(const std::vector<uint8_t>& canvas, const Decoded& d) {
  double sum = 0;
  for (int row = 0; row < 240; ++row) {
    const uint8_t* src = canvas.data() + size_t(287 - row) * kCanvasStride;
    for (int x = 0; x < 320; ++x) {
      const uint8_t* got = d.rgb.data() + (size_t(row) * 320 + size_t(x)) * 3;
      const double a = 0.299 * src[3 * x + 2] + 0.587 * src[3 * x + 1] + 0.114 * src[3 * x];
      const double b = 0.299 * got[0] + 0.587 * got[1] + 0.114 * got[2];
      sum += (a - b) * (a - b);
    }
  }
  return 10 * std::log10(255.0 * 255.0 * 320 * 240 / sum);
}

TEST_F(Snapshot, PictureFromTheCanvasReadsBackUpright) {
  const std::vector<uint8_t> canvas = testCanvas();
  const fs::path path = dir / "Server-Camera-0315120000.jpg";
  ASSERT_EQ(JpegSnapshotWriter(path.c_str(), canvas.data() + 48 * kCanvasStride, 368, 320, 240, 90),
            1);
  const Decoded d = readJpeg(path);
  ASSERT_EQ(d.width, 320);
  ASSERT_EQ(d.height, 240);
  const uint8_t* top = d.rgb.data() + (10 * 320 + 10) * 3;
  const uint8_t* bottom = d.rgb.data() + (230 * 320 + 10) * 3;
  EXPECT_GT(top[0], 200);  // red on top
  EXPECT_LT(top[2], 50);
  EXPECT_LT(bottom[0], 50);  // blue below
  EXPECT_GT(bottom[2], 200);
  EXPECT_GT(lumaPsnr(canvas, d), 35.0);
  EXPECT_EQ(d.luminanceTable, expectedTable(0, 90));
  EXPECT_EQ(d.chrominanceTable, expectedTable(1, 90));
  EXPECT_EQ(files(), std::vector<std::string>{path.filename()});
}

// The decoder's studio-range black (16) and white (235) are the JPEG's full
// black and white: nothing lifted, nothing dulled.
TEST_F(Snapshot, PlanesBecomeAFullRangeJpeg) {
  constexpr int kWidth = 64, kHeight = 32;
  std::vector<uint8_t> y(kWidth * kHeight), cb(kWidth * kHeight / 4, 128), cr(cb);
  for (int row = 0; row < kHeight; ++row) {
    for (int x = 0; x < kWidth; ++x)
      y[size_t(row * kWidth + x)] = x < kWidth / 2 ? 16 : 235;
  }
  const PlanarFrame planes{y.data(), cb.data(), cr.data(), kWidth};
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(JpegOfPlanes(planes, kWidth, kHeight, 90, jpeg));
  const fs::path path = dir / "range.jpg";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
  const Decoded decoded = readJpeg(path);
  ASSERT_EQ(decoded.width, kWidth);
  for (const int x : {4, 12, 52, 60}) {
    const uint8_t red = decoded.rgb[size_t(16 * kWidth + x) * 3];
    if (x < kWidth / 2) {
      EXPECT_LE(red, 3) << x;
    } else {
      EXPECT_GE(red, 252) << x;
    }
  }
}

TEST_F(Snapshot, BadArgumentsCreateNothing) {
  const std::vector<uint8_t> canvas = testCanvas();
  const std::string path = (dir / "x.jpg").string();
  EXPECT_EQ(JpegSnapshotWriter(path.c_str(), canvas.data(), 368, 320, 0, 90), 0);
  EXPECT_EQ(JpegSnapshotWriter(path.c_str(), nullptr, 368, 320, 240, 90), 0);
  EXPECT_EQ(JpegSnapshotWriter(path.c_str(), canvas.data(), 0, 320, 240, 90), 0);
  EXPECT_EQ(JpegSnapshotWriter(path.c_str(), canvas.data(), 368, 0, 240, 90), 0);
  EXPECT_EQ(JpegSnapshotWriter(path.c_str(), canvas.data(), 368, 369, 240, 90), 0);
  EXPECT_EQ(JpegSnapshotWriter(nullptr, canvas.data(), 368, 320, 240, 90), 0);
  EXPECT_TRUE(files().empty());
  const std::string missing = (dir / "no-such-folder" / "x.jpg").string();
  EXPECT_EQ(JpegSnapshotWriter(missing.c_str(), canvas.data(), 368, 320, 240, 90), 0);
  EXPECT_TRUE(files().empty());
}

TEST_F(Snapshot, FailedWriteLeavesNoFileAndKeepsTheOldOne) {
  const std::vector<uint8_t> canvas = testCanvas();
  const fs::path path = dir / "shot.jpg";
  ASSERT_EQ(JpegSnapshotWriter(path.c_str(), canvas.data(), 368, 320, 240, 90), 1);
  const auto goodSize = fs::file_size(path);

  // A file size limit makes the library's writes fail part way.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &previous);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 2000;
  setrlimit(RLIMIT_FSIZE, &small);
  const int result = JpegSnapshotWriter(path.c_str(), canvas.data(), 368, 320, 240, 90);
  const int fresh = JpegSnapshotWriter((dir / "new.jpg").c_str(), canvas.data(), 368, 320, 240, 90);
  setrlimit(RLIMIT_FSIZE, &old);
  sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_EQ(result, 0);
  EXPECT_EQ(fresh, 0);
  EXPECT_EQ(files(), std::vector<std::string>{"shot.jpg"});
  EXPECT_EQ(fs::file_size(path), goodSize);
  EXPECT_EQ(readJpeg(path).width, 320);
}

TEST_F(Snapshot, ThreadsWriteAtOnce) {
  const std::vector<uint8_t> canvas = testCanvas();
  std::vector<std::thread> threads;
  std::vector<int> results(8 * 4, -1);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 4; ++i) {
        const fs::path path = dir / ("c" + std::to_string(t) + "-" + std::to_string(i) + ".jpg");
        results[size_t(t * 4 + i)] =
            JpegSnapshotWriter(path.c_str(), canvas.data() + 48 * kCanvasStride, 368, 320, 240, 90);
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  for (int r : results)
    EXPECT_EQ(r, 1);
  EXPECT_EQ(files().size(), 32u);
  for (const auto& name : files()) {
    const Decoded d = readJpeg(dir / name);
    EXPECT_EQ(d.width, 320) << name;
    EXPECT_GT(lumaPsnr(canvas, d), 35.0) << name;
  }
}

}  // namespace
}  // namespace zenta::video
