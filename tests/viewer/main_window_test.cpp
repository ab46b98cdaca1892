// The main window in this process, on the headless device: creation, the
// paint cycle, the messages it answers and closing with channels open.
#include "viewer/main_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/registry/registry.h"
#include "resources/resource_ids.h"
#include "stream/protocol.h"
#include "tests/sim/wire_client.h"
#include "tests/support/bitmap_file.h"
#include "tests/support/loopback.h"
#include "tests/support/test_folder.h"
#include "viewer/commands.h"
#include "viewer/viewer_app.h"

namespace zenta::viewer {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

uint32_t screenPixel(int x, int y) {
  HDC screen = GetDC(nullptr);
  const COLORREF c = GetPixel(screen, x, y);
  ReleaseDC(nullptr, screen);
  return uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | GetBValue(c);
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path dir = folder.path();
    fs::create_directories(dir / "run");
    fs::permissions(dir / "run", fs::perms::owner_all);
    // Programs on the device find each other through this folder: each test
    // keeps to its own, so tests running side by side never meet.
    ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    platform::setRegistryFile((dir / "registry").string());
    stream::SessionSettings settings;
    settings.connectTimeout = 2s;
    window = std::make_unique<MainWindow>(state, settings);
    app = std::make_unique<ViewerApp>(*window);
    app->instance = GetModuleHandleW(nullptr);
    ASSERT_EQ(app->initialise(nullptr, nullptr, SW_SHOW), 0);
    pump();
  }
  void TearDown() override {
    if (IsWindow(window->hwnd)) DestroyWindow(window->hwnd);
    pump();
    // Leave the shell's bars as the next test expects them.
    SHFullScreen(nullptr, SHFS_SHOWTASKBAR);
    app.reset();
    window.reset();
  }

  testing::TestFolder folder{"zenta-window"};
  // Opens the channels in `mask` on `server` (its connection 0 is the
  // probe), through a port query.
  void open(const testing::TestServer& server, uint32_t mask) {
    const std::string port = std::to_string(server.port());
    ports = std::make_unique<testing::TestServer>([port](testing::Peer& peer) {
      while (peer.readLine(2s).size() > 2) {
      }
      peer.send("HTTP/1.0 200 OK\r\n\r\n80 " + port);
      peer.close();
    });
    stream::Login login;
    const std::string host = "127.0.0.1:" + std::to_string(ports->port());
    login.host.assign(host.begin(), host.end());
    stream::ConnectOptions options;
    options.channels = mask;
    options.awaitChannel = 0;
    ASSERT_EQ(window->session.connect(login, window->sink, options),
              stream::ConnectResult::Connected);
  }

  ViewerState state;
  std::unique_ptr<testing::TestServer> ports;
  std::unique_ptr<MainWindow> window;
  std::unique_ptr<ViewerApp> app;
};

TEST_F(MainWindowTest, TheFirstPaintTakesTheScreenAboveTheMenuBarAndShowsTheSkin) {
  RECT r{};
  GetWindowRect(window->hwnd, &r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 240);
  EXPECT_EQ(r.bottom, 294);
  EXPECT_EQ(state.layoutMode, 1);
  EXPECT_NE(window->menuBar, nullptr);
  EXPECT_EQ(state.current.load(), &state.channels[0]);
  for (const auto& channel : state.channels) {
    EXPECT_NE(channel.pictureDC, nullptr);
    EXPECT_NE(channel.rotated, nullptr);
    EXPECT_EQ(channel.link->socket, stream::kNoConnection);
  }
  const auto skin = testing::readBitmapFile(std::string(ZENTA_PROGRAM_DIR) + "/skin.bmp");
  ASSERT_TRUE(skin);
  int differing = 0;
  for (int y = 40; y < 294; y += 3) {
    for (int x = 0; x < 240; x += 3)
      differing += screenPixel(x, y) != skin->pixel(x, y);
  }
  EXPECT_EQ(differing, 0);
  // The version text in the status line, green on black.
  int green = 0;
  for (int y = window->display.statusRect.top; y < window->display.statusRect.bottom; ++y) {
    for (int x = window->display.statusRect.left; x < window->display.statusRect.left + 80; ++x)
      green += screenPixel(x, y) == 0x00FF00;
  }
  EXPECT_GT(green, 20);
}

TEST_F(MainWindowTest, ARepaintOfPartOfTheWindowShowsTheSkinThere) {
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  RECT part{30, 100, 90, 160};
  FillRect(state.windowDC, &part, red);
  DeleteObject(red);
  EXPECT_EQ(screenPixel(50, 120), 0xFF0000u);
  InvalidateRect(window->hwnd, &part, FALSE);
  UpdateWindow(window->hwnd);
  pump();
  const auto skin = testing::readBitmapFile(std::string(ZENTA_PROGRAM_DIR) + "/skin.bmp");
  ASSERT_TRUE(skin);
  for (int y = part.top; y < part.bottom; y += 5) {
    for (int x = part.left; x < part.right; x += 5)
      ASSERT_EQ(screenPixel(x, y), skin->pixel(x, y)) << x << "," << y;
  }
}

