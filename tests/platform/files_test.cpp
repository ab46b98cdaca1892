#include "platform/base/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/windows.h"

namespace zenta::platform {
namespace {

namespace fs = std::filesystem;

TEST(DevicePaths, MapOntoTheRootAndTheProgramFolder) {
  const fs::path root = fs::temp_directory_path() / ("zenta-root-" + std::to_string(::getpid()));
  fs::create_directories(root);
  setDeviceRoot(root.string());
  EXPECT_EQ(hostPath(u"WebCAM\\a-b-0315120000.jpg"), root.string() + "/WebCAM/a-b-0315120000.jpg");
  EXPECT_EQ(hostPath(u"\\WebCAM\\x.jpg"), root.string() + "/WebCAM/x.jpg");
  EXPECT_EQ(hostPath(std::string_view("WebCAM\\y.jpg")), root.string() + "/WebCAM/y.jpg");
  EXPECT_FALSE(hostPath(u"..\\outside"));
  EXPECT_FALSE(hostPath(u"WebCAM\\..\\..\\outside"));
  EXPECT_FALSE(hostPath(u""));

  char16_t module[100];
  const DWORD n = GetModuleFileNameW(GetModuleHandleW(nullptr), module, 100);
  ASSERT_GT(n, 0u);
  std::u16string path(module, n);
  EXPECT_EQ(path.rfind(u"\\Program\\", 0), 0u);
  // The skin lies next to the program: its name replaces the program's.
  path = path.substr(0, path.rfind(u'\\')) + u"\\skin.ini";
  const auto skin = hostPath(path);
  ASSERT_TRUE(skin);
  EXPECT_EQ(fs::path(*skin).parent_path(), fs::read_symlink("/proc/self/exe").parent_path());
  char16_t tiny[4];
  EXPECT_EQ(GetModuleFileNameW(nullptr, tiny, 4), 3u);
  EXPECT_EQ(tiny[3], 0);

  EXPECT_TRUE(CreateDirectoryW(u"WebCAM", nullptr));
  EXPECT_TRUE(fs::is_directory(root / "WebCAM"));
  EXPECT_FALSE(CreateDirectoryW(u"WebCAM", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreateDirectoryW(u"..\\escape", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  EXPECT_FALSE(CreateDirectoryW(u"no\\such\\parent", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  setDeviceRoot(".");
  fs::remove_all(root);
}

}  // namespace
}  // namespace zenta::platform
