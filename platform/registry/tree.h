// The registry's keys and values in memory, and how names compare: without
// case, as the device does.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/text.h"
#include "platform/registry/registry_api.h"

namespace zenta::platform {

// How deep keys go below a root and how long a key's name may be. The tree
// is written, read and freed recursively, and each key's line in the file
// carries its whole path; the limits keep all of that bounded whatever a
// file holds.
inline constexpr size_t kMaxKeyDepth = 512;
inline constexpr size_t kMaxKeyNameLength = 255;
// The registry file's size at the most: a change that would make it larger
// is refused, and a larger file is kept aside as a damaged one is.
inline constexpr size_t kMaxRegistryBytes = size_t{4} << 20;

struct Value {
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

struct Key {
  std::u16string name;
  std::vector<std::unique_ptr<Key>> children;  // creation order
  std::vector<Value> values;                   // creation order
};

// The two roots, in the file and as indexes: 0 is the current user's.
inline constexpr const char* kRootNames[2] = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};

inline bool sameName(std::u16string_view a, std::u16string_view b) {
  return equalFolded(a, b);
}

// An open key: its root and the names on the way to it.
struct OpenKey {
  int root = 0;
  std::vector<std::u16string> path;
};

inline Value* findValue(Key& key, LPCWSTR name) {
  const std::u16string_view wanted =
      name == nullptr ? std::u16string_view() : std::u16string_view(name);
  for (Value& v : key.values) {
    if (sameName(v.name, wanted)) return &v;
  }
  return nullptr;
}

}  // namespace zenta::platform
