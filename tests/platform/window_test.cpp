// Window manager: creation, destruction, sent and posted messages, paint.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/device/device.h"
#include "platform/screen/screen.h"
#include "platform/windows.h"
#include "platform/wm/window_manager.h"

namespace {

using zenta::platform::injectStylus;
using zenta::platform::StylusAction;

std::vector<std::string>* journal = nullptr;

std::string name(UINT message) {
  switch (message) {
    case WM_CREATE:
      return "create";
    case WM_DESTROY:
      return "destroy";
    case WM_SIZE:
      return "size";
    case WM_MOVE:
      return "move";
    case WM_PAINT:
      return "paint";
    case WM_ERASEBKGND:
      return "erase";
    case WM_SHOWWINDOW:
      return "show";
    case WM_USER:
      return "user";
    case WM_LBUTTONDOWN:
      return "down";
    case WM_LBUTTONUP:
      return "up";
    case WM_ACTIVATE:
      return "activate";
    case WM_CLOSE:
      return "close";
    default:
      return "";
  }
}

LRESULT recordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const std::string n = name(message);
  if (journal != nullptr && !n.empty()) {
    std::u16string title(64, u'\0');
    title.resize(
        size_t(DefWindowProcW(hwnd, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(title.data()))));
    std::string t(title.begin(), title.end());
    if (message == WM_LBUTTONDOWN || message == WM_LBUTTONUP) {
      t += "@" + std::to_string(int16_t(LOWORD(lParam))) + "," +
           std::to_string(int16_t(HIWORD(lParam)));
    }
    journal->push_back(t + ":" + n);
  }
  if (message == WM_CREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    if (create->lpCreateParams != nullptr)
      SetWindowLongW(hwnd, GWL_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return 0;
  }
  if (message == WM_USER) return LRESULT(wParam + 1);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

class Windows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    zenta::platform::configureScreen(240, 320);
    zenta::platform::registerSystemClasses();
    WNDCLASSW wc{};
    wc.lpfnWndProc = recordingProc;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = u"Recording";
    RegisterClassW(&wc);
  }
  void SetUp() override { journal = &log; }
  void TearDown() override {
    journal = nullptr;
    for (HWND h : created) {
      if (IsWindow(h)) DestroyWindow(h);
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HWND make(const char16_t* title, DWORD style, HWND parent = nullptr, RECT r = {0, 0, 100, 100},
            void* param = nullptr) {
    HWND h = CreateWindowExW(0, u"Recording", title, style, r.left, r.top, r.right - r.left,
                             r.bottom - r.top, parent, nullptr, nullptr, param);
    created.push_back(h);
    return h;
  }
  // Dispatches what is queued, paints included.
  void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
  }
  std::vector<std::string> log;
  std::vector<HWND> created;
};

TEST_F(Windows, CreationMessagesComeBeforeCreateReturns) {
  int marker = 0;
  HWND w = make(u"A", WS_VISIBLE, nullptr, {0, 0, 100, 100}, &marker);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(GetWindowLongW(w, GWL_USERDATA), reinterpret_cast<LONG_PTR>(&marker));
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "A:create");
  EXPECT_EQ(log[1], "A:size");
  EXPECT_EQ(log[2], "A:move");
  EXPECT_TRUE(IsWindow(w));
  EXPECT_TRUE(IsWindowVisible(w));
  EXPECT_EQ(
      CreateWindowExW(0, u"NoSuchClass", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
      nullptr);
  EXPECT_EQ(RegisterClassW(nullptr), 0);
}

TEST_F(Windows, DestructionReachesChildrenAndOwnedWindows) {
  HWND top = make(u"Top", WS_VISIBLE);
  HWND child = make(u"Child", WS_CHILD | WS_VISIBLE, top, {10, 10, 50, 50});
  HWND grandchild = make(u"Grand", WS_CHILD | WS_VISIBLE, child, {1, 1, 5, 5});
  HWND owned = make(u"Owned", WS_VISIBLE, top);
  EXPECT_EQ(GetParent(child), top);
  EXPECT_EQ(GetWindow(owned, GW_OWNER), top);
  EXPECT_EQ(GetWindow(top, GW_CHILD), child);
  log.clear();
  ASSERT_TRUE(DestroyWindow(top));
  EXPECT_EQ(log, (std::vector<std::string>{"Owned:destroy", "Top:destroy", "Child:destroy",
                                           "Grand:destroy"}));
  for (HWND h : {top, child, grandchild, owned})
    EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(DestroyWindow(top));
  EXPECT_EQ(GetWindowLongW(top, GWL_USERDATA), 0);
}

TEST_F(Windows, SentIsDirectPostedWaitsForTheLoop) {
  HWND w = make(u"W", 0);
  log.clear();
  EXPECT_EQ(SendMessageW(w, WM_USER, 41, 0), 42);
  EXPECT_EQ(log, std::vector<std::string>{"W:user"});
  log.clear();
  ASSERT_TRUE(PostMessageW(w, WM_USER, 1, 0));
  EXPECT_TRUE(log.empty());
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER);
  EXPECT_EQ(DispatchMessageW(&msg), 2);
  EXPECT_EQ(log, std::vector<std::string>{"W:user"});
  EXPECT_FALSE(PostMessageW(nullptr, WM_USER, 0, 0));

