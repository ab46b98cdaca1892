// Resources, the shell's bars and message boxes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/device/device.h"
#include "platform/screen/screen.h"
#include "platform/shell/bars.h"
#include "platform/windows.h"
#include "platform/wm/window_manager.h"

namespace {

using zenta::platform::injectStylus;
using zenta::platform::StylusAction;

UINT lastCommand = 0;

LRESULT ownerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) lastCommand = LOWORD(wParam);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    DispatchMessageW(&msg);
}

class Shell : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    zenta::platform::configureScreen(240, 320);
    zenta::platform::registerSystemClasses();
    WNDCLASSW wc{};
    wc.lpfnWndProc = ownerProc;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = u"Owner";
    RegisterClassW(&wc);
  }
  void SetUp() override {
    zenta::platform::setShellBars({});
    owner = CreateWindowExW(0, u"Owner", u"ZENTA", WS_VISIBLE, 0, 26, 240, 268, nullptr, nullptr,
                            nullptr, nullptr);
    pump();
  }
  void TearDown() override {
    DestroyWindow(owner);
    pump();
  }
  HWND owner = nullptr;
};

TEST_F(Shell, ResourcesAreFoundByNumberAndName) {
  HINSTANCE self = GetModuleHandleW(nullptr);
  HRSRC data = FindResourceW(self, MAKEINTRESOURCEW(134), RT_RCDATA);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(SizeofResource(self, data), 18u);
  const auto* words = static_cast<const uint16_t*>(LockResource(LoadResource(self, data)));
  EXPECT_EQ(words[0], 134);
  EXPECT_EQ(FindResourceW(self, MAKEINTRESOURCEW(999), RT_RCDATA), nullptr);

  // A 4-bit palettised bitmap: colour index (x + row) % 4, palette blue,
  // green, red, white; loaded as a 24-bit bitmap, upright.
  for (HBITMAP bitmap :
       {LoadBitmapW(self, MAKEINTRESOURCEW(200)), LoadBitmapW(self, u"testbitmap")}) {
    ASSERT_NE(bitmap, nullptr);
    BITMAP info;
    GetObjectW(bitmap, sizeof info, &info);
    EXPECT_EQ(info.bmWidth, 8);
    EXPECT_EQ(info.bmHeight, 4);
    EXPECT_EQ(info.bmBitsPixel, 24);
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, bitmap);
    const COLORREF palette[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255),
                                 RGB(255, 255, 255)};
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 8; ++x)
        EXPECT_EQ(GetPixel(dc, x, y), palette[(x + y) % 4]) << x << "," << y;
    }
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  HICON small = static_cast<HICON>(LoadImageW(self, MAKEINTRESOURCEW(103), IMAGE_ICON, 16, 16, 0));
  HICON big = static_cast<HICON>(LoadImageW(self, MAKEINTRESOURCEW(103), IMAGE_ICON, 32, 32, 0));
  EXPECT_NE(small, nullptr);
  EXPECT_NE(big, nullptr);
  EXPECT_EQ(SendMessageW(owner, WM_SETICON, 0, reinterpret_cast<LPARAM>(small)), 0);
  EXPECT_EQ(SendMessageW(owner, WM_SETICON, 0, reinterpret_cast<LPARAM>(big)),
            reinterpret_cast<LRESULT>(small));
  EXPECT_TRUE(DestroyIcon(small));
  EXPECT_TRUE(DestroyIcon(big));
  EXPECT_FALSE(DestroyIcon(big));
}

TEST_F(Shell, MenuBarTapsSendCommandsAndTheBarsSetTheWorkArea) {
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(work.bottom, 320);
  SHMENUBARINFO info{};
  info.cbSize = sizeof info;
  info.hwndParent = owner;
  info.nToolBarId = 134;
  info.hInstRes = GetModuleHandleW(nullptr);
  info.nBmpId = 200;
  info.cBmpImages = 1;
  ASSERT_TRUE(SHCreateMenuBar(&info));
  ASSERT_NE(info.hwndMB, nullptr);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(work.top, 26);
  EXPECT_EQ(work.bottom, 294);  // above 240 on a tall screen
  pump();
  lastCommand = 0;
  injectStylus(StylusAction::Down, 10, 300);
  injectStylus(StylusAction::Up, 10, 300);
  pump();
  EXPECT_EQ(lastCommand, 40004u);
  EXPECT_EQ(GetActiveWindow(), owner);  // tapping the bar does not activate it
  lastCommand = 0;
  injectStylus(StylusAction::Down, 200, 300);  // no button there
  injectStylus(StylusAction::Up, 200, 300);
  pump();
  EXPECT_EQ(lastCommand, 0u);

  CommandBar_Show(info.hwndMB, FALSE);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(work.bottom, 320);
  CommandBar_Show(info.hwndMB, TRUE);
  SHFullScreen(owner, SHFS_HIDETASKBAR);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(work.top, 0);
  SIPINFO sip{};
  sip.cbSize = 48;
  ASSERT_TRUE(SHSipInfo(SPI_GETSIPINFO, 0, &sip, 0));
  EXPECT_EQ(sip.fdwFlags & SIPF_ON, 0u);
  EXPECT_EQ(sip.rcVisibleDesktop.bottom - sip.rcVisibleDesktop.top, 320);
  SHFullScreen(owner, SHFS_SHOWTASKBAR);
  // The bar goes with its owner.
  DestroyWindow(owner);
  EXPECT_FALSE(IsWindow(info.hwndMB));
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(work.bottom, 320);
}

