// The headless back end: the framebuffer exists, nothing shows it, and
// input comes only through automation.
#include <thread>

#include "platform/device/backends/backend.h"

namespace zenta::platform {

namespace {

class Headless final : public Backend {
 public:
  const char* name() const override { return "headless"; }
  void present(const Surface&, const std::vector<RECT>&) override {}
  bool poll(int timeoutMs) override {
    if (timeoutMs > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 5)));
    return false;
  }
};

}  // namespace

std::unique_ptr<Backend> openHeadless() {
  return std::make_unique<Headless>();
}

}  // namespace zenta::platform