  // Posted from another thread, then the quit message after it.
  std::thread([w] { PostMessageW(w, WM_USER, 7, 0); }).join();
  PostQuitMessage(3);
  ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(Windows, TimersComeWhenDueUntilKilled) {
  HWND w = make(u"W", 0);
  EXPECT_EQ(SetTimer(w, 5, 30, nullptr), 5u);
  EXPECT_EQ(SetTimer(nullptr, 5, 30, nullptr), 0u);
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));  // not due yet
  const auto start = std::chrono::steady_clock::now();
  for (int tick = 0; tick < 3; ++tick) {
    ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(msg.hwnd, w);
    EXPECT_EQ(msg.wParam, 5u);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(85));
  EXPECT_TRUE(KillTimer(w, 5));
  EXPECT_FALSE(KillTimer(w, 5));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Windows, SendFromAnotherThreadIsAnsweredByTheOwner) {
  HWND w = make(u"W", 0);
  std::atomic<LRESULT> answer{0};
  std::thread sender([&] { answer = SendMessageW(w, WM_USER, 99, 0); });
  MSG msg;
  // The owner answers inside its message loop.
  while (answer == 0)
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
  sender.join();
  EXPECT_EQ(answer, 100);
}

TEST_F(Windows, PaintIsGeneratedErasedAndValidated) {
  HWND w = make(u"P", WS_VISIBLE, nullptr, {0, 30, 100, 130});
  pump();
  log.clear();
  RECT part{10, 10, 20, 20};
  InvalidateRect(w, &part, FALSE);
  RECT update;
  ASSERT_TRUE(GetUpdateRect(w, &update, FALSE));
  EXPECT_EQ(update.left, 10);
  pump();
  EXPECT_EQ(log, std::vector<std::string>{"P:paint"});  // no erase asked
  EXPECT_FALSE(GetUpdateRect(w, nullptr, FALSE));
  log.clear();
  InvalidateRect(w, nullptr, TRUE);
  pump();
  EXPECT_EQ(log, (std::vector<std::string>{"P:paint", "P:erase"}));
  // The class brush (white) erased the client area on the screen.
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetPixel(screen, 50, 80), RGB(255, 255, 255));
  ReleaseDC(nullptr, screen);
  log.clear();
  pump();
  EXPECT_TRUE(log.empty());
  // A bordered window's frame is drawn, whatever the screen held there.
  HDC dc = GetDC(nullptr);
  RECT red{100, 150, 160, 200};
  HBRUSH brush = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(dc, &red, brush);
  DeleteObject(brush);
  make(u"B", WS_VISIBLE | WS_BORDER, nullptr, {110, 160, 150, 190});
  pump();
  EXPECT_EQ(GetPixel(dc, 110, 170), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, 130, 189), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, 130, 175), RGB(255, 255, 255));
  ReleaseDC(nullptr, dc);
}

