#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/text.h"
#include "platform/windows.h"

namespace zenta::platform {
namespace {

namespace fs = std::filesystem;

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("zenta-registry-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    file = (dir / "registry").string();
    setRegistryFile(file);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
  std::string file;
};

LONG setText(HKEY key, const char16_t* name, const std::u16string& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        DWORD((value.size() + 1) * 2));
}

std::u16string getText(HKEY key, const char16_t* name) {
  char16_t buffer[64] = {};
  DWORD size = sizeof buffer, type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    return u"<missing>";
  }
  return buffer;
}

TEST_F(Registry, CallsAndErrorCodes) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Zentaco\\Zenta", 0, 0, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Zentaco\\Zenta", 0, nullptr, 0, 0,
                            nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  HKEY again = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"software\\ZENTACO\\zenta", 0, nullptr, 0, 0,
                            nullptr, &again, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

  ASSERT_EQ(setText(key, u"Host", u"192.168.0.9:8080"), ERROR_SUCCESS);
  EXPECT_EQ(getText(again, u"HOST"), u"192.168.0.9:8080");  // names without regard to case
  // Only A to Z fold; a prefix or a longer name is another name.
  DWORD size0 = 0;
  for (const char16_t* other : {u"Hos", u"Hosts", u"H\u00d3ST"})
    EXPECT_EQ(RegQueryValueExW(again, other, nullptr, nullptr, nullptr, &size0),
              ERROR_FILE_NOT_FOUND)
        << toUtf8(other);
  ASSERT_EQ(setText(key, u"Caf\u00e9", u"1"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, u"CAF\u00c9", nullptr, nullptr, nullptr, &size0),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(getText(key, u"cAF\u00e9"), u"1");
  const DWORD number = 42;
  ASSERT_EQ(RegSetValueExW(key, u"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
            ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"Count", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 4u);
  BYTE small[10];
  size = 3;
  EXPECT_EQ(RegQueryValueExW(key, u"Host", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 34u);
  EXPECT_EQ(RegQueryValueExW(key, u"Nothing", nullptr, &type, small, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, u"Host", nullptr, &type, small, nullptr),
            ERROR_INVALID_PARAMETER);

  HKEY hosts[3];
  for (int i = 0; i < 3; ++i) {
    const std::u16string name = u"Host" + std::u16string(1, char16_t(u'C' - i));
    ASSERT_EQ(RegCreateKeyExW(key, name.c_str(), 0, nullptr, 0, 0, nullptr, &hosts[i], nullptr),
              ERROR_SUCCESS);
  }
  char16_t name[16];
  DWORD length = 16;
  ASSERT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"HostC");  // creation order
  EXPECT_EQ(length, 5u);
  length = 16;
  ASSERT_EQ(RegEnumKeyExW(key, 2, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"HostA");
  length = 16;
  EXPECT_EQ(RegEnumKeyExW(key, 3, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  length = 3;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);

  EXPECT_EQ(RegDeleteValueW(key, u"count"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, u"count"), ERROR_FILE_NOT_FOUND);
  setText(hosts[1], u"User", u"admin");
  EXPECT_EQ(RegDeleteKeyW(key, u"hostb"), ERROR_SUCCESS);  // with its values
  EXPECT_EQ(RegQueryValueExW(hosts[1], u"User", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(key, u"hostb"), ERROR_FILE_NOT_FOUND);
  length = 16;
  ASSERT_EQ(RegEnumKeyExW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"HostA");

  for (HKEY h : hosts)
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(again), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExW(again, u"Host", nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  // The file holds passwords: only its owner reads it.
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Registry, ValuesSurviveInAnotherProcess) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Zentaco\\Zenta", 0, nullptr, 0, 0,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  setText(key, u"Quote", u"a \"b\" \\c\\ \u00e9\u4e2d");
  const BYTE odd[3] = {1, 2, 3};
  RegSetValueExW(key, u"Odd", 0, REG_SZ, odd, 3);  // not a well-formed text: kept as bytes
  RegCloseKey(key);
  const pid_t child = ::fork();
  if (child == 0) {
    setRegistryFile(file);  // a fresh look from the file
    HKEY k = nullptr;
    int failures = 0;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\zentaco\\ZENTA", 0, 0, &k) != ERROR_SUCCESS)
      ++failures;
    if (getText(k, u"quote") != u"a \"b\" \\c\\ \u00e9\u4e2d") ++failures;
    BYTE bytes[8];
    DWORD size = 8, type = 0;
    if (RegQueryValueExW(k, u"Odd", nullptr, &type, bytes, &size) != ERROR_SUCCESS || size != 3 ||
        bytes[2] != 3 || type != REG_SZ) {
      ++failures;
    }
    setText(k, u"FromChild", u"yes");
    ::_exit(failures);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Zentaco\\Zenta", 0, 0, &k),
            ERROR_SUCCESS);
  EXPECT_EQ(getText(k, u"FromChild"), u"yes");
  RegCloseKey(k);
}

TEST_F(Registry, AKilledWriterLosesNothingItFinished) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    HKEY k = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Zentaco\\Zenta", 0, nullptr, 0, 0, nullptr, &k,
                    nullptr);
    for (uint32_t i = 1;; ++i) {
      const std::u16string name = u"V" + std::u16string(1, char16_t(u'A' + i % 20));
      RegSetValueExW(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), 4);
      [[maybe_unused]] const auto n = ::write(pipeFds[1], &i, 4);  // this one is done
    }
  }
  ::close(pipeFds[1]);
  uint32_t done = 0, value = 0;
  while (done < 300 && ::read(pipeFds[0], &value, 4) == 4)
    done = value;
  ::kill(child, SIGKILL);
  while (::read(pipeFds[0], &value, 4) == 4)
    done = value;  // reports written before the kill
  ::waitpid(child, nullptr, 0);
  ::close(pipeFds[0]);
  setRegistryFile(file);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Zentaco\\Zenta", 0, 0, &k),
            ERROR_SUCCESS);
  const std::u16string name = u"V" + std::u16string(1, char16_t(u'A' + done % 20));
  uint32_t stored = 0;
  DWORD size = 4;
  ASSERT_EQ(
      RegQueryValueExW(k, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&stored), &size),
      ERROR_SUCCESS);
  // The last completed write is there (or a later one that also completed).
  EXPECT_GE(stored, done);
  EXPECT_EQ(stored % 20, done % 20);
  RegCloseKey(k);
  for (const auto& entry : fs::directory_iterator(dir)) {
    EXPECT_EQ(entry.path().filename().string().find("damaged"), std::string::npos);
  }
}

