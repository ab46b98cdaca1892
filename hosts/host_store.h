// The saved video servers: one registry key per host under the store's root
// key, holding "User" and "Pass", and the root's default value naming the
// host confirmed last. The host in use is copied into the login fields of
// the viewer state (the working copy), which the stream client reads.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stream/login.h"

namespace zenta::hosts {

inline constexpr const char16_t* kStoreKey = u"Software\\Zentaco\\Zenta";
// What the working copy holds, terminating zero not counted.
inline constexpr size_t kHostCapacity = 39;
inline constexpr size_t kAccountCapacity = 19;
inline constexpr size_t kPasswordCapacity = 19;

// A host text that can name a key of its own: not empty and without the
// registry's path separator. Others stay in the working copy only.
bool storableHostText(std::u16string_view host);

// Operations without state of their own: the registry is the store. All
// failures are silent; every text is cut to its capacity in the working
// copy, so nothing longer is ever stored or loaded.
class HostStore {
 public:
  explicit HostStore(stream::Login& login) : login_(login) {}

  // Fills the working copy from the remembered host (empty texts and guest
  // login when there is none).
  void loadRemembered();
  // The host keys' names, in the registry's order.
  std::vector<std::u16string> listHosts();
  // The remembered-host text; nothing when the root key or value is absent.
  std::optional<std::u16string> rememberedHost();
  // Makes the saved host `name` current; true when the fields changed.
  bool loadHost(std::u16string_view name);
  // Stores the host and makes it the remembered one. False when the
  // registry did not take it all (the working copy holds it all the same).
  bool saveHost(std::u16string_view host, std::u16string_view account, std::u16string_view password,
                bool guest);
  // Removes a saved host; true when it was the current host.
  bool deleteHost(std::u16string_view name);

 private:
  stream::Login& login_;
};

}  // namespace zenta::hosts
