// The registry's store: the keys of its file in memory, brought up to date
// from the file before each call and saved after each change (a new file
// renamed over the old one), under the process's lock and the file's.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry/registry_api.h"
#include "platform/registry/text_format.h"
#include "platform/registry/tree.h"

namespace zenta::platform {

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
    warned_ = false;  // once a file
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
    const bool locked = lockFd >= 0 && lockWithin(lockFd, write ? LOCK_EX : LOCK_SH);
    if (lockFd >= 0 && !locked && lockWaitedOut_) {
      // Another program holds the lock for long: the calls that follow try
      // once each instead of waiting again, until it is free.
      lockBusyUntil_ = std::chrono::steady_clock::now() + kLockBusyFor;
    }
    // A change without the lock could undo another program's; a read
    // without it (a folder that is not ours to write, a lock another
    // program holds too long) sees a whole file all the same, since every
    // save renames a complete file into place.
    if (write && !locked) {
      if (lockFd >= 0) ::close(lockFd);
      return lockFd >= 0 ? ERROR_LOCK_VIOLATION : ERROR_ACCESS_DENIED;
    }
    LONG result = ERROR_ACCESS_DENIED;
    if (reload(path)) {
      bool changed = false;
      result = work(changed);
      if (write && changed) {
        if (const LONG saved = save(path); saved != ERROR_SUCCESS) {
          result = saved;
          loadedOnce_ = false;  // the next call reads what the file really holds
        }
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

  // Whether the keys `more` below an open key stay within the limits on
  // depth and name length. Only for a known handle.
  bool withinLimits(HKEY handle, const std::vector<std::u16string>& more) const {
    size_t depth = more.size();
    const auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (it != handles_.end()) depth += it->second.path.size();
    if (depth > kMaxKeyDepth) return false;
    for (const auto& name : more) {
      if (name.size() > kMaxKeyNameLength) return false;
    }
    return true;
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

  // Takes the file lock, waiting for another program's at most kLockWait.
  bool lockWithin(int fd, int kind) {
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start < lockBusyUntil_ ? start : start + kLockWait;
    lockWaitedOut_ = false;
    for (;;) {
      if (::flock(fd, kind | LOCK_NB) == 0) {
        lockBusyUntil_ = {};
        return true;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) return false;
      if (std::chrono::steady_clock::now() >= deadline) {
        lockWaitedOut_ = true;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
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
    if (size_t(now.size) > kMaxRegistryBytes) {  // no registry of ours is so large
      loadedOnce_ = true;
      damaged(path);
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
    if (!parseRegistryText(text, roots_)) damaged(path);
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

  // The file a save replaces: the registry file itself, or the file its
  // link names (a registry kept elsewhere stays there and stays a link).
  static std::string saveTarget(const std::string& path) {
    std::filesystem::path at(path);
    // A chain of links is followed a few steps, as far as it goes.
    for (int hop = 0; hop < 8; ++hop) {
      std::error_code error;
      if (!std::filesystem::is_symlink(at, error)) break;
      const auto next = std::filesystem::read_symlink(at, error);
      if (error || next.empty()) break;
      at = next.is_absolute() ? next : at.parent_path() / next;
    }
    return at.string();
  }

  // Temporary files of writers that died before they could rename them.
  static void removeLeftovers(const std::string& target) {
    const std::filesystem::path file(target);
    const std::string prefix = file.filename().string() + ".new-";
    std::error_code error;
    const auto folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(prefix, 0) != 0) continue;
      const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
      if (pid > 0 && pid != ::getpid() && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        ::unlink(entry.path().c_str());
    }
  }

  LONG save(const std::string& path) {
    const std::string text = formatRegistryText(roots_);
    if (text.size() > kMaxRegistryBytes) return ERROR_REGISTRY_QUOTA_LIMIT;
    const std::string target = saveTarget(path);
    removeLeftovers(target);
    // A name of our own, made fresh: never a file or link that was there.
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
      temporary = target + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(++saves_);
      fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0 && errno != EEXIST) return ERROR_ACCESS_DENIED;
    }
    if (fd < 0) return ERROR_ACCESS_DENIED;
    bool ok = ::fchmod(fd, 0600) == 0;
    for (size_t done = 0; ok && done < text.size();) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok = false;
      done += size_t(std::max<ssize_t>(n, 0));
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), target.c_str()) != 0) {
      ::unlink(temporary.c_str());
      return ERROR_ACCESS_DENIED;
    }
    // The rename itself lasts only once the folder is on disk.
    const std::string folder = std::filesystem::path(target).parent_path().string();
    const int dirFd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
    stampOf(path, loaded_);
    return ERROR_SUCCESS;
  }

  static constexpr auto kLockWait = std::chrono::seconds(2);
  static constexpr auto kLockBusyFor = std::chrono::seconds(5);
  std::chrono::steady_clock::time_point lockBusyUntil_{};
  bool lockWaitedOut_ = false;

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

}  // namespace zenta::platform