TEST_F(Registry, ALockHeldElsewhereIsWaitedForTwoSecondsAtMost) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, nullptr, 0, 0, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(setText(k, u"v", u"before"), ERROR_SUCCESS);
  // Another open of the lock file holds it, as another program would.
  const int held = ::open((file + ".lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(setText(k, u"v", u"after"), ERROR_LOCK_VIOLATION);  // a change fails
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(1900));
  EXPECT_LT(took, std::chrono::seconds(3));
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(getText(k, u"v"), u"before");  // a read goes on without it
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  ::close(held);
  EXPECT_EQ(setText(k, u"v", u"after"), ERROR_SUCCESS);
  RegCloseKey(k);
}

TEST_F(Registry, TheFileThroughItsLinkOfBoundedSizeAndNoLeftovers) {
  // A writer that died left its temporary file; a live one's stays.
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  const fs::path store = dir / "elsewhere";
  fs::create_directories(store);
  const std::string leftover = (store / ("real.new-" + std::to_string(dead) + "-1")).string();
  const std::string running = (store / ("real.new-" + std::to_string(::getppid()) + "-1")).string();
  std::ofstream(leftover) << "half";
  std::ofstream(running) << "half";
  // The registry file is a link to a file kept elsewhere.
  fs::create_symlink(store / "real", file);
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, nullptr, 0, 0, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(setText(k, u"v", u"kept"), ERROR_SUCCESS);
  EXPECT_TRUE(fs::is_symlink(file));
  EXPECT_GT(fs::file_size(store / "real"), 0u);
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_TRUE(fs::exists(running));
  // A change that would make the file larger than 4 MB is refused.
  const std::u16string large(400000, u'x');
  LONG result = ERROR_SUCCESS;
  int stored = 0;
  for (; stored < 20 &&
         (result = setText(k, (u"large" + std::u16string(1, char16_t(u'a' + stored))).c_str(),
                           large)) == ERROR_SUCCESS;
       ++stored) {
  }
  EXPECT_EQ(result, ERROR_REGISTRY_QUOTA_LIMIT);
  EXPECT_GE(stored, 8);
  EXPECT_LE(fs::file_size(store / "real"), 4u << 20);
  EXPECT_EQ(getText(k, (u"large" + std::u16string(1, char16_t(u'a' + stored))).c_str()),
            u"<missing>");
  EXPECT_EQ(getText(k, u"v"), u"kept");
  RegCloseKey(k);
  // A larger file is kept aside, as a damaged one is.
  fs::remove(file);
  std::ofstream(file) << std::string((4u << 20) + 1, '#');
  setRegistryFile(file);
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, 0, &k), ERROR_SUCCESS);
  bool aside = false;
  for (const auto& entry : fs::directory_iterator(dir))
    aside = aside || entry.path().filename().string().find("damaged") != std::string::npos;
  EXPECT_TRUE(aside);
}

