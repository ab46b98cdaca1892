#include "hosts/host_store.h"

#include <mutex>

#include "platform/base/text.h"
#include "platform/registry/registry_key.h"

namespace zenta::hosts {

namespace {

using platform::RegistryKey;

// Reads of a value accept at most 180 bytes.
constexpr DWORD kValueBytes = 180;

std::u16string cut(std::u16string_view text, size_t capacity) {
  return std::u16string(text.substr(0, capacity));
}

// Reads a text value; nothing when it is absent or does not fit.
std::optional<std::u16string> readText(RegistryKey& key, const char16_t* name) {
  char16_t buffer[kValueBytes / 2 + 1] = {};
  DWORD size = kValueBytes;
  if (key.queryValue(buffer, name, &size) != ERROR_SUCCESS) return std::nullopt;
  buffer[std::min<DWORD>(size, kValueBytes) / 2] = 0;
  return std::u16string(buffer);
}

std::u16string hostKeyPath(std::u16string_view name) {
  return std::u16string(kStoreKey) + u"\\" + std::u16string(name);
}

// The stored spelling of the subkey of the open root whose name equals
// `name` without case, as the registry compares key names: "dvr" and "DVR"
// are one host.
std::optional<std::u16string> findHostKey(RegistryKey& root, std::u16string_view name) {
  std::u16string entry;
  for (DWORD i = 0; root.enumSubkey(i, entry); ++i) {
    if (platform::equalFolded(entry, name)) return entry;
  }
  return std::nullopt;
}

}  // namespace

bool storableHostText(std::u16string_view host) {
  return !host.empty() && host.find(u'\\') == std::u16string_view::npos;
}

void HostStore::loadRemembered() {
  {
    login_.host.clear();
    login_.account.clear();
    login_.password.clear();
  }
  login_.guest = true;
  RegistryKey root;
  if (root.open(HKEY_LOCAL_MACHINE, kStoreKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
  const std::u16string named = cut(readText(root, u"").value_or(u""), kHostCapacity);
  const auto stored = named.empty() ? std::nullopt : findHostKey(root, named);
  if (!stored) return;
  const std::u16string remembered = cut(*stored, kHostCapacity);
  RegistryKey host;
  host.open(HKEY_LOCAL_MACHINE, hostKeyPath(remembered).c_str(), KEY_ALL_ACCESS);
  const std::u16string account =
      host.key() ? cut(readText(host, u"User").value_or(u""), kAccountCapacity) : u"";
  const std::u16string password =
      host.key() ? cut(readText(host, u"Pass").value_or(u""), kPasswordCapacity) : u"";
  login_.host = remembered;
  login_.account = account;
  login_.password = password;
  login_.guest = account.empty();
}

std::vector<std::u16string> HostStore::listHosts() {
  std::vector<std::u16string> hosts;
  RegistryKey root;
  if (root.open(HKEY_LOCAL_MACHINE, kStoreKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) return hosts;
  std::u16string entry;
  for (DWORD i = 0; root.enumSubkey(i, entry); ++i)
    hosts.push_back(entry);
  return hosts;
}

std::optional<std::u16string> HostStore::rememberedHost() {
  RegistryKey root;
  if (root.open(HKEY_LOCAL_MACHINE, kStoreKey, KEY_ALL_ACCESS) != ERROR_SUCCESS)
    return std::nullopt;
  return readText(root, u"");
}

bool HostStore::loadHost(std::u16string_view name) {
  {
    if (platform::equalFolded(name, login_.host)) return false;
  }
  RegistryKey root;
  if (root.open(HKEY_LOCAL_MACHINE, kStoreKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) return false;
  const auto stored = findHostKey(root, name);
  if (!stored) return false;
  RegistryKey host;
  host.open(HKEY_LOCAL_MACHINE, hostKeyPath(*stored).c_str(), KEY_ALL_ACCESS);
  const std::u16string account =
      host.key() ? cut(readText(host, u"User").value_or(u""), kAccountCapacity) : u"";
  login_.account = account;
  login_.host = cut(*stored, kHostCapacity);
  if (account.empty()) {
    login_.password.clear();
    login_.guest = true;
  } else {
    login_.guest = false;
    // Not emptied first: without a "Pass" value the previous password stays.
    if (const auto password = host.key() ? readText(host, u"Pass") : std::nullopt)
      login_.password = cut(*password, kPasswordCapacity);
  }
  return true;
}

bool HostStore::saveHost(std::u16string_view host, std::u16string_view account,
                         std::u16string_view password, bool guest) {
  std::u16string hostText = cut(host, kHostCapacity);
  // A saved host of the same name but for case is this host: it keeps its
  // spelling.
  if (RegistryKey root; storableHostText(hostText) &&
                        root.open(HKEY_LOCAL_MACHINE, kStoreKey, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
    if (const auto stored = findHostKey(root, hostText)) hostText = cut(*stored, kHostCapacity);
  }
  const std::u16string accountText = cut(account, kAccountCapacity);
  const std::u16string passwordText = cut(password, kPasswordCapacity);
  {
    // For a guest the typed account and password stay in the working copy.
    login_.host = hostText;
    login_.account = accountText;
    login_.password = passwordText;
    login_.guest = guest;
  }
  // An empty text would address the root key itself, a separator a nested
  // key that no list shows: such a host lives in the working copy only.
  if (!storableHostText(hostText)) return false;
  RegistryKey key;
  bool stored = false;
  if (key.createKey(HKEY_LOCAL_MACHINE, hostKeyPath(hostText).c_str(), nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, nullptr) == ERROR_SUCCESS) {
    stored = key.setString(guest ? u"" : accountText.c_str(), u"User") == ERROR_SUCCESS;
    stored = key.setString(guest ? u"" : passwordText.c_str(), u"Pass") == ERROR_SUCCESS && stored;
  }
  const bool remembered =
      key.open(HKEY_LOCAL_MACHINE, kStoreKey, KEY_ALL_ACCESS) == ERROR_SUCCESS &&
      key.setString(hostText.c_str(), u"") == ERROR_SUCCESS;
  return stored && remembered;
}

bool HostStore::deleteHost(std::u16string_view name) {
  RegistryKey root;
  if (root.open(HKEY_LOCAL_MACHINE, kStoreKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) return false;
  // An empty name deletes nothing (it would name the root itself); nor does
  // one with a separator, which names no host key.
  if (storableHostText(name)) RegDeleteKeyW(root.key(), std::u16string(name).c_str());
  if (!platform::equalFolded(name, login_.host)) return false;
  login_.host.clear();
  root.setString(u"", u"");
  return true;
}

}  // namespace zenta::hosts
