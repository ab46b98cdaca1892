// Where the viewer keeps its files by default: the user's pictures folder,
// so that snapshots land where a desktop user looks for pictures.
#pragma once

#include <string>

namespace zenta::viewer {

// $XDG_PICTURES_DIR when set; else the XDG_PICTURES_DIR line of
// $XDG_CONFIG_HOME/user-dirs.dirs (~/.config/user-dirs.dirs), with $HOME
// expanded; else ~/Pictures. Empty when there is no home folder.
std::string picturesFolder();

}  // namespace zenta::viewer