TEST_F(Registry, TwoProcessesWritingAtOnceKeepEachOthersValues) {
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    if (children[c] == 0) {
      setRegistryFile(file);
      HKEY k = nullptr;
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Shared", 0, nullptr, 0, 0, nullptr, &k,
                      nullptr);
      for (int i = 0; i < 60; ++i) {
        const std::u16string name = std::u16string(1, char16_t(u'a' + c)) +
                                    char16_t(u'0' + i / 10) + char16_t(u'0' + i % 10);
        setText(k, name.c_str(), u"x");
      }
      ::_exit(0);
    }
  }
  for (const pid_t child : children)
    ::waitpid(child, nullptr, 0);
  setRegistryFile(file);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Shared", 0, 0, &k), ERROR_SUCCESS);
  int found = 0;
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < 60; ++i) {
      const std::u16string name =
          std::u16string(1, char16_t(u'a' + c)) + char16_t(u'0' + i / 10) + char16_t(u'0' + i % 10);
      found += getText(k, name.c_str()) == u"x";
    }
  }
  EXPECT_EQ(found, 120);
  RegCloseKey(k);
}

TEST_F(Registry, ThreadsShareTheStore) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      HKEY k = nullptr;
      RegCreateKeyExW(HKEY_CURRENT_USER, u"Threads", 0, nullptr, 0, 0, nullptr, &k, nullptr);
      for (int i = 0; i < 20; ++i) {
        const std::u16string name = std::u16string(1, char16_t(u'a' + t)) + char16_t(u'a' + i);
        setText(k, name.c_str(), u"v");
      }
      RegCloseKey(k);
    });
  }
  for (auto& t : threads)
    t.join();
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Threads", 0, 0, &k), ERROR_SUCCESS);
  EXPECT_EQ(getText(k, u"dt"), u"v");
  RegCloseKey(k);
}

TEST_F(Registry, ADamagedFileIsKeptAsideAndTheStoreStartsEmpty) {
  {
    std::ofstream out(file);
    out << "ZENTA registry 1\n[HKEY_LOCAL_MACHINE\\Software]\n\"Broken=sz:\"unterminated\n";
  }
  setRegistryFile(file);
  ::testing::internal::CaptureStderr();
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, 0, &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, 0, &k), ERROR_FILE_NOT_FOUND);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("could not be read"), std::string::npos);
  EXPECT_EQ(said.find("could not be read"), said.rfind("could not be read"));  // once
  bool kept = false;
  for (const auto& entry : fs::directory_iterator(dir)) {
    kept = kept || entry.path().filename().string().find("registry.damaged-") == 0;
  }
  EXPECT_TRUE(kept);
  // The store works from empty.
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, nullptr, 0, 0, nullptr, &k, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(setText(k, u"New", u"1"), ERROR_SUCCESS);
  RegCloseKey(k);
}

// Keys go at most 512 deep and their names are at most 255 characters: a
// call that would pass either is refused, and a file that does (written by
// hand, or damaged) is kept aside rather than read, so that its depth can
// never exhaust the stack of a program that starts with it.
TEST_F(Registry, KeysStayWithinTheirDepthAndNameLength) {
  const auto chain = [](size_t depth, size_t nameLength) {
    std::u16string path;
    for (size_t i = 0; i < depth; ++i)
      path += (i ? u"\\" : u"") + std::u16string(nameLength, u'k');
    return path;
  };
  HKEY deep = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, chain(512, 1).c_str(), 0, nullptr, 0, 0, nullptr,
                            &deep, nullptr),
            ERROR_SUCCESS);
  HKEY refused = nullptr;
  EXPECT_EQ(RegCreateKeyExW(deep, u"one", 0, nullptr, 0, 0, nullptr, &refused, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, chain(1, 256).c_str(), 0, nullptr, 0, 0, nullptr,
                            &refused, nullptr),
            ERROR_INVALID_PARAMETER);
  HKEY longName = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, chain(1, 255).c_str(), 0, nullptr, 0, 0, nullptr,
                            &longName, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(setText(deep, u"At", u"the bottom"), ERROR_SUCCESS);
  RegCloseKey(deep);
  RegCloseKey(longName);
  // What was written reads back in another store.
  setRegistryFile(file);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, chain(512, 1).c_str(), 0, 0, &deep), ERROR_SUCCESS);
  EXPECT_EQ(getText(deep, u"At"), u"the bottom");
  RegCloseKey(deep);

  // Files one level too deep, or with one character too many.
  for (const auto& [depth, length] : {std::pair<size_t, size_t>{513, 1}, {1, 256}}) {
    {
      std::ofstream out(file, std::ios::trunc);
      out << "ZENTA registry 2\n[HKEY_CURRENT_USER\\" << toUtf8(chain(depth, length)) << "]\n";
    }
    setRegistryFile(file);
    ::testing::internal::CaptureStderr();
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"k", 0, 0, &k), ERROR_FILE_NOT_FOUND) << depth;
    ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(fs::exists(file)) << depth << " deep, names of " << length << ": not kept aside";
  }
}

