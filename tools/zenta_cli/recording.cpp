#include "tools/zenta_cli/recording.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "video/h263/decoder.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

namespace zenta::cli {

namespace {

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr AVRational kMilliseconds{1, 1000};
constexpr int kIoBufferSize = 64 * 1024;
constexpr double kLargestStepMs = 2000;
constexpr int64_t kMostDriftMs = 250;
constexpr int64_t kShortestSpacingMs = 10;
constexpr int64_t kMostAheadMs = 1000;
// The duration of a file's only picture, or of its first before a second.
constexpr int64_t kLonePictureMs = 40;

}  // namespace

// The container on a descriptor of our own: libavformat writes and seeks
// through these callbacks, never opening a file by name.
struct Recording::Muxer {
  int fd = -1;
  AVFormatContext* context = nullptr;
  AVIOContext* io = nullptr;
  AVStream* stream = nullptr;
  AVPacket* packet = nullptr;  // reused for every picture

  static int write(void* opaque, const uint8_t* data, int size) {
    auto* self = static_cast<Muxer*>(opaque);
    for (int done = 0; done < size;) {
      const ssize_t n = ::write(self->fd, data + done, size_t(size - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return AVERROR(EIO);
      done += int(n);
    }
    return size;
  }
  // The callback's signature changed from a writable to a read-only
  // buffer in libavformat 61.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
  static int writePacket(void* opaque, const uint8_t* data, int size) {
    return write(opaque, data, size);
  }
#else
  static int writePacket(void* opaque, uint8_t* data, int size) {
    return write(opaque, data, size);
  }
#endif
  static int64_t seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<Muxer*>(opaque);
    if (whence == AVSEEK_SIZE) {
      const off_t here = ::lseek(self->fd, 0, SEEK_CUR);
      const off_t end = ::lseek(self->fd, 0, SEEK_END);
      ::lseek(self->fd, here, SEEK_SET);
      return end;
    }
    const off_t at = ::lseek(self->fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
  }

  ~Muxer() {
    av_packet_free(&packet);
    if (io != nullptr) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
    if (context != nullptr) avformat_free_context(context);
    if (fd >= 0) ::close(fd);
  }
};

namespace {

std::string extensionOf(const std::string& path) {
  const auto dot = path.rfind('.');
  const auto slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string extension = path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return extension;
}

}  // namespace

bool rawStreamName(const std::string& path) {
  const std::string extension = extensionOf(path);
  return extension == "263" || extension == "h263";
}

bool recordableName(const std::string& path) {
  const std::string extension = extensionOf(path);
  return extension == "3gp" || extension == "mov" || extension == "mkv" || rawStreamName(path);
}

Recording::Recording(std::string path) : path_(std::move(path)) {}

Recording::~Recording() {
  abandon();
}

bool Recording::opened() const {
  return muxer_ != nullptr;
}

void Recording::abandon() {
  muxer_.reset();
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

bool Recording::open(int width, int height) {
  // The library's own complaints would only repeat ours.
  av_log_set_level(AV_LOG_QUIET);
  const bool raw = rawStreamName(path_);
  const AVOutputFormat* format = raw ? nullptr : av_guess_format(nullptr, path_.c_str(), nullptr);
  if (!raw && format == nullptr) {
    error_ = "the file name asks for no container (try .3gp, .mov or .mkv)";
    return false;
  }
  auto muxer = std::make_unique<Muxer>();
  // A fresh name beside the target: never a file or link that was there.
  for (int attempt = 0; muxer->fd < 0 && attempt < 16; ++attempt) {
    temporary_ = path_ + ".part" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    muxer->fd =
        ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (muxer->fd < 0 && errno != EEXIST) break;
  }
  if (muxer->fd < 0) {
    temporary_.clear();
    error_ = "the file could not be made";
    return false;
  }
  if (raw) {  // the pictures one after the other, as the server sent them
    muxer_ = std::move(muxer);
    return true;
  }
  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
  muxer->io = buffer == nullptr ? nullptr
                                : avio_alloc_context(buffer, kIoBufferSize, 1, muxer.get(), nullptr,
                                                     &Muxer::writePacket, &Muxer::seek);
  if (muxer->io == nullptr) av_free(buffer);
  muxer->packet = av_packet_alloc();
  if (muxer->io == nullptr || muxer->packet == nullptr ||
      avformat_alloc_output_context2(&muxer->context, format, nullptr, nullptr) < 0 ||
      (muxer->stream = avformat_new_stream(muxer->context, nullptr)) == nullptr) {
    error_ = "the container could not be set up";
    muxer_ = std::move(muxer);
    abandon();
    return false;
  }
  muxer->context->pb = muxer->io;
  muxer->context->flags |= AVFMT_FLAG_CUSTOM_IO;
  AVCodecParameters* codec = muxer->stream->codecpar;
  codec->codec_type = AVMEDIA_TYPE_VIDEO;
  codec->codec_id = AV_CODEC_ID_H263;
  codec->width = width;
  codec->height = height;
  muxer->stream->time_base = kMilliseconds;
  // QuickTime and 3GP are written in fragments of at most a second, each
  // with its own index, so that a recording cut short (the process killed,
  // the machine off) plays up to its last second; Matroska plays without
  // its index as it is.
  AVDictionary* options = nullptr;
  const std::string name = format->name;
  if (name == "mov" || name == "3gp") {
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    av_dict_set(&options, "frag_duration", "1000000", 0);
  }
  const int header = avformat_write_header(muxer->context, &options);
  av_dict_free(&options);
  if (header < 0) {
    // MP4, for one, has no place for H.263.
    error_ = std::string(format->name) + " cannot hold H.263 (try .3gp, .mov or .mkv)";
    muxer_ = std::move(muxer);
    abandon();
    return false;
  }
  muxer_ = std::move(muxer);
  return true;
}

bool Recording::add(const uint8_t* payload, size_t length, double stamp) {
  if (!muxer_ || length == 0 || length > size_t(INT32_MAX)) return muxer_ != nullptr;
  const int64_t now = nowMs();
  if (pictures_ == 0) firstArrivalMs_ = now;
  const int64_t arrival = now - firstArrivalMs_;
  // A picture's time follows its arrival; the server's stamps set the
  // spacing only while they step forward sanely and stay near it, so a
  // clock that jumps (or a stamp that is no number) moves nothing.
  int64_t at = arrival;
  if (pictures_ > 0) {
    const double step = (stamp - lastStamp_) * 86400000.0;
    if (std::isfinite(step) && step > 0 && step < kLargestStepMs) {
      const int64_t byStamp = lastMs_ + int64_t(std::llround(step));
      if (std::llabs(byStamp - arrival) < kMostDriftMs) at = byStamp;
    }
    at = std::max(at, lastMs_ + kShortestSpacingMs);
    // Faster than any camera: a flood is thinned, so the file's length
    // stays that of the time recorded.
    if (at > arrival + kMostAheadMs) return true;
  }
  lastStamp_ = std::isfinite(stamp) ? stamp : 0.0;
  if (muxer_->context == nullptr) {
    if (Muxer::write(muxer_.get(), payload, int(length)) != int(length)) return false;
    lastMs_ = at;
    ++pictures_;
    bytes_ += int64_t(length);
    return true;
  }
  // The payload as it is: av_write_frame neither keeps nor frees it.
  AVPacket* packet = muxer_->packet;
  av_packet_unref(packet);
  packet->data = const_cast<uint8_t*>(payload);
  packet->size = int(length);
  packet->stream_index = muxer_->stream->index;
  packet->pts = packet->dts = av_rescale_q(at, kMilliseconds, muxer_->stream->time_base);
  if (video::h263PictureType(payload, length) == 1) packet->flags |= AV_PKT_FLAG_KEY;
  // Each picture lasts as long as the spacing before it: the last one too
  // (the container takes its length from here), not nothing.
  packet->duration = av_rescale_q(pictures_ > 0 ? at - lastMs_ : kLonePictureMs, kMilliseconds,
                                  muxer_->stream->time_base);
  const bool written = av_write_frame(muxer_->context, packet) >= 0;
  packet->data = nullptr;
  packet->size = 0;
  if (!written) return false;
  lastMs_ = at;
  ++pictures_;
  bytes_ += int64_t(length);
  return true;
}

double Recording::seconds() const {
  return lastMs_ < 0 ? 0.0 : double(lastMs_) / 1000.0;
}

bool Recording::finish() {
  if (!muxer_) return false;
  bool whole = true;
  if (muxer_->context != nullptr) {
    whole = av_write_trailer(muxer_->context) >= 0;
    avio_flush(muxer_->io);
  }
  whole = ::fsync(muxer_->fd) == 0 && whole;
  whole = ::close(muxer_->fd) == 0 && whole;
  muxer_->fd = -1;
  if (!whole || pictures_ == 0 || std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    if (whole && pictures_ > 0) error_ = "the file could not be put in place";
    abandon();
    return false;
  }
  temporary_.clear();
  muxer_.reset();
  return true;
}

std::vector<std::string> keepInterruptedRecordings(const std::string& path) {
  std::vector<std::string> kept;
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string prefix = base + ".part";
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return kept;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  ::closedir(dir);
  const auto dot = base.rfind('.');
  const std::string stem = dot == std::string::npos ? base : base.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : base.substr(dot);
  for (const std::string& name : names) {
    // NAME.partPID-N of a process that has ended.
    const std::string rest = name.substr(prefix.size());
    const auto dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos ||
        rest.find_first_not_of("0123456789-") != std::string::npos) {
      continue;
    }
    const long pid = std::strtol(rest.c_str(), nullptr, 10);
    if (pid <= 0 || ::kill(pid_t(pid), 0) == 0 || errno == EPERM) continue;
    const std::string from = (slash == std::string::npos ? "" : folder) + name;
    struct stat facts {};
    if (::lstat(from.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) continue;
    if (facts.st_size == 0) {
      ::unlink(from.c_str());
      continue;
    }
    const std::string to = (slash == std::string::npos ? "" : folder) + stem + "-interrupted-" +
                           std::to_string(pid) + extension;
    // Never over a file that is there.
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      kept.push_back(to);
    }
  }
  return kept;
}

}  // namespace zenta::cli
