// The program's module: its handle and its file name on the device.
#include "platform/wm/window_manager.h"

#include <unistd.h>
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/base/files.h"
#include "platform/base/text.h"
#include "platform/screen/screen.h"
#include "platform/wm/peers.h"
#include "platform/wm/state.h"
#include "platform/wm/wm_api.h"

using namespace zenta::platform;

HMODULE GetModuleHandleW(LPCWSTR name) {
  return name == nullptr ? reinterpret_cast<HMODULE>(uintptr_t{0x10000}) : nullptr;
}

DWORD GetModuleFileNameW(HMODULE, LPWSTR buffer, DWORD size) {
  if (buffer == nullptr || size == 0) return 0;
  const std::u16string path = programDevicePath();
  const DWORD count = std::min<DWORD>(DWORD(path.size()), size - 1);
  std::copy_n(path.begin(), count, buffer);
  buffer[count] = 0;
  return count;
}
