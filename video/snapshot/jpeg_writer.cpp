#include "video/snapshot/jpeg_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

#include "video/colour/canvas.h"
#include "video/snapshot/jpeg_errors.h"

namespace zenta::video {

namespace {

// Compresses the picture into an open file. Only plain data lives in this
// function, so the jump back from the error exit skips no destructor.
int compress(std::FILE* file, const uint8_t* pixels, unsigned pitch, unsigned width,
             unsigned height, int quality) {
  // Zeroed, so that destroying it is safe even when creating it failed.
  jpeg_compress_struct info{};
  JpegErrorJump errors;
  useErrorJump(info, errors);
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_compress(&info);
    return 0;
  }
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 3;
  info.in_color_space = JCS_EXT_BGR;  // bytes blue, green, red
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    const size_t row = size_t(height) - 1 - info.next_scanline;
    JSAMPROW scanline = const_cast<JSAMPROW>(pixels + 3 * size_t(pitch) * row);
    jpeg_write_scanlines(&info, &scanline, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return 1;
}

// Creates a new file next to `path` under a name nobody else uses.
int createTemporary(const std::string& path, std::string& temporary) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = path + ".part" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

int JpegSnapshotWriter(const char* path, const uint8_t* pixels, unsigned pitch, unsigned width,
                       unsigned height, int quality) {
  if (path == nullptr || pixels == nullptr || pitch == 0 || height == 0) return 0;
  if (width == 0 || width > pitch) return 0;
  const std::string target = path;
  std::string temporary;
  const int fd = createTemporary(target, temporary);
  if (fd < 0) return 0;
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return 0;
  }
  int written = compress(file, pixels, pitch, width, height, quality);
  // The file reaches the disk before it takes its name, so that after a
  // power cut a complete-looking name never holds an empty file.
  if (std::fflush(file) != 0 || ::fsync(fd) != 0) written = 0;
  // Data still buffered by stdio may fail to reach the disk on close.
  if (std::fclose(file) != 0) written = 0;
  if (written == 1 && std::rename(temporary.c_str(), target.c_str()) == 0) {
    // And the rename lasts once the folder is on disk too.
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : target.substr(0, slash);
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
    return 1;
  }
  ::unlink(temporary.c_str());
  return 0;
}

int JpegSnapshotOfPicture(const char* path, const PlanarFrame& picture, int width, int height,
                          int quality) {
  const int w = width & ~1, h = height & ~1;
  if (picture.y == nullptr || w < 2 || h < 2) return 0;
  std::vector<uint8_t> whole(size_t(w) * 3 * size_t(h));
  ConvertPlanarToBgr(whole.data(), w * 3, h, picture.y, picture.cb, picture.cr, w, h,
                     picture.stride);
  return JpegSnapshotWriter(path, whole.data(), unsigned(w), unsigned(w), unsigned(h), quality);
}

}  // namespace zenta::video
