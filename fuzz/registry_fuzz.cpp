// The registry file reader on arbitrary bytes, one of two ways: the text
// reader alone, where whatever it takes must write back as a text that
// reads as the same tree; or the bytes as the registry file, read through
// the registry calls, which walk the keys and values that it yields.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_target.h"
#include "platform/registry/registry.h"
#include "platform/registry/text_format.h"
#include "platform/windows.h"

namespace {

// Every registry call takes the file's lock and looks at the file again, a
// handful of system calls: a file of many keys would spend the input's time
// there rather than in the reader, which the round trip covers whole. The
// walk through the calls stops after this many keys a root.
constexpr int kKeysPerInput = 8;
int keysLeft = 0;

void walk(HKEY key, int depth) {
  if (keysLeft-- <= 0) return;
  for (DWORD i = 0; depth < 6 && keysLeft > 0; ++i) {
    char16_t name[128];
    DWORD length = 128;
    if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    HKEY child = nullptr;
    if (RegOpenKeyExW(key, name, 0, KEY_ALL_ACCESS, &child) == ERROR_SUCCESS) {
      walk(child, depth + 1);
      RegCloseKey(child);
    }
  }
  // A value the stores use, read with a small buffer and a large one.
  for (const char16_t* value : {u"", u"User", u"Pass"}) {
    BYTE small[8], large[256];
    DWORD size = sizeof small, type = 0;
    RegQueryValueExW(key, value, nullptr, &type, small, &size);
    size = sizeof large;
    RegQueryValueExW(key, value, nullptr, &type, large, &size);
  }
}

// A text the reader takes, written and read again, is the same tree: its
// second writing equals the first. Each key's line carries its whole path,
// so a deep tree writes far more text than it was read from (a chain of 512
// one-letter keys, about 1 KB, writes about 270 KB); reading that again
// only repeats the same paths at length, and would take most of the run.
// Written texts above this size are not read again.
constexpr size_t kLargestRoundTrip = 32 * 1024;

void roundTrip(const uint8_t* data, size_t size) {
  using namespace zenta::platform;
  Key roots[2];
  if (!parseRegistryText(std::string(reinterpret_cast<const char*>(data), size), roots)) return;
  const std::string written = formatRegistryText(roots);
  if (written.size() > kLargestRoundTrip) return;
  Key again[2];
  if (!parseRegistryText(written, again)) {
    std::fprintf(stderr, "a written registry text does not read back\n");
    __builtin_trap();
  }
  if (formatRegistryText(again) != written) {
    std::fprintf(stderr, "a written registry text reads back as another tree\n");
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A private folder for the file, removed when the process ends.
  static const struct Folder {
    std::string path;
    Folder() {
      char pattern[] = "/tmp/zenta-registry-fuzz-XXXXXX";
      path = ::mkdtemp(pattern) != nullptr ? pattern : "";
    }
    ~Folder() {
      std::error_code ignored;
      if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
  } scratch;
  // The low bit of the last byte chooses the way in: clear, the text reader
  // and its round trip; set, the registry file through the calls. Each
  // input takes one, as both read the whole text.
  if (size == 0 || (data[size - 1] & 1) == 0) {
    roundTrip(data, size);
    return 0;
  }
  if (scratch.path.empty()) return 0;
  const std::string& folder = scratch.path;
  const std::string path = folder + "/registry";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  zenta::platform::setRegistryFile(path);  // read afresh
  keysLeft = kKeysPerInput;
  walk(HKEY_LOCAL_MACHINE, 0);
  keysLeft = kKeysPerInput;
  walk(HKEY_CURRENT_USER, 0);
  // The store lets go of the tree it read. An input that ends with more
  // allocations than frees makes the fuzzer scan the whole heap for leaks
  // after it, which slowed the run more the longer it went.
  zenta::platform::setRegistryFile(path);
  // A damaged file was moved aside: those are not kept.
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
    if (entry.path().filename().string().find(".damaged-") != std::string::npos)
      std::filesystem::remove(entry.path(), ignored);
  }
  return 0;
}
