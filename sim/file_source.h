// A video file played on a channel: decoded with libavformat and
// libavcodec, scaled to the channel's size with libswscale, looped at its
// end, and advanced by the clock at the channel's rate whoever watches.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "sim/scene.h"

namespace zenta::sim {

class FileSource {
 public:
  using Clock = std::chrono::steady_clock;

  ~FileSource();
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  // Opens the file and decodes its first picture; nothing (and `error` set)
  // when it holds no video that libavcodec decodes.
  static std::unique_ptr<FileSource> open(const std::string& path, int width, int height, int rate,
                                          std::string& error);

  // Copies the picture due at `now` into `out` (the channel's size).
  void pictureAt(Clock::time_point now, YuvImage& out);

 private:
  FileSource() = default;
  bool decodeNext();
  bool readPicture();

  struct State;
  std::unique_ptr<State> state_;
  std::mutex mutex_;
};

}  // namespace zenta::sim
