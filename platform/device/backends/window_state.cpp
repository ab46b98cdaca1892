#include "platform/device/backends/window_state.h"

#include <unistd.h>

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

}  // namespace zenta::platform
