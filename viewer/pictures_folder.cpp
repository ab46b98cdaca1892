#include "viewer/pictures_folder.h"

#include <cstdlib>
#include <fstream>

namespace zenta::viewer {

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The value of XDG_PICTURES_DIR="..." in the user-dirs file, "$HOME" expanded.
std::string fromUserDirs(const std::string& home) {
  const std::string config =
      env("XDG_CONFIG_HOME").empty() ? home + "/.config" : env("XDG_CONFIG_HOME");
  std::ifstream in(config + "/user-dirs.dirs");
  const std::string key = "XDG_PICTURES_DIR=\"";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key, 0) != 0) continue;
    const size_t end = line.find('"', key.size());
    if (end == std::string::npos) return "";
    std::string value = line.substr(key.size(), end - key.size());
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    // Only an absolute folder; the file may not name another user's place.
    return value.empty() || value[0] != '/' || value == home ? "" : value;
  }
  return "";
}

}  // namespace

std::string picturesFolder() {
  if (const std::string set = env("XDG_PICTURES_DIR"); !set.empty() && set[0] == '/') return set;
  const std::string home = env("HOME");
  if (home.empty()) return "";
  if (const std::string listed = fromUserDirs(home); !listed.empty()) return listed;
  return home + "/Pictures";
}

}  // namespace zenta::viewer
