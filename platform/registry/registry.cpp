#include "platform/registry/registry.h"
#include "platform/base/text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/windows.h"

namespace zenta::platform {

namespace {

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

constexpr const char* kRootNames[2] = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};

bool sameName(std::u16string_view a, std::u16string_view b) {
  return equalFolded(a, b);
}

// An open key: its root and the names on the way to it.
struct OpenKey {
  int root = 0;
  std::vector<std::u16string> path;
};

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

// Text escaping for the file: printable ASCII stays, the rest is \uXXXX.
std::string escape(std::u16string_view text) {
  std::string out;
  char buffer[8];
  for (const char16_t c : text) {
    if (c == u'"' || c == u'\\') {
      out.push_back('\\');
      out.push_back(char(c));
    } else if (c >= 0x20 && c < 0x7F) {
      out.push_back(char(c));
    } else {
      std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(c));
      out += buffer;
    }
  }
  return out;
}

// Key names in a key path: the path's separator is a backslash, so a name
// escapes with %XXXX instead (every character outside printable ASCII, and
// the separator, the escape and the brackets and quote of the line).
std::string escapeKeyName(std::u16string_view name) {
  std::string out;
  char buffer[8];
  for (const char16_t c : name) {
    if (c >= 0x20 && c < 0x7F && c != u'\\' && c != u'%' && c != u'[' && c != u']' && c != u'"') {
      out.push_back(char(c));
    } else {
      std::snprintf(buffer, sizeof buffer, "%%%04x", unsigned(c));
      out += buffer;
    }
  }
  return out;
}

bool unescapeKeyName(std::string_view text, std::u16string& out) {
  out.clear();
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '%') {
      out.push_back(char16_t(static_cast<unsigned char>(text[at])));
      continue;
    }
    if (at + 4 >= text.size()) return false;
    unsigned v = 0;
    for (size_t i = 1; i <= 4; ++i) {
      const char d = text[at + i];
      const int digit = d >= '0' && d <= '9'   ? d - '0'
                        : d >= 'a' && d <= 'f' ? d - 'a' + 10
                        : d >= 'A' && d <= 'F' ? d - 'A' + 10
                                               : -1;
      if (digit < 0) return false;
      v = v << 4 | unsigned(digit);
    }
    out.push_back(char16_t(v));
    at += 4;
  }
  return true;
}

// Reads a quoted, escaped text at `at`; false when it is malformed.
bool unescape(const std::string& line, size_t& at, std::u16string& out) {
  if (at >= line.size() || line[at] != '"') return false;
  out.clear();
  for (++at; at < line.size(); ++at) {
    const char c = line[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c != '\\') {
      out.push_back(char16_t(static_cast<unsigned char>(c)));
      continue;
    }
    if (++at >= line.size()) return false;
    if (line[at] == '"' || line[at] == '\\') {
      out.push_back(char16_t(line[at]));
    } else if (line[at] == 'u' && at + 4 < line.size()) {
      char* end = nullptr;
      const std::string digits = line.substr(at + 1, 4);
      const unsigned long v = std::strtoul(digits.c_str(), &end, 16);
      if (end != digits.c_str() + 4) return false;
      out.push_back(char16_t(v));
      at += 4;
    } else {
      return false;
    }
  }
  return false;
}

// A REG_SZ whose bytes are one zero-terminated text without other zeros is
// written as text; anything else as hex bytes, so every value reads back
// exactly.
bool asText(const Value& v, std::u16string& text) {
  if (v.type != REG_SZ || v.data.size() < 2 || v.data.size() % 2 != 0) return false;
  text.clear();
  for (size_t i = 0; i + 2 <= v.data.size(); i += 2)
    text.push_back(char16_t(v.data[i] | v.data[i + 1] << 8));
  if (text.back() != 0) return false;
  text.pop_back();
  return text.find(char16_t(0)) == std::u16string::npos;
}

void writeKey(std::ostringstream& out, const Key& key, const std::string& path) {
  out << "[" << path << "]\n";
  for (const Value& v : key.values) {
    out << (v.name.empty() ? std::string("@") : "\"" + escape(v.name) + "\"") << "=";
    std::u16string text;
    if (asText(v, text)) {
      out << "sz:\"" << escape(text) << "\"\n";
    } else {
      out << "hex(" << v.type << "):";
      char buffer[4];
      for (size_t i = 0; i < v.data.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", v.data[i]);
        out << (i ? "," : "") << buffer;
      }
      out << "\n";
    }
  }
  for (const auto& child : key.children)
    writeKey(out, *child, path + "\\" + escapeKeyName(child->name));
}

struct Stamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec modified{};
  bool operator==(const Stamp& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
  }
};

class Registry {
 public:
  static Registry& instance() {
    static Registry r;
    return r;
  }

  void setFile(const std::string& path) {
    std::lock_guard guard(lock_);
    file_ = path;
    loaded_ = Stamp{};
    loadedOnce_ = false;
    for (Key& root : roots_)
      root = Key{};
  }

  std::string file() {
    std::lock_guard guard(lock_);
    return fileLocked();
  }

