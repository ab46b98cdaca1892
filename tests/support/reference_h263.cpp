#include "tests/support/reference_h263.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
}

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace zenta::testing {

struct ReferenceH263Decoder::State {
  AVCodecContext* context = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
};

ReferenceH263Decoder::ReferenceH263Decoder() : state_(std::make_unique<State>()) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H263);
  state_->context = avcodec_alloc_context3(codec);
  state_->context->thread_count = 1;
  state_->context->flags |= AV_CODEC_FLAG_BITEXACT;
  avcodec_open2(state_->context, codec, nullptr);
  state_->packet = av_packet_alloc();
  state_->frame = av_frame_alloc();
}

ReferenceH263Decoder::~ReferenceH263Decoder() {
  av_frame_free(&state_->frame);
  av_packet_free(&state_->packet);
  avcodec_free_context(&state_->context);
}

bool ReferenceH263Decoder::decodeOnly(std::span<const uint8_t> picture) {
  AVPacket* packet = state_->packet;
  packet->data = const_cast<uint8_t*>(picture.data());
  packet->size = static_cast<int>(picture.size());
  if (avcodec_send_packet(state_->context, packet) < 0) return false;
  return avcodec_receive_frame(state_->context, state_->frame) == 0;
}

std::optional<YuvPicture> ReferenceH263Decoder::decode(std::span<const uint8_t> picture) {
  if (!decodeOnly(picture)) return std::nullopt;
  const AVFrame* f = state_->frame;
  YuvPicture out;
  out.width = f->width;
  out.height = f->height;
  const auto copy = [](std::vector<uint8_t>& plane, const uint8_t* data, int stride, int w, int h) {
    plane.resize(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
      std::copy_n(data + ptrdiff_t(y) * stride, w, plane.begin() + ptrdiff_t(y) * w);
    }
  };
  copy(out.y, f->data[0], f->linesize[0], f->width, f->height);
  copy(out.cb, f->data[1], f->linesize[1], f->width / 2, f->height / 2);
  copy(out.cr, f->data[2], f->linesize[2], f->width / 2, f->height / 2);
  return out;
}

double psnr(const uint8_t* a, const uint8_t* b, size_t count) {
  double sum = 0;
  for (size_t i = 0; i < count; ++i) {
    const double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 * double(count) / sum);
}

namespace {

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

TestStream makeStream(const StreamRecipe& r) {
  namespace fs = std::filesystem;
  static int serial = 0;
  const fs::path dir = fs::temp_directory_path() / ("zenta-stream-" + std::to_string(::getpid()) +
                                                    "-" + std::to_string(++serial));
  fs::create_directories(dir);
  const fs::path coded = dir / "stream.h263";
  const fs::path source = dir / "source.yuv";
  // A source larger than the picture, cropped at an offset that moves.
  const std::string graph = "testsrc2=size=" + std::to_string(r.width + 240) + "x" +
                            std::to_string(r.height + 160) + ":rate=" + r.rate +
                            ",crop=" + std::to_string(r.width) + ":" + std::to_string(r.height) +
                            ":x='t*37':y='t*23'" + r.filters + ",format=yuv420p";
  const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i \"" + graph +
                              "\" -frames:v " + std::to_string(r.frames) + " -map 0 -c:v " +
                              r.codec + " -threads 1 -b:v " + r.bitrate + " -g " +
                              std::to_string(r.gop) + " " + r.extra + " -f h263 " + coded.string() +
                              " -map 0 -frames:v " + std::to_string(r.frames) +
                              " -c:v rawvideo -f rawvideo " + source.string();
  TestStream stream;
  if (std::system(command.c_str()) == 0) {
    stream.coded = readFile(coded);
    const std::vector<uint8_t> raw = readFile(source);
    const size_t luma = size_t(r.width) * size_t(r.height), chroma = luma / 4;
    for (size_t at = 0; at + luma + 2 * chroma <= raw.size(); at += luma + 2 * chroma) {
      YuvPicture picture{r.width, r.height, {}, {}, {}};
      picture.y.assign(raw.begin() + ptrdiff_t(at), raw.begin() + ptrdiff_t(at + luma));
      picture.cb.assign(raw.begin() + ptrdiff_t(at + luma),
                        raw.begin() + ptrdiff_t(at + luma + chroma));
      picture.cr.assign(raw.begin() + ptrdiff_t(at + luma + chroma),
                        raw.begin() + ptrdiff_t(at + luma + 2 * chroma));
      stream.source.push_back(std::move(picture));
    }
  }
  fs::remove_all(dir);
  return stream;
}

}  // namespace zenta::testing
