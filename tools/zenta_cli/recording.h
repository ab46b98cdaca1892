// A recording of one channel's H.263 pictures in a standard container (3GP,
// QuickTime or Matroska, chosen by the file name; MP4 has no place for H.263), muxed by libavformat
// without decoding, each picture at the time the server stamped it; or, for
// a name ending in .263, the raw elementary stream (which has no times). The
// file is written under a temporary name of its own (made with O_EXCL and
// O_NOFOLLOW) and renamed into place only when it is finished.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zenta::cli {

class Recording {
 public:
  // Nothing is created yet; `error` says why when open() fails.
  explicit Recording(std::string path);
  ~Recording();  // an unfinished recording leaves no file
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  // Creates the temporary file and the container for pictures of
  // width x height. False when the name's container cannot hold H.263 or
  // the file cannot be made.
  bool open(int width, int height);
  bool opened() const;
  // One coded picture and its server time stamp (days since 1899-12-30).
  // Its time in the file is its arrival's, spaced by the server's stamps
  // while they advance sanely (at most 2 s a picture, within 250 ms of the
  // arrivals), at least 10 ms after the last; pictures that come faster
  // than that for over a second are left out. False on a write error.
  bool add(const uint8_t* payload, size_t length, double stamp);
  // Writes the container's index and renames the file into place.
  bool finish();

  size_t pictures() const { return pictures_; }
  int64_t bytes() const { return bytes_; }
  double seconds() const;
  const std::string& error() const { return error_; }

 private:
  struct Muxer;
  void abandon();

  std::string path_;
  std::string temporary_;
  std::string error_;
  std::unique_ptr<Muxer> muxer_;
  size_t pictures_ = 0;
  int64_t bytes_ = 0;
  double lastStamp_ = 0;
  int64_t firstArrivalMs_ = 0;
  int64_t lastMs_ = -1;
};

// Whether a file name asks for a raw H.263 elementary stream (.263, .h263)
// rather than a container.
bool rawStreamName(const std::string& path);
// Whether a recording can be written under the name: .3gp, .mov, .mkv or a
// raw stream.
bool recordableName(const std::string& path);
// The temporary files of recordings to `path` whose process has ended (it
// was killed, or the machine went off): each is moved to
// NAME-interrupted-PID.EXT beside it, never over a file, and the new names
// are returned; empty ones are removed. What they hold plays up to their
// last second.
std::vector<std::string> keepInterruptedRecordings(const std::string& path);

}  // namespace zenta::cli