  // Runs `work` on the current store, under the process's and the file's
  // locks; saves it when `work` changed it.
  template <typename Work>
  LONG run(bool write, Work work) {
    std::lock_guard guard(lock_);
    const std::string path = fileLocked();
    makeFolders(std::filesystem::path(path).parent_path());  // failures show as a failed open
    const int lockFd =
        ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    const bool locked = lockFd >= 0 && ::flock(lockFd, write ? LOCK_EX : LOCK_SH) == 0;
    // A change without the lock could undo another program's; a read
    // without it (a folder that is not ours to write) sees a whole file all
    // the same, since every save renames a complete file into place.
    if (write && !locked) {
      if (lockFd >= 0) ::close(lockFd);
      return ERROR_ACCESS_DENIED;
    }
    LONG result = ERROR_ACCESS_DENIED;
    if (reload(path)) {
      bool changed = false;
      result = work(changed);
      if (write && changed && !save(path)) {
        result = ERROR_ACCESS_DENIED;
        loadedOnce_ = false;  // the next call reads what the file really holds
      }
    }
    if (lockFd >= 0) ::close(lockFd);  // releases the lock
    return result;
  }

  Key& root(int index) { return roots_[index]; }

  uintptr_t open(OpenKey key) {
    handles_[next_ += 4] = std::move(key);
    return next_;
  }
  bool close(uintptr_t h) { return handles_.erase(h) != 0; }

  // The key a handle and a sub-key name lead to; nothing when a part is
  // missing (and `create` is false).
  Key* resolve(HKEY handle, const std::vector<std::u16string>& more, bool create, bool& created,
               OpenKey* where) {
    OpenKey start;
    const uintptr_t h = reinterpret_cast<uintptr_t>(handle);
    if (handle == HKEY_CURRENT_USER || handle == HKEY_LOCAL_MACHINE) {
      start.root = handle == HKEY_CURRENT_USER ? 0 : 1;
    } else {
      const auto it = handles_.find(h);
      if (it == handles_.end()) return nullptr;
      start = it->second;
    }
    Key* key = &roots_[start.root];
    std::vector<std::u16string> path = start.path;
    path.insert(path.end(), more.begin(), more.end());
    created = false;
    for (const auto& name : path) {
      Key* next = nullptr;
      for (const auto& child : key->children) {
        if (sameName(child->name, name)) next = child.get();
      }
      if (next == nullptr) {
        if (!create) return nullptr;
        key->children.push_back(std::make_unique<Key>());
        next = key->children.back().get();
        next->name = name;
        created = true;
      }
      key = next;
    }
    if (where != nullptr) *where = OpenKey{start.root, path};
    return key;
  }

  bool knownHandle(HKEY handle) const {
    return handle == HKEY_CURRENT_USER || handle == HKEY_LOCAL_MACHINE ||
           handles_.count(reinterpret_cast<uintptr_t>(handle)) != 0;
  }

 private:
  std::string fileLocked() {
    if (!file_.empty()) return file_;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string base = config != nullptr && *config != 0 ? config
                             : home != nullptr                 ? std::string(home) + "/.config"
                                                               : ".";
    file_ = base + "/zenta/registry";
    return file_;
  }

  // The file's identity; `missing` when there is none, false when it cannot
  // be looked at.
  static bool stampOf(const std::string& path, Stamp& stamp) {
    struct stat st {};
    stamp = Stamp{};
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT;
    stamp = Stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    return true;
  }

