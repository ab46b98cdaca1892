// libFuzzer target: a stream of H.263 pictures, split at the picture start
// codes and decoded one after the other by one decoder, as a channel would.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_target.h"
#include "video/h263/decoder.h"
#include "video/h263/stream_split.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zenta::video;
  H263DecoderHandle handle;
  if (h263Create(handle) != 0) return 0;
  PlanarFrame* frame = nullptr;
  // The low bit of the last byte chooses how the input reaches the decoder:
  // clear, split at the picture start codes and decoded one after the other
  // as a channel would; set, as one payload, start codes inside it and all.
  // Each input takes one way, so no picture is decoded twice.
  if (size > 0 && (data[size - 1] & 1) != 0) {
    h263Decode(handle, &frame, data, size);
    h263Destroy(handle);
    return 0;
  }
  // A few pictures carry every path from intra to inter and back: longer
  // streams only repeat them, at the cost of the fuzzer's speed.
  constexpr size_t kPictures = 6;
  const auto pictures = splitPictures(std::span<const uint8_t>(data, size));
  for (size_t i = 0; i < pictures.size() && i < kPictures; ++i) {
    const auto picture = pictures[i];
    if (h263Decode(handle, &frame, picture.data(), picture.size()) < 0) continue;
    // Touch the corners of the picture handed out.
    volatile uint8_t sink = frame->y[0];
    sink = frame->cr[(handle.height / 2 - 1) * (frame->stride / 2) + handle.width / 2 - 1];
    (void)sink;
  }
  h263Destroy(handle);
  return 0;
}