// A random tree of keys and text values: names of any 16-bit characters
// but the key separator and zero, texts of any but zero.
struct Tree {
  std::u16string name;
  std::vector<std::pair<std::u16string, std::u16string>> values;
  std::vector<Tree> children;
};

std::u16string randomText(std::mt19937& random, bool keyName) {
  static const char16_t kAwkward[] = {u'"',
                                      u'\\',
                                      u'\r',
                                      u'\n',
                                      u'%',
                                      u'[',
                                      u']',
                                      u'=',
                                      u'@',
                                      u' ',
                                      u'\u00e9',
                                      u'\u4e2d',
                                      char16_t(0xFFFF),
                                      char16_t(0xD800),
                                      u'\t'};
  std::u16string text;
  const int length = int(random() % 12) + (keyName ? 1 : 0);
  for (int i = 0; i < length; ++i) {
    char16_t c = 0;
    switch (random() % 3) {
      case 0:
        c = kAwkward[random() % std::size(kAwkward)];
        break;
      case 1:
        c = char16_t(u'a' + random() % 26);
        break;
      default:
        c = char16_t(1 + random() % 0xFFFE);
        break;
    }
    if (keyName && c == u'\\') c = u'/';
    text.push_back(c);
  }
  return text;
}

// Names differ without regard to case, as the registry compares them.
std::u16string folded(std::u16string text) {
  for (auto& c : text) {
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  }
  return text;
}

Tree randomTree(std::mt19937& random, int depth) {
  Tree tree;
  tree.name = randomText(random, true);
  std::vector<std::u16string> seen;
  for (int i = int(random() % 4); i > 0; --i) {
    std::u16string name = randomText(random, false);
    if (std::find(seen.begin(), seen.end(), folded(name)) != seen.end()) continue;
    seen.push_back(folded(name));
    tree.values.emplace_back(name, randomText(random, false));
  }
  seen.clear();
  for (int i = depth > 0 ? int(random() % 3) : 0; i > 0; --i) {
    Tree child = randomTree(random, depth - 1);
    if (std::find(seen.begin(), seen.end(), folded(child.name)) != seen.end()) continue;
    seen.push_back(folded(child.name));
    tree.children.push_back(std::move(child));
  }
  return tree;
}

void writeTree(HKEY parent, const Tree& tree) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(parent, tree.name.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  for (const auto& [name, text] : tree.values)
    ASSERT_EQ(setText(key, name.c_str(), text), ERROR_SUCCESS);
  for (const Tree& child : tree.children)
    writeTree(key, child);
  RegCloseKey(key);
}

// Counts what differs between the tree and the registry below `parent`.
int compareTree(HKEY parent, const Tree& tree) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, tree.name.c_str(), 0, 0, &key) != ERROR_SUCCESS) return 1;
  int differences = 0;
  for (const auto& [name, text] : tree.values) {
    std::vector<char16_t> buffer(text.size() + 1);
    DWORD size = DWORD(buffer.size() * 2), type = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ || size != buffer.size() * 2 ||
        std::u16string(buffer.data(), text.size()) != text) {
      ++differences;
    }
  }
  // The children come back by enumeration with the names exactly as written.
  for (DWORD i = 0;; ++i) {
    char16_t name[64];
    DWORD size = 64;
    if (RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      differences += i != tree.children.size();
      break;
    }
    if (i >= tree.children.size() || std::u16string(name, size) != tree.children[i].name)
      ++differences;
  }
  for (const Tree& child : tree.children)
    differences += compareTree(key, child);
  RegCloseKey(key);
  return differences;
}