  static void makeFolders(const std::filesystem::path& folder) {
    if (folder.empty() || ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return;
    if (errno != ENOENT) return;
    makeFolders(folder.parent_path());
    ::mkdir(folder.c_str(), 0700);
  }

  // Brings the store up to date with the file. False when the file exists
  // but cannot be opened or read: the call fails and nothing is moved aside,
  // since the file may be whole. Only a file that was read whole and does
  // not parse is damaged.
  bool reload(const std::string& path) {
    Stamp now;
    if (!stampOf(path, now)) return false;
    if (loadedOnce_ && now == loaded_) return true;
    if (now.size < 0) {  // no file yet: an empty store
      for (Key& r : roots_)
        r = Key{};
      loadedOnce_ = true;
      loaded_ = now;
      return true;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
      if (n > 0) text.append(buffer, size_t(n));
    }
    ::close(fd);
    if (n < 0) return false;
    for (Key& r : roots_)
      r = Key{};
    loadedOnce_ = true;
    loaded_ = now;
    if (!parse(text)) damaged(path);
    return true;
  }

  // Keeps a file that cannot be read aside and starts empty, saying so once.
  void damaged(const std::string& path) {
    for (Key& r : roots_)
      r = Key{};
    const std::string aside = path + ".damaged-" + std::to_string(std::time(nullptr));
    std::rename(path.c_str(), aside.c_str());
    if (!warned_) {
      std::fprintf(stderr,
                   "zenta: the registry file %s could not be read; it was kept as %s and the "
                   "registry starts empty\n",
                   path.c_str(), aside.c_str());
      warned_ = true;
    }
    stampOf(path, loaded_);
  }

  bool parse(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    // Version 1 wrote key names with the value escapes, which a name with a
    // quote or a character outside ASCII did not survive; it is still read.
    if (!std::getline(in, line)) return false;
    const bool version1 = line == "ZENTA registry 1";
    if (!version1 && line != "ZENTA registry 2") return false;
    Key* key = nullptr;
    while (std::getline(in, line)) {
      if (line.empty()) continue;
      if (line.front() == '[') {
        if (line.back() != ']') return false;
        const std::string path = line.substr(1, line.size() - 2);
        const size_t slash = path.find('\\');
        const std::string rootName = path.substr(0, slash);
        int root = -1;
        for (int i = 0; i < 2; ++i) {
          if (rootName == kRootNames[i]) root = i;
        }
        if (root < 0) return false;
        key = &roots_[root];
        size_t at = slash;
        while (at != std::string::npos) {
          const size_t end = path.find('\\', at + 1);
          const std::string part =
              path.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
          std::u16string name;
          size_t pos = 0;
          const bool read =
              version1 ? unescape("\"" + part + "\"", pos, name) : unescapeKeyName(part, name);
          if (!read || name.empty()) return false;
          Key* next = nullptr;
          for (const auto& child : key->children) {
            if (sameName(child->name, name)) next = child.get();
          }
          if (next == nullptr) {
            key->children.push_back(std::make_unique<Key>());
            next = key->children.back().get();
            next->name = name;
          }
          key = next;
          at = end;
        }
        continue;
      }
      if (key == nullptr) return false;
      Value v;
      size_t at = 0;
      if (line[0] == '@') {
        at = 1;
      } else if (!unescape(line, at, v.name) || v.name.empty()) {
        return false;
      }
      if (at >= line.size() || line[at] != '=') return false;
      const std::string rest = line.substr(at + 1);
      if (rest.rfind("sz:", 0) == 0) {
        size_t pos = 3;
        std::u16string textValue;
        if (!unescape(rest, pos, textValue) || pos != rest.size()) return false;
        v.type = REG_SZ;
        for (const char16_t c : textValue) {
          v.data.push_back(uint8_t(c));
          v.data.push_back(uint8_t(c >> 8));
        }
        v.data.push_back(0);
        v.data.push_back(0);
      } else if (rest.rfind("hex(", 0) == 0) {
        const size_t close = rest.find("):");
        if (close == std::string::npos) return false;
        char* end = nullptr;
        const std::string typeText = rest.substr(4, close - 4);
        v.type = DWORD(std::strtoul(typeText.c_str(), &end, 10));
        if (typeText.empty() || *end != 0) return false;
        const std::string bytes = rest.substr(close + 2);
        for (size_t i = 0; i < bytes.size(); i += 3) {
          if (i + 2 > bytes.size() || (i + 2 < bytes.size() && bytes[i + 2] != ',')) return false;
          const std::string pair = bytes.substr(i, 2);
          const unsigned long b = std::strtoul(pair.c_str(), &end, 16);
          if (end != pair.c_str() + 2) return false;
          v.data.push_back(uint8_t(b));
        }
      } else {
        return false;
      }
      for (const Value& other : key->values) {
        if (sameName(other.name, v.name)) return false;
      }
      key->values.push_back(std::move(v));
    }
    return true;
  }

  bool save(const std::string& path) {
    std::ostringstream out;
    out << "ZENTA registry 2\n";
    for (int i = 0; i < 2; ++i) {
      for (const auto& child : roots_[i].children) {
        writeKey(out, *child, std::string(kRootNames[i]) + "\\" + escapeKeyName(child->name));
      }
    }
    const std::string text = out.str();
    // A name of our own, made fresh: never a file or link that was there.
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
      temporary = path + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(++saves_);
      fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    for (size_t done = 0; ok && done < text.size();) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok = false;
      done += size_t(std::max<ssize_t>(n, 0));
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
      ::unlink(temporary.c_str());
      return false;
    }
    // The rename itself lasts only once the folder is on disk.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int dirFd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
    stampOf(path, loaded_);
    return true;
  }

  std::mutex lock_;
  std::string file_;
  Key roots_[2];
  Stamp loaded_;
  bool loadedOnce_ = false;
  bool warned_ = false;
  unsigned saves_ = 0;
  std::map<uintptr_t, OpenKey> handles_;
  uintptr_t next_ = 0x700000;
};

Value* findValue(Key& key, LPCWSTR name) {
  const std::u16string_view wanted =
      name == nullptr ? std::u16string_view() : std::u16string_view(name);
  for (Value& v : key.values) {
    if (sameName(v.name, wanted)) return &v;
  }
  return nullptr;
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
  return r.run(true, [&](bool& changed) -> LONG {
    if (!r.knownHandle(key)) return ERROR_INVALID_HANDLE;
    bool created = false;
    OpenKey where;
    if (r.resolve(key, split(subKey), true, created, &where) == nullptr)
      return ERROR_FILE_NOT_FOUND;
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
