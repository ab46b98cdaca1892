// The zenta program as its users start it, headless, driven through the
// automation channel.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/bitmap_file.h"
#include "tests/support/test_folder.h"
#include "tests/support/zenta_process.h"

namespace zenta::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Zenta : public ::testing::Test {
 protected:
  // The window list: class, title, visibility and rectangle of each.
  static std::vector<std::string> windows(ZentaProcess& z) {
    std::vector<std::string> out;
    std::istringstream in(z.command("windows"));
    for (std::string entry; std::getline(in, entry, '\t');)
      out.push_back(entry.substr(entry.find('|') + 1));
    return out;
  }

  // Share of sampled screen pixels that equal the skin bitmap's.
  static double skinMatch(ZentaProcess& z, const std::string& skinName, int width, int height) {
    const auto skin = readBitmapFile(std::string(ZENTA_PROGRAM_DIR) + "/" + skinName + ".bmp");
    if (!skin) return 0;
    int same = 0, total = 0;
    for (int y = 0; y < height; y += 40) {
      const int rows = std::min(40, height - y);
      const auto pixels = screenRect(z, 0, y, width, rows);
      if (pixels.size() != size_t(width * rows)) return 0;
      for (int j = 0; j < rows; ++j) {
        for (int x = 0; x < width; ++x) {
          same += pixels[size_t(j * width + x)] == skin->pixel(x, y + j);
          ++total;
        }
      }
    }
    return double(same) / total;
  }

  TestFolder folder{"zenta-e2e"};
  const std::string& dir = folder.path();
};

TEST_F(Zenta, StartsFullScreenAboveTheMenuBarWithTheSkin) {
  ZentaProcess z(ZENTA_PROGRAM, dir);
  ASSERT_TRUE(z.ready()) << z.errors();
  const auto list = windows(z);
  EXPECT_NE(std::find(list.begin(), list.end(), "CeWnd:GENERIC|ZENTA|visible|0,0,240,294"),
            list.end());
  EXPECT_NE(std::find(list.begin(), list.end(), "menu_worker||visible|0,294,240,320"), list.end());
  EXPECT_NE(std::find(list.begin(), list.end(), "HHTaskBar||hidden|0,0,240,26"), list.end());
  // The skin everywhere but the status line, where the version is drawn.
  EXPECT_GT(skinMatch(z, "skin", 240, 294), 0.97);
  const auto status = screenRect(z, 7, 23, 100, 14);
  EXPECT_GT(std::count(status.begin(), status.end(), 0x00FF00u), 20);
  EXPECT_EQ(z.errors(), "");
}

TEST_F(Zenta, ALandscapeScreenTakesTheShortSkin) {
  ZentaProcess z(ZENTA_PROGRAM, dir, {"--screen=320x240"});
  ASSERT_TRUE(z.ready()) << z.errors();
  const auto list = windows(z);
  EXPECT_NE(std::find(list.begin(), list.end(), "CeWnd:GENERIC|ZENTA|visible|0,0,320,214"),
            list.end());
  EXPECT_GT(skinMatch(z, "skin24", 320, 214), 0.97);
}

TEST_F(Zenta, TheQuitButtonEndsTheProgramWithCodeZero) {
  ZentaProcess z(ZENTA_PROGRAM, dir);
  ASSERT_TRUE(z.ready()) << z.errors();
  z.command("tap 12 307");  // the first menu-bar button
  EXPECT_EQ(z.wait(5s), 0);
}

// A copy started in `dir` while another runs: it ends with code 1, within a
// second (sanitizers slow a program's start several times over).
void expectASecondCopyEnds(const std::string& dir) {
  const auto started = std::chrono::steady_clock::now();
  ZentaProcess second(ZENTA_PROGRAM, dir);
  EXPECT_EQ(second.wait(5s), 1);
  EXPECT_NE(second.errors().find("zenta is already running"), std::string::npos) << second.errors();
#if defined(ZENTA_SANITIZE_THREAD) || defined(ZENTA_SANITIZE_ADDRESS)
  EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
#else
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
#endif
}

TEST_F(Zenta, ASecondCopyBringsTheFirstToTheFrontAndEnds) {
  ZentaProcess first(ZENTA_PROGRAM, dir);
  ASSERT_TRUE(first.ready()) << first.errors();
  expectASecondCopyEnds(dir);
  EXPECT_NE(first.command("active").find("|ZENTA"), std::string::npos);
  EXPECT_EQ(first.wait(0ms), std::nullopt);  // still running
  // A first copy too busy to answer (here: stopped) still counts.
  ::kill(first.pid(), SIGSTOP);
  expectASecondCopyEnds(dir);
  ::kill(first.pid(), SIGCONT);
  EXPECT_EQ(first.command("idle"), "ok");
}