TEST_F(Windows, SlotsTextAndGeometry) {
  HWND w = make(u"Title", WS_VISIBLE | WS_CAPTION, nullptr, {5, 40, 105, 140});
  EXPECT_EQ(GetWindowLongW(w, GWL_STYLE) & WS_CAPTION, LONG_PTR(WS_CAPTION));
  EXPECT_EQ(GetWindowLongW(w, GWL_WNDPROC), reinterpret_cast<LONG_PTR>(recordingProc));
  SetWindowTextW(w, u"Other");
  char16_t text[16];
  EXPECT_EQ(GetWindowTextW(w, text, 16), 5);
  EXPECT_EQ(std::u16string(text), u"Other");
  EXPECT_EQ(GetWindowTextW(w, text, 3), 2);
  EXPECT_EQ(std::u16string(text), u"Ot");
  RECT r, c;
  GetWindowRect(w, &r);
  GetClientRect(w, &c);
  EXPECT_EQ(r.left, 5);
  EXPECT_EQ(r.top, 40);
  EXPECT_EQ(c.right, 100);
  EXPECT_EQ(c.bottom, 100 - 26);  // below the caption
  POINT p{0, 0};
  ClientToScreen(w, &p);
  EXPECT_EQ(p.x, 5);
  EXPECT_EQ(p.y, 66);
  HWND child = make(u"C", WS_CHILD | WS_VISIBLE, w, {3, 4, 13, 14});
  POINT q{1, 1};
  MapWindowPoints(child, w, &q, 1);
  EXPECT_EQ(q.x, 4);
  EXPECT_EQ(q.y, 5);
  MoveWindow(w, 0, 30, 50, 60, TRUE);
  GetWindowRect(w, &r);
  EXPECT_EQ(r.right, 50);
  EXPECT_EQ(r.bottom, 90);
  RECT work;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
  EXPECT_EQ(work.top, 26);
  EXPECT_EQ(work.bottom, 320);
  EXPECT_EQ(FindWindowW(nullptr, u"Other"), w);
  EXPECT_EQ(FindWindowW(u"recording", u"Other"), w);
  EXPECT_EQ(FindWindowW(nullptr, u"None such"), nullptr);
}

TEST_F(Windows, StylusGoesToTheWindowUnderThePointInClientCoordinates) {
  HWND back = make(u"Back", WS_VISIBLE, nullptr, {0, 30, 200, 230});
  HWND front = make(u"Front", WS_VISIBLE, nullptr, {50, 80, 150, 180});
  HWND child = make(u"Child", WS_CHILD | WS_VISIBLE, front, {10, 10, 30, 30});
  pump();
  log.clear();
  injectStylus(StylusAction::Up, 95, 125);   // front's client
  injectStylus(StylusAction::Down, 65, 95);  // the child
  injectStylus(StylusAction::Down, 20, 40);  // back only: it comes to the front
  pump();
  std::vector<std::string> taps;
  for (const auto& entry : log) {
    if (entry.find("down") != std::string::npos || entry.find("up") != std::string::npos)
      taps.push_back(entry);
  }
  EXPECT_EQ(taps,
            (std::vector<std::string>{"Front@45,45:up", "Child@5,5:down", "Back@20,10:down"}));
  EXPECT_EQ(GetActiveWindow(), back);
  EXPECT_EQ(GetWindow(back, GW_HWNDNEXT), front);
  // A disabled window gets no input.
  SetForegroundWindow(front);
  EnableWindow(front, FALSE);
  log.clear();
  injectStylus(StylusAction::Down, 70, 100);
  pump();
  for (const auto& entry : log)
    EXPECT_EQ(entry.find("down"), std::string::npos) << entry;
  (void)back;
  (void)child;
}

}  // namespace
