#include "platform/base/files.h"
#include "platform/base/text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>

#include "platform/base/files_api.h"

namespace zenta::platform {

namespace {

std::mutex rootLock;
std::string rootFolder = ".";
thread_local DWORD lastError = ERROR_SUCCESS;

constexpr std::u16string_view kProgramFolder = u"\\Program\\";

std::filesystem::path executable() {
  std::error_code error;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : path;
}

// Joins the device path's parts (separated by \ or /) below a host folder.
std::optional<std::string> below(const std::string& folder, std::u16string_view rest) {
  std::string out = folder;
  std::string part;
  const auto flush = [&]() -> bool {
    if (part == "..") return false;
    if (!part.empty() && part != ".") out += "/" + part;
    part.clear();
    return true;
  };
  for (const char16_t c : rest) {
    if (c == u'\\' || c == u'/') {
      if (!flush()) return std::nullopt;
    } else if (c == 0) {
      return std::nullopt;
    } else {
      // UTF-8 for the host's file names.
      part += toUtf8(std::u16string_view(&c, 1));
    }
  }
  if (!flush()) return std::nullopt;
  return out;
}

}  // namespace

void setDeviceRoot(const std::string& folder) {
  std::lock_guard guard(rootLock);
  rootFolder = folder.empty() ? "." : folder;
}

std::string deviceRoot() {
  std::lock_guard guard(rootLock);
  return rootFolder;
}

std::string programFolder() {
  // An installed program keeps its data apart from the binaries:
  // <prefix>/bin/NAME finds it in <prefix>/share/NAME. In a build tree the
  // data lies next to the program.
  const std::filesystem::path program = executable();
  const std::filesystem::path folder = program.parent_path();
  if (folder.filename() == "bin") {
    const std::filesystem::path data = folder.parent_path() / "share" / program.filename();
    std::error_code error;
    if (std::filesystem::is_directory(data, error)) return data.string();
  }
  return folder.string();
}

std::optional<std::string> hostPath(std::u16string_view path) {
  if (path.empty()) return std::nullopt;
  if (path.substr(0, kProgramFolder.size()) == kProgramFolder) {
    return below(programFolder(), path.substr(kProgramFolder.size()));
  }
  return below(deviceRoot(), path);
}

std::optional<std::string> hostPath(std::string_view path) {
  std::u16string wide;
  for (const char c : path)
    wide.push_back(char16_t(static_cast<unsigned char>(c)));
  return hostPath(std::u16string_view(wide));
}

std::u16string programDevicePath() {
  const std::string name = executable().filename().string();
  return std::u16string(kProgramFolder) + std::u16string(name.begin(), name.end());
}

}  // namespace zenta::platform

using namespace zenta::platform;

BOOL CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES*) {
  const auto host = path == nullptr ? std::nullopt : hostPath(std::u16string_view(path));
  if (!host) {
    lastError = ERROR_INVALID_NAME;
    return FALSE;
  }
  if (::mkdir(host->c_str(), 0777) == 0) {
    lastError = ERROR_SUCCESS;
    return TRUE;
  }
  lastError = errno == EEXIST   ? ERROR_ALREADY_EXISTS
              : errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                : ERROR_ACCESS_DENIED;
  return FALSE;
}

DWORD GetLastError() {
  return lastError;
}
void SetLastError(DWORD error) {
  lastError = error;
}