TEST_F(Registry, AnyNamesAndTextsReadBackExactlyInAnotherProcess) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    const Tree tree = randomTree(random, 3);
    writeTree(HKEY_LOCAL_MACHINE, tree);
    const pid_t child = ::fork();
    if (child == 0) {
      setRegistryFile(file);  // a fresh look from the file
      ::_exit(std::min(compareTree(HKEY_LOCAL_MACHINE, tree), 100));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "seed " << seed;
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, tree.name.c_str());
  }
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename().string().find("damaged"), std::string::npos);
}

TEST_F(Registry, HostNamesWithQuotesAndAccentsSurviveARestart) {
  for (const std::u16string name : {u"My \"DVR\"", u"Caf\u00e9", u"50%\\off"}) {
    HKEY k = nullptr;
    const std::u16string path = u"Software\\Zentaco\\Zenta\\" + name;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &k, nullptr),
        ERROR_SUCCESS);
    RegCloseKey(k);
  }
  setRegistryFile(file);
  HKEY root = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Zentaco\\Zenta", 0, 0, &root),
            ERROR_SUCCESS);
  std::vector<std::u16string> names;
  char16_t name[128];
  for (DWORD i = 0, size = 128;
       RegEnumKeyExW(root, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       ++i, size = 128)
    names.emplace_back(name, size);
  RegCloseKey(root);
  // The backslash made a nested key "50%" with "off" below it.
  EXPECT_EQ(names, (std::vector<std::u16string>{u"My \"DVR\"", u"Caf\u00e9", u"50%"}));
}

TEST_F(Registry, VersionOneFilesAreStillRead) {
  {
    std::ofstream out(file);
    out << "ZENTA registry 1\n[HKEY_LOCAL_MACHINE\\Software\\Zentaco\\Zenta]\n@=sz:\"dvr:80\"\n"
           "[HKEY_LOCAL_MACHINE\\Software\\Zentaco\\Zenta\\dvr:80]\n\"User\"=sz:\"admin\"\n";
  }
  setRegistryFile(file);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Zentaco\\Zenta\\dvr:80", 0, 0, &k),
            ERROR_SUCCESS);
  EXPECT_EQ(getText(k, u"User"), u"admin");
  RegCloseKey(k);
}

TEST_F(Registry, AFileThatCannotBeReadFailsTheCallAndIsNeverMovedAside) {
  HKEY k = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, nullptr, 0, 0, nullptr, &k, nullptr),
      ERROR_SUCCESS);
  ASSERT_EQ(setText(k, u"Kept", u"yes"), ERROR_SUCCESS);
  RegCloseKey(k);

  // Out of descriptors: every call fails, and the file stays as it was.
  const pid_t child = ::fork();
  if (child == 0) {
    setRegistryFile(file);
    std::vector<int> hog;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
      hog.push_back(fd);
    HKEY key = nullptr;
    const bool failed = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, 0, &key) != ERROR_SUCCESS;
    const bool failedWrite = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Other", 0, nullptr, 0, 0,
                                             nullptr, &key, nullptr) != ERROR_SUCCESS;
    for (const int fd : hog)
      ::close(fd);
    // With descriptors again, the store is whole.
    const bool whole =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, 0, &key) == ERROR_SUCCESS &&
        getText(key, u"Kept") == u"yes";
    ::_exit(failed && failedWrite && whole ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // A read error (the file's place holds a folder).
  const std::string moved = file + ".real";
  fs::rename(file, moved);
  fs::create_directory(file);
  setRegistryFile(file);
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, 0, &k), ERROR_SUCCESS);
  EXPECT_NE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"New", 0, nullptr, 0, 0, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  EXPECT_TRUE(fs::is_directory(file));
  fs::remove(file);
  fs::rename(moved, file);
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename().string().find("damaged"), std::string::npos);

  // A change that cannot take the lock fails; reading goes on.
  fs::remove(file + ".lock");
  fs::create_directory(file + ".lock");
  setRegistryFile(file);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, 0, &k), ERROR_SUCCESS);
  EXPECT_EQ(getText(k, u"Kept"), u"yes");
  EXPECT_NE(setText(k, u"Locked", u"no"), ERROR_SUCCESS);
  RegCloseKey(k);
}

TEST_F(Registry, TheFolderIsPrivateAndNoTemporaryFilesStay) {
  const std::string nested = (dir / "a" / "zenta" / "registry").string();
  setRegistryFile(nested);
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"X", 0, nullptr, 0, 0, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(k);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "a" / "zenta").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(nested.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  for (const auto& entry : fs::directory_iterator(dir / "a" / "zenta"))
    EXPECT_EQ(entry.path().filename().string().find(".new"), std::string::npos);
}

}  // namespace
}  // namespace zenta::platform
