#include "sim/encoder.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

namespace zenta::sim {

struct PictureEncoder::State {
  AVCodecContext* context = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  int64_t lastSlot = -1;
  bool lastIntra = false;

  ~State() {
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
  }
};

PictureEncoder::~PictureEncoder() = default;

std::unique_ptr<PictureEncoder> PictureEncoder::create(const ChannelConfig& channel,
                                                       std::string& error) {
  const bool standard = isStandardSize(channel.width, channel.height);
  const AVCodec* codec = avcodec_find_encoder(standard ? AV_CODEC_ID_H263 : AV_CODEC_ID_H263P);
  if (codec == nullptr) {
    error = "libavcodec has no H.263 encoder";
    return nullptr;
  }
  std::unique_ptr<PictureEncoder> encoder(new PictureEncoder);
  encoder->state_ = std::make_unique<State>();
  State& state = *encoder->state_;
  state.context = avcodec_alloc_context3(codec);
  state.frame = av_frame_alloc();
  state.packet = av_packet_alloc();
  if (state.context == nullptr || state.frame == nullptr || state.packet == nullptr) {
    error = "out of memory";
    return nullptr;
  }
  AVCodecContext* context = state.context;
  context->width = channel.width;
  context->height = channel.height;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->time_base = AVRational{1, channel.rate};
  context->framerate = AVRational{channel.rate, 1};
  context->sample_aspect_ratio = AVRational{1, 1};
  context->bit_rate = channel.bitrate;
  context->gop_size = channel.gop;
  context->max_b_frames = 0;
  context->thread_count = 1;
  if (channel.gobPayload > 0) av_opt_set_int(context->priv_data, "ps", channel.gobPayload, 0);
  const int result = avcodec_open2(context, codec, nullptr);
  if (result < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(result, text, sizeof text);
    error = std::string("cannot open the ") + codec->name + " encoder: " + text;
    return nullptr;
  }
  state.frame->format = AV_PIX_FMT_YUV420P;
  state.frame->width = channel.width;
  state.frame->height = channel.height;
  if (av_frame_get_buffer(state.frame, 0) < 0) {
    error = "out of memory";
    return nullptr;
  }
  return encoder;
}

const char* PictureEncoder::codecName() const {
  return state_->context->codec->name;
}

bool PictureEncoder::lastIntra() const {
  return state_->lastIntra;
}

bool PictureEncoder::encode(const YuvImage& image, int64_t slot, bool intra,
                            std::vector<uint8_t>& coded) {
  State& state = *state_;
  AVFrame* frame = state.frame;
  if (image.width != frame->width || image.height != frame->height) return false;
  // Time references must grow: a slot never repeats.
  if (slot <= state.lastSlot) slot = state.lastSlot + 1;
  state.lastSlot = slot;
  if (av_frame_make_writable(frame) < 0) return false;
  const auto copyPlane = [](const std::vector<uint8_t>& source, int width, int height,
                            uint8_t* target, int pitch) {
    for (int row = 0; row < height; ++row)
      std::memcpy(target + static_cast<ptrdiff_t>(row) * pitch,
                  source.data() + static_cast<size_t>(row * width), static_cast<size_t>(width));
  };
  copyPlane(image.y, image.width, image.height, frame->data[0], frame->linesize[0]);
  copyPlane(image.cb, image.chromaWidth(), image.chromaHeight(), frame->data[1],
            frame->linesize[1]);
  copyPlane(image.cr, image.chromaWidth(), image.chromaHeight(), frame->data[2],
            frame->linesize[2]);
  frame->pts = slot;
  frame->pict_type = intra ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  if (avcodec_send_frame(state.context, frame) < 0) return false;
  coded.clear();
  const int result = avcodec_receive_packet(state.context, state.packet);
  if (result < 0) return false;
  coded.assign(state.packet->data, state.packet->data + state.packet->size);
  state.lastIntra = (state.packet->flags & AV_PKT_FLAG_KEY) != 0;
  av_packet_unref(state.packet);
  return !coded.empty();
}

}  // namespace zenta::sim
