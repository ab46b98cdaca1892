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
  // One decoder for the whole run, put back in its fresh state for each
  // input: every input decodes as on a new decoder, without allocating and
  // faulting in two new frames each time.
  // Pictures are limited to the area of CIF. Every header is still parsed
  // whole; the standard 4CIF and 16CIF sizes are refused after it, while a
  // custom tall picture (176 x 576 has that area) still takes the layouts
  // with two and four macroblock rows a group. A larger limit spends most of
  // the run allocating, clearing and concealing megabyte frames.
  static H263DecoderHandle handle = [] {
    H263DecoderHandle h;
    h263Create(h);
    h263SetMaxPixels(h, 352 * 288);
    return h;
  }();
  if (h263Reset(handle) != 0) return 0;
  PlanarFrame* frame = nullptr;
  // The low bit of the last byte chooses how the input reaches the decoder:
  // clear, split at the picture start codes and decoded one after the other
  // as a channel would; set, as one payload, start codes inside it and all.
  // Each input takes one way, so no picture is decoded twice.
  if (size > 0 && (data[size - 1] & 1) != 0) {
    h263Decode(handle, &frame, data, size);
    return 0;
  }
  // Three pictures carry the paths from intra to inter, a size change and
  // back to intra: longer streams only repeat them, at the cost of the
  // fuzzer's speed.
  constexpr size_t kPictures = 3;
  const auto pictures = splitPictures(std::span<const uint8_t>(data, size));
  for (size_t i = 0; i < pictures.size() && i < kPictures; ++i) {
    const auto picture = pictures[i];
    if (h263Decode(handle, &frame, picture.data(), picture.size()) < 0) continue;
    // Touch the corners of the picture handed out.
    volatile uint8_t sink = frame->y[0];
    sink = frame->cr[(handle.height / 2 - 1) * (frame->stride / 2) + handle.width / 2 - 1];
    (void)sink;
  }
  return 0;
}