TEST_F(Shell, AMouseRestingOnAMenuButtonShowsItsNameUntilItMovesOffOrPresses) {
  SHMENUBARINFO info{};
  info.cbSize = sizeof info;
  info.hwndParent = owner;
  info.nToolBarId = 134;
  info.hInstRes = GetModuleHandleW(nullptr);
  ASSERT_TRUE(SHCreateMenuBar(&info));
  const LPCWSTR names[] = {u"Quit"};
  ASSERT_TRUE(CommandBar_AddToolTips(info.hwndMB, 1, names));
  const auto shown = [] {
    const HWND tip = FindWindowW(u"menu_tip", nullptr);
    return tip != nullptr && IsWindowVisible(tip) ? tip : nullptr;
  };
  const auto shownSoon = [&] {
    for (int i = 0; i < 100 && shown() == nullptr; ++i) {
      pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return shown();
  };
  injectStylus(StylusAction::Hover, 10, 300);
  pump();
  EXPECT_EQ(shown(), nullptr);  // not at once: a mouse passing by shows nothing
  const HWND tip = shownSoon();
  ASSERT_NE(tip, nullptr);
  char16_t text[16] = {};
  GetWindowTextW(tip, text, 16);
  EXPECT_EQ(std::u16string(text), u"Quit");
  RECT place;
  GetWindowRect(tip, &place);
  EXPECT_LE(place.bottom, 294);  // above the bar, on the screen
  EXPECT_GE(place.left, 0);
  // Off the bar, or off the screen: gone.
  injectStylus(StylusAction::Hover, 100, 100);
  pump();
  EXPECT_EQ(shown(), nullptr);
  injectStylus(StylusAction::Hover, 10, 300);
  ASSERT_NE(shownSoon(), nullptr);
  injectStylus(StylusAction::Hover, -1, -1);
  pump();
  EXPECT_EQ(shown(), nullptr);
  // A press takes it away and sends the command as ever.
  injectStylus(StylusAction::Hover, 10, 300);
  ASSERT_NE(shownSoon(), nullptr);
  lastCommand = 0;
  injectStylus(StylusAction::Down, 10, 300);
  pump();
  EXPECT_EQ(shown(), nullptr);
  injectStylus(StylusAction::Up, 10, 300);
  pump();
  EXPECT_EQ(lastCommand, 40004u);
  // Where no button has a name, nothing shows.
  injectStylus(StylusAction::Hover, 200, 300);
  for (int i = 0; i < 40; ++i) {
    pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(shown(), nullptr);
}

TEST_F(Shell, MessageBoxIsModalUntilOkIsTapped) {
  std::atomic<bool> tapped{false};
  std::thread tapper([&] {
    HWND box = nullptr;
    for (int i = 0; i < 500 && box == nullptr; ++i) {
      box = FindWindowW(u"MessageBox", u"Fatal");
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (box == nullptr) return;
    // A tap on the owner while the box is up goes nowhere.
    injectStylus(StylusAction::Down, 5, 40);
    injectStylus(StylusAction::Up, 5, 40);
    RECT r;
    GetWindowRect(box, &r);
    const int x = (r.left + r.right) / 2, y = r.bottom - 15;
    injectStylus(StylusAction::Down, x, y);
    injectStylus(StylusAction::Up, x, y);
    tapped = true;
  });
  EXPECT_EQ(MessageBoxW(owner, u"Window message (0x000f) termainated abnormally by an exception",
                        u"Fatal", MB_ICONHAND),
            IDOK);
  tapper.join();
  EXPECT_TRUE(tapped);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(FindWindowW(u"MessageBox", nullptr), nullptr);
  EXPECT_EQ(GetActiveWindow(), owner);
}

}  // namespace
