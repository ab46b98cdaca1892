// The device's registry calls, on the store.
#include "platform/registry/registry.h"

#include <algorithm>
#include <cstring>

#include "platform/registry/registry_api.h"
#include "platform/registry/store.h"

namespace zenta::platform {

namespace {

std::vector<std::u16string> split(LPCWSTR subKey) {
  std::vector<std::u16string> parts;
  if (subKey == nullptr) return parts;
  std::u16string part;
  for (const char16_t* p = subKey;; ++p) {
    if (*p == u'\\' || *p == 0) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
      if (*p == 0) break;
    } else {
      part.push_back(*p);
    }
  }
  return parts;
}

}  // namespace

void setRegistryFile(const std::string& path) {
  Registry::instance().setFile(path);
}
std::string registryFile() {
  return Registry::instance().file();
}

}  // namespace zenta::platform

using namespace zenta::platform;

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Registry& r = Registry::instance();
  return r.run(false, [&](bool&) -> LONG {
    if (!r.knownHandle(key)) return ERROR_INVALID_HANDLE;
    bool created = false;
    OpenKey where;
    if (r.resolve(key, split(subKey), false, created, &where) == nullptr)
      return ERROR_FILE_NOT_FOUND;
    *result = reinterpret_cast<HKEY>(r.open(where));
    return ERROR_SUCCESS;
  });
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, SECURITY_ATTRIBUTES*,
                     HKEY* result, DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Registry& r = Registry::instance();
  const auto parts = split(subKey);
  return r.run(true, [&](bool& changed) -> LONG {
    if (!r.knownHandle(key)) return ERROR_INVALID_HANDLE;
    if (!r.withinLimits(key, parts)) return ERROR_INVALID_PARAMETER;
    bool created = false;
    OpenKey where;
    if (r.resolve(key, parts, true, created, &where) == nullptr) return ERROR_FILE_NOT_FOUND;
    changed = created;
    if (disposition != nullptr)
      *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = reinterpret_cast<HKEY>(r.open(where));
    return ERROR_SUCCESS;
  });
}

LONG RegCloseKey(HKEY key) {
  Registry& r = Registry::instance();
  if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  return r.run(false, [&](bool&) -> LONG {
    return r.close(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  });
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  Registry& r = Registry::instance();
  return r.run(false, [&](bool&) -> LONG {
    if (!r.knownHandle(key)) return ERROR_INVALID_HANDLE;
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    bool created = false;
    Key* k = r.resolve(key, {}, false, created, nullptr);
    if (k == nullptr) return ERROR_FILE_NOT_FOUND;  // deleted meanwhile
    const Value* v = findValue(*k, name);
    if (v == nullptr) return ERROR_FILE_NOT_FOUND;
    if (type != nullptr) *type = v->type;
    const auto needed = DWORD(v->data.size());
    if (size == nullptr) return ERROR_SUCCESS;
    if (data == nullptr) {
      *size = needed;
      return ERROR_SUCCESS;
    }
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::copy(v->data.begin(), v->data.end(), data);
    *size = needed;
    return ERROR_SUCCESS;
  });
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  Registry& r = Registry::instance();
  return r.run(true, [&](bool& changed) -> LONG {
    if (!r.knownHandle(key)) return ERROR_INVALID_HANDLE;
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    if (size > (1u << 20)) return ERROR_INVALID_PARAMETER;
    bool created = false;
    Key* k = r.resolve(key, {}, false, created, nullptr);
    if (k == nullptr) return ERROR_FILE_NOT_FOUND;
    Value* v = findValue(*k, name);
    if (v == nullptr) {
      k->values.push_back(Value{name == nullptr ? u"" : name, type, {}});
      v = &k->values.back();
    }
    v->type = type;
    v->data.assign(data, data + size);
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameSize, DWORD*, LPWSTR, DWORD*,
                   FILETIME*) {
  if (name == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
  Registry& r = Registry::instance();
  return r.run(false, [&](bool&) -> LONG {
    if (!r.knownHandle(key)) return ERROR_INVALID_HANDLE;
    bool created = false;
    Key* k = r.resolve(key, {}, false, created, nullptr);
    if (k == nullptr) return ERROR_FILE_NOT_FOUND;
    if (index >= k->children.size()) return ERROR_NO_MORE_ITEMS;
    const std::u16string& child = k->children[index]->name;
    if (*nameSize < child.size() + 1) {
      *nameSize = DWORD(child.size());
      return ERROR_MORE_DATA;
    }
    std::copy(child.begin(), child.end(), name);
    name[child.size()] = 0;
    *nameSize = DWORD(child.size());
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  const auto parts = split(subKey);
  if (parts.empty()) return ERROR_INVALID_PARAMETER;
  Registry& r = Registry::instance();
  return r.run(true, [&](bool& changed) -> LONG {
    if (!r.knownHandle(key)) return ERROR_INVALID_HANDLE;
    bool created = false;
    const std::vector<std::u16string> parentPath(parts.begin(), parts.end() - 1);
    Key* parent = r.resolve(key, parentPath, false, created, nullptr);
    if (parent == nullptr) return ERROR_FILE_NOT_FOUND;
    auto& children = parent->children;
    for (auto it = children.begin(); it != children.end(); ++it) {
      if (sameName((*it)->name, parts.back())) {
        children.erase(it);
        changed = true;
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  });
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
  Registry& r = Registry::instance();
  return r.run(true, [&](bool& changed) -> LONG {
    if (!r.knownHandle(key)) return ERROR_INVALID_HANDLE;
    bool created = false;
    Key* k = r.resolve(key, {}, false, created, nullptr);
    if (k == nullptr) return ERROR_FILE_NOT_FOUND;
    const std::u16string_view wanted =
        name == nullptr ? std::u16string_view() : std::u16string_view(name);
    for (auto it = k->values.begin(); it != k->values.end(); ++it) {
      if (sameName(it->name, wanted)) {
        k->values.erase(it);
        changed = true;
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  });
}
