#include "platform/base/clipboard.h"

#include <mutex>

namespace zenta::platform {

namespace {

std::mutex lock;
ClipboardAccess access;
std::u16string own;

}  // namespace

void setClipboardAccess(ClipboardAccess a) {
  std::lock_guard guard(lock);
  access = std::move(a);
}

std::u16string clipboardText() {
  std::lock_guard guard(lock);
  return access.read ? access.read() : own;
}

void setClipboardText(const std::u16string& text) {
  std::lock_guard guard(lock);
  if (access.write) {
    access.write(text);
  } else {
    own = text;
  }
}

}  // namespace zenta::platform
