#include "sim/file_source.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace zenta::sim {

struct FileSource::State {
  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  SwsContext* scaler = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  int stream = -1;
  int width = 0, height = 0, rate = 1;
  YuvImage current;
  Clock::time_point start;
  int64_t shown = 0;  // the number of the picture in `current`

  ~State() {
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
  }
};

FileSource::~FileSource() = default;

std::unique_ptr<FileSource> FileSource::open(const std::string& path, int width, int height,
                                             int rate, std::string& error) {
  std::unique_ptr<FileSource> source(new FileSource);
  source->state_ = std::make_unique<State>();
  State& state = *source->state_;
  state.width = width;
  state.height = height;
  state.rate = rate;
  state.current = YuvImage(width, height);
  if (avformat_open_input(&state.format, path.c_str(), nullptr, nullptr) < 0) {
    error = "cannot open " + path;
    return nullptr;
  }
  if (avformat_find_stream_info(state.format, nullptr) < 0) {
    error = "cannot read " + path;
    return nullptr;
  }
  const AVCodec* codec = nullptr;
  state.stream = av_find_best_stream(state.format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (state.stream < 0 || codec == nullptr) {
    error = path + " holds no video that can be decoded";
    return nullptr;
  }
  state.decoder = avcodec_alloc_context3(codec);
  state.frame = av_frame_alloc();
  state.packet = av_packet_alloc();
  if (state.decoder == nullptr || state.frame == nullptr || state.packet == nullptr ||
      avcodec_parameters_to_context(state.decoder, state.format->streams[state.stream]->codecpar) <
          0) {
    error = "out of memory";
    return nullptr;
  }
  state.decoder->thread_count = 1;
  if (avcodec_open2(state.decoder, codec, nullptr) < 0) {
    error = "cannot decode " + path;
    return nullptr;
  }
  if (!source->decodeNext()) {
    error = path + " holds no picture";
    return nullptr;
  }
  state.start = Clock::now();
  return source;
}

bool FileSource::readPicture() {
  State& state = *state_;
  for (;;) {
    const int received = avcodec_receive_frame(state.decoder, state.frame);
    if (received == 0) return true;
    if (received == AVERROR_EOF) return false;
    if (received != AVERROR(EAGAIN)) return false;
    const int read = av_read_frame(state.format, state.packet);
    if (read < 0) {
      avcodec_send_packet(state.decoder, nullptr);  // drain what is left
      continue;
    }
    if (state.packet->stream_index == state.stream)
      avcodec_send_packet(state.decoder, state.packet);
    av_packet_unref(state.packet);
  }
}

bool FileSource::decodeNext() {
  State& state = *state_;
  if (!readPicture()) {
    // The end: start again from the beginning.
    if (av_seek_frame(state.format, state.stream, 0, AVSEEK_FLAG_BACKWARD) < 0 &&
        avformat_seek_file(state.format, -1, INT64_MIN, 0, INT64_MAX, 0) < 0)
      return false;
    avcodec_flush_buffers(state.decoder);
    if (!readPicture()) return false;
  }
  AVFrame* frame = state.frame;
  state.scaler = sws_getCachedContext(
      state.scaler, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
      state.width, state.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (state.scaler == nullptr) return false;
  uint8_t* planes[4] = {state.current.y.data(), state.current.cb.data(), state.current.cr.data(),
                        nullptr};
  const int pitches[4] = {state.width, state.width / 2, state.width / 2, 0};
  sws_scale(state.scaler, frame->data, frame->linesize, 0, frame->height, planes, pitches);
  av_frame_unref(frame);
  return true;
}

void FileSource::pictureAt(Clock::time_point now, YuvImage& out) {
  std::lock_guard guard(mutex_);
  State& state = *state_;
  const int64_t due =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - state.start).count() *
      state.rate / 1000;
  // Catch up at most two seconds of pictures a call; skip further behind.
  if (due - state.shown > 2 * state.rate) state.shown = due - 2 * state.rate;
  while (state.shown < due) {
    if (!decodeNext()) break;
    ++state.shown;
  }
  state.shown = std::max(state.shown, due);
  out.y = state.current.y;
  out.cb = state.current.cb;
  out.cr = state.current.cr;
}

}  // namespace zenta::sim
