// libavcodec's H.263 encoders as a channel connection uses them: baseline
// H.263 for the standard sizes, H.263+ for the others; one thread, square
// pixels, no optional modes, GOB headers only when asked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/scene.h"

namespace zenta::sim {

class PictureEncoder {
 public:
  ~PictureEncoder();
  PictureEncoder(const PictureEncoder&) = delete;
  PictureEncoder& operator=(const PictureEncoder&) = delete;

  // Nothing (and `error` set) when libavcodec cannot open the encoder.
  static std::unique_ptr<PictureEncoder> create(const ChannelConfig& channel, std::string& error);

  // Codes `image` at picture slot `slot` (slots count frame intervals, so
  // skipped slots keep the time references right). `intra` forces an intra
  // picture. `coded` receives the picture; false when none came out.
  bool encode(const YuvImage& image, int64_t slot, bool intra, std::vector<uint8_t>& coded);

  const char* codecName() const;
  // Whether the last picture coded is an intra picture.
  bool lastIntra() const;

 private:
  PictureEncoder() = default;
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zenta::sim
