// libjpeg's error handling as the JPEG writers use it: the library's error
// exit jumps back to the caller (who lives on plain data only, so the jump
// skips no destructor), and its messages are dropped (nothing is shown to
// the user).
#pragma once

// clang-format off
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>  // after <cstdio>: it uses FILE
// clang-format on

namespace zenta::video {

// libjpeg's error manager followed by the buffer that its error exit jumps
// back to.
struct JpegErrorJump {
  jpeg_error_mgr library;
  std::jmp_buf jump;
};

[[noreturn]] inline void jpegExitByJump(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegErrorJump*>(info->err)->jump, 1);
}

inline void jpegDropMessage(j_common_ptr) {}

// Points the compressor's error handling at `errors`; the caller then sets
// the jump target with setjmp(errors.jump).
inline void useErrorJump(jpeg_compress_struct& info, JpegErrorJump& errors) {
  info.err = jpeg_std_error(&errors.library);
  errors.library.error_exit = jpegExitByJump;
  errors.library.output_message = jpegDropMessage;
}

}  // namespace zenta::video
