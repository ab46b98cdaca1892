#include "platform/registry/registry_key.h"

namespace zenta::platform {

LONG RegistryKey::open(HKEY parent, const char16_t* subKey, REGSAM access) {
  HKEY opened = nullptr;
  const LONG result = RegOpenKeyExW(parent, subKey, 0, access, &opened);
  if (result == ERROR_SUCCESS) {
    close();
    key_ = opened;
  }
  return result;
}

LONG RegistryKey::createKey(HKEY parent, const char16_t* subKey, LPWSTR className, DWORD options,
                            REGSAM access, SECURITY_ATTRIBUTES* security, DWORD* disposition) {
  HKEY created = nullptr;
  DWORD how = 0;
  const LONG result =
      RegCreateKeyExW(parent, subKey, 0, className, options, access, security, &created, &how);
  if (result == ERROR_SUCCESS) {
    if (disposition != nullptr) *disposition = how;
    close();
    key_ = created;
  }
  return result;
}

LONG RegistryKey::close() {
  if (key_ == nullptr) return 0;
  const LONG result = RegCloseKey(key_);
  key_ = nullptr;
  return result;
}

LONG RegistryKey::queryValue(void* buffer, const char16_t* name, DWORD* size) {
  return RegQueryValueExW(key_, name, nullptr, nullptr, static_cast<BYTE*>(buffer), size);
}

LONG RegistryKey::setString(const char16_t* text, const char16_t* name) {
  const std::u16string value = text == nullptr ? u"" : text;
  return RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        DWORD((value.size() + 1) * 2));
}

bool RegistryKey::enumSubkey(DWORD index, std::u16string& name) {
  char16_t buffer[128];
  DWORD length = 128;
  if (RegEnumKeyExW(key_, index, buffer, &length, nullptr, nullptr, nullptr, nullptr) !=
      ERROR_SUCCESS)
    return false;
  name.assign(buffer, length);
  return true;
}

}  // namespace zenta::platform
