// Where the device registry is kept: one readable text file, mode 0600,
// rewritten on every change (a new file renamed over the old one) and locked
// around every read-modify-write, so that several programs share it safely.
#pragma once

#include <string>

namespace zenta::platform {

// The store's file; by default $XDG_CONFIG_HOME/zenta/registry (or
// ~/.config/zenta/registry). Set before the first registry call.
void setRegistryFile(const std::string& path);
std::string registryFile();

}  // namespace zenta::platform