TEST_F(Zenta, WithoutAPrivateRuntimeFolderItRunsAloneAndSaysSo) {
  fs::create_directories(dir + "/run");
  ::chmod((dir + "/run").c_str(), 0700);
  const std::string shared = dir + "/run/zenta-device-" + std::to_string(::getuid());
  fs::create_directories(shared);
  ::chmod(shared.c_str(), 0755);  // others may look in
  ZentaProcess z(ZENTA_PROGRAM, dir);
  ASSERT_TRUE(z.ready()) << z.errors();
  EXPECT_NE(z.errors().find("not a private folder"), std::string::npos);
}

TEST_F(Zenta, HelpAndBadArguments) {
  const std::string program = ZENTA_PROGRAM;
  const auto run = [&](const std::string& args, std::string& out) {
    std::FILE* pipe = ::popen((program + " " + args + " 2>&1").c_str(), "r");
    char buffer[4096];
    out.clear();
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      out.append(buffer, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  std::string out;
  EXPECT_EQ(run("--help", out), 0);
  for (const char* option :
       {"--screen", "--headless", "--zoom", "--device-root", "--registry", "--automation"})
    EXPECT_NE(out.find(option), std::string::npos) << option;
  EXPECT_EQ(run("--bogus", out), 2);
  EXPECT_NE(out.find("--bogus"), std::string::npos);
  EXPECT_EQ(run("--screen=wide", out), 2);
  // Only the sizes the skins are drawn for, with a clear word.
  EXPECT_EQ(run("--screen=480x640", out), 2);
  EXPECT_NE(out.find("240x320 or 320x240"), std::string::npos) << out;
  EXPECT_EQ(run("--version", out), 0);
  EXPECT_EQ(out.rfind("zenta ", 0), 0u) << out;
}

size_t openDescriptors(pid_t pid) {
  size_t count = 0;
  std::error_code ignored;
  for ([[maybe_unused]] const auto& entry :
       fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored))
    ++count;
  return count;
}

TEST_F(Zenta, TheAutomationChannelKeepsNoClosedClientAndSendsWholeAnswers) {
  ZentaProcess z(ZENTA_PROGRAM, dir);
  ASSERT_TRUE(z.ready()) << z.errors();
  const size_t before = openDescriptors(z.pid());
  for (int i = 0; i < 300; ++i) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, z.socket().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }
  EXPECT_EQ(z.command("idle"), "ok");
  EXPECT_EQ(z.command("idle"), "ok");
  EXPECT_EQ(openDescriptors(z.pid()), before);
  // The whole screen in one answer, larger than any socket buffer.
  EXPECT_EQ(z.command("rect 0 0 240 320").size(), size_t(240) * 320 * 6);
  EXPECT_EQ(z.command("rect 0 0 241 320"), "error outside the screen");
  EXPECT_EQ(z.command("rect 100 100 2147483647 2147483647"), "error outside the screen");
  EXPECT_EQ(z.command("rect -1 0 10 10"), "error outside the screen");
  // Only this user may connect: the socket is not open to others.
  struct stat st {};
  ASSERT_EQ(::stat(z.socket().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
}

// Resident memory of a process, in kilobytes.
long residentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

TEST_F(Zenta, ARegistryLockHeldElsewhereDelaysTheStartBySecondsAtMost) {
  fs::create_directories(dir);
  const int held = ::open((dir + "/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const auto start = std::chrono::steady_clock::now();
  ZentaProcess z(ZENTA_PROGRAM, dir);
  ASSERT_TRUE(z.ready()) << z.errors();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  // "Select Host" opens and answers too, and a polite kill still ends it.
  EXPECT_EQ(z.command("tap 90 307"), "ok");
  EXPECT_NE(z.command("windows").find("|Dialog|Select Host|"), std::string::npos);
  ::kill(z.pid(), SIGTERM);
  EXPECT_EQ(z.wait(5s), 0);
  ::close(held);
}

TEST_F(Zenta, AClientThatAsksWithoutReadingIsDroppedBeforeItsAnswersPileUp) {
  ZentaProcess z(ZENTA_PROGRAM, dir);
  ASSERT_TRUE(z.ready()) << z.errors();
  const long before = residentKb(z.pid());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, z.socket().c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // 460 KB an answer; a thousand of them would be 460 MB.
  const std::string ask = "rect 0 0 240 320\n";
  for (int i = 0; i < 1000; ++i) {
    if (::send(fd, ask.data(), ask.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) break;
    if (i % 50 == 0) {
      EXPECT_EQ(z.command("idle"), "ok");  // the others are still served
    }
  }
  EXPECT_EQ(z.command("idle"), "ok");
  EXPECT_LT(residentKb(z.pid()) - before, 64 * 1024);
  // Dropped: what it is sent ends, after what the socket had taken.
  char buffer[65536];
  ssize_t got = 0;
  for (int i = 0; i < 100000 && (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0; ++i) {
  }
  EXPECT_LE(got, 0);
  ::close(fd);
}

}  // namespace
}  // namespace zenta::testing
