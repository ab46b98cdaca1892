#include "platform/device/backends/window_state.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zenta::platform {

std::optional<WindowPlace> readWindowPlace(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line) || line.size() > 200) return std::nullopt;
  std::istringstream fields(line);
  WindowPlace p;
  int maximised = 0;
  std::string rest;
  if (!(fields >> p.x >> p.y >> p.width >> p.height >> maximised) || (fields >> rest)) {
    return std::nullopt;
  }
  const bool sane = p.width >= 1 && p.height >= 1 && p.width <= 32768 && p.height <= 32768 &&
                    p.x > -32768 && p.x < 32768 && p.y > -32768 && p.y < 32768 &&
                    (maximised == 0 || maximised == 1);
  if (!sane) return std::nullopt;
  p.maximised = maximised == 1;
  return p;
}

bool writeWindowPlace(const std::string& path, const WindowPlace& place) {
  std::error_code ignored;
  const std::filesystem::path target(path);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ignored);
  const std::string temporary = path + ".new" + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << place.x << ' ' << place.y << ' ' << place.width << ' ' << place.height << ' '
        << (place.maximised ? 1 : 0) << '\n';
    if (!out.flush()) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

WindowPlace placeOnScreens(const WindowPlace& kept, const std::vector<RECT>& screens) {
  // The strip along the window's top (where its title bar is grabbed) must
  // show this much on one screen.
  const int wantedWidth = std::min(kept.width, 120), wantedHeight = std::min(kept.height, 40);
  for (const RECT& s : screens) {
    const int left = std::max(kept.x, s.left), right = std::min(kept.x + kept.width, s.right);
    const int top = std::max(kept.y, s.top), bottom = std::min(kept.y + wantedHeight, s.bottom);
    if (right - left >= wantedWidth && bottom - top >= wantedHeight) return kept;
  }
  if (screens.empty()) return kept;
  const RECT& main = screens.front();
  WindowPlace moved = kept;
  moved.width = std::min(kept.width, int(main.right - main.left));
  moved.height = std::min(kept.height, int(main.bottom - main.top));
  moved.x = main.left + (main.right - main.left - moved.width) / 2;
  moved.y = main.top + (main.bottom - main.top - moved.height) / 2;
  return moved;
}

}  // namespace zenta::platform