TEST_F(MainWindowTest, MessagesItAnswersAndCommandsItIgnores) {
  EXPECT_EQ(SendMessageW(window->hwnd, kAnswerOneMessage, 0, 0), 1);
  // A control's notification that looks like the quit command is not one.
  SendMessageW(window->hwnd, WM_COMMAND, MAKEWPARAM(resources::kCommandQuit, 1), 0);
  EXPECT_TRUE(IsWindow(window->hwnd));
  SendMessageW(window->hwnd, WM_COMMAND, MAKEWPARAM(resources::kCommandQuit, 0), 0);
  EXPECT_FALSE(IsWindow(window->hwnd));
  MSG msg{};
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 0u);
}

TEST_F(MainWindowTest, ClosingSendsTheResumeCommandOnEveryOpenChannelFirst) {
  testing::TestServer server([](testing::Peer& peer) { peer.readToEnd(10s); });
  open(server, 0x7);
  ASSERT_TRUE(server.waitForConnections(4));
  SendMessageW(window->hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window->hwnd));
  for (size_t i = 1; i <= 3; ++i) {
    ASSERT_TRUE(testing::eventually([&] { return server.closedByClient(i); }));
    // Which connection is which channel depends on the order of accepts.
    const std::string got = server.received(i);
    bool resumed = false;
    for (int channel = 1; channel <= 3; ++channel)
      resumed = resumed || got.find(stream::formatResume(channel)) != std::string::npos;
    EXPECT_TRUE(resumed) << got;
  }
  for (const auto& channel : state.channels)
    EXPECT_EQ(channel.link->socket, stream::kNoConnection);
}

std::string infoMessage(char permission) {
  const std::string text = stream::formatInfoText("Yard", "Test DVR", permission);
  const auto header = stream::formatHeader(39156.5, stream::textLengthCode(text.size()));
  return std::string(header.begin(), header.end()) + text;
}

TEST_F(MainWindowTest, ARefusalAfterAGrantKeepsThePictureButNotTheCameraControl) {
  std::atomic<int> step{0};
  testing::TestServer server([&](testing::Peer& peer) {
    if (peer.index() == 0) return;  // the probe
    for (int i = 0; i < 4; ++i)
      peer.readLine();  // the channel request and three logins
    peer.send(infoMessage('1'));
    while (step == 0)
      std::this_thread::sleep_for(5ms);
    peer.send(infoMessage('2'));
    peer.readToEnd(10s);
  });
  ChannelView& channel = state.channels[0];
  open(server, 0x1);
  ASSERT_TRUE(testing::eventually([&] { return channel.ptzCapable.load(); }));
  EXPECT_EQ(channel.viewState, ViewState::Granted);
  EXPECT_EQ(state.channelCount, 1);
  step = 1;
  ASSERT_TRUE(testing::eventually([&] { return !channel.ptzCapable.load(); }));
  // Not on screen: paused as soon as its INFO text arrived.
  ASSERT_TRUE(testing::eventually(
      [&] { return server.received(1).find(stream::formatPause(1)) != std::string::npos; }));
  EXPECT_EQ(channel.viewState, ViewState::Granted);
  EXPECT_EQ(std::string(channel.cameraNameCopy().data()), std::string(16, ' ') + "Yard");
  window->session.closeAllChannels();
}

// Connecting and disconnecting while sixteen channels stream and draw: the
// UI thread joins the receive threads, which never wait for it.
TEST_F(MainWindowTest, DisconnectWhileSixteenChannelsDrawNeverHangs) {
  testing::SimProcess sim({"--rate", "25", "--no-picture-log"});
  ASSERT_TRUE(sim.ok());
  const std::string port = std::to_string(sim.httpPort());
  state.login.host = u"127.0.0.1:" + std::u16string(port.begin(), port.end());
  for (int round = 0; round < 6; ++round) {
    connect(*window);
    // The sequence runs on its own thread; the window goes on meanwhile.
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (state.connecting && std::chrono::steady_clock::now() < limit)
      pump();
    ASSERT_NE(state.channels[15].link->socket, stream::kNoConnection) << round;
    // Four pictures or one, the threads draw while the UI thread does too.
    const auto until = std::chrono::steady_clock::now() + 300ms;
    while (std::chrono::steady_clock::now() < until) {
      pump();
      window->display.drawChannel(0);
    }
    disconnect(*window);
    for (const auto& channel : state.channels)
      ASSERT_EQ(channel.link->socket, stream::kNoConnection);
  }
}

}  // namespace
}  // namespace zenta::viewer
