// A registry key held by an object: at most one open key, closed on
// destruction too.
#pragma once

#include <string>

#include "platform/registry/registry_api.h"

namespace zenta::platform {

// Owns at most one open registry key; closes it on destruction too.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() { close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // On success the key held so far is closed and the new one held; on
  // failure the old one stays.
  LONG open(HKEY parent, const char16_t* subKey, REGSAM access);
  LONG createKey(HKEY parent, const char16_t* subKey, LPWSTR className, DWORD options,
                 REGSAM access, SECURITY_ATTRIBUTES* security, DWORD* disposition);
  // 0 when nothing is held.
  LONG close();
  // The value's bytes; the type is not returned. The empty name reads the
  // key's default value.
  LONG queryValue(void* buffer, const char16_t* name, DWORD* size);
  // A REG_SZ of the text, its terminating zero included.
  LONG setString(const char16_t* text, const char16_t* name);
  // The subkey at `index` (room for 128 characters), or false.
  bool enumSubkey(DWORD index, std::u16string& name);

  HKEY key() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace zenta::platform
