// The mapping of device paths onto host paths.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zenta::platform {

// The device root (host folder); the current folder by default.
void setDeviceRoot(const std::string& folder);
std::string deviceRoot();

// The host path of a device path, or nothing for a path that would leave
// its folder ("..") or is empty.
std::optional<std::string> hostPath(std::u16string_view devicePath);
std::optional<std::string> hostPath(std::string_view devicePath);

// The host folder of "\Program\": <prefix>/share/NAME for a program
// installed as <prefix>/bin/NAME, else the folder of the executable.
std::string programFolder();

// The device path of the running program: "\Program\" and its file name.
std::u16string programDevicePath();

}  // namespace zenta::platform
