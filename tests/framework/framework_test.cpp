// The framework on real device windows and dialogs, headless.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "framework/ce_app.h"
#include "framework/ce_dialog.h"
#include "framework/ce_wnd.h"
#include "platform/device/device.h"
#include "platform/registry/registry.h"
#include "platform/screen/screen.h"
#include "platform/wm/window_manager.h"

namespace zenta::framework {
namespace {

std::vector<std::string> reported;
void recordReport(const char16_t* text) {
  reported.emplace_back(text, text + std::char_traits<char16_t>::length(text));
}

void pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    DispatchMessageW(&msg);
}

// A window that records what reaches it.
class Recorder : public CeWnd {
 public:
  std::vector<std::string> log;
  HWND hwndAtCreate = nullptr;
  bool throwOnPaint = false;
  void onAttach(HWND) override { log.push_back("attach"); }
  void onCreate(CREATESTRUCTW&, bool& handled) override {
    hwndAtCreate = hwnd;
    log.push_back("create");
    handled = true;
  }
  void onPaint(bool& handled) override {
    if (throwOnPaint) {
      throwOnPaint = false;  // once: the window stays invalid and is painted again
      throw std::runtime_error("paint");
    }
    PAINTSTRUCT ps;
    BeginPaint(hwnd, &ps);
    EndPaint(hwnd, &ps);
    handled = true;
  }
  LRESULT onOtherMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) override {
    if (message == WM_USER) {
      log.push_back("user " + std::to_string(wParam));
      // A message sent from inside a handler does not change what the
      // outer handler's default processing sees.
      if (wParam == 1) SendMessageW(hwnd, WM_USER + 1, 0, 0);
    }
    if (message == WM_USER + 5) {
      handled = true;
      return 55;
    }
    return 0;
  }
  void onFinalMessage(HWND) override { log.push_back("final"); }
};

// A window class whose procedure records the parameters that reach it.
std::vector<std::pair<UINT, WPARAM>> baseSeen;
LRESULT baseProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_USER) baseSeen.emplace_back(message, wParam);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

class Framework : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    platform::configureScreen(240, 320);
    platform::registerSystemClasses();
    WNDCLASSW wc{};
    wc.lpfnWndProc = baseProc;
    wc.lpszClassName = u"Base";
    wc.style = CS_GLOBALCLASS;
    RegisterClassW(&wc);
  }
  void SetUp() override {
    reported.clear();
    setExceptionReporter(recordReport);
  }
  void TearDown() override {
    setExceptionReporter(nullptr);
    pump();
  }
};

TEST_F(Framework, BindingCreationAndUnbinding) {
  Recorder w;
  ASSERT_TRUE(
      w.create(nullptr, nullptr, 0, 26, 240, 200, u"ZENTA", WS_VISIBLE, 0, nullptr, nullptr));
  ASSERT_GE(w.log.size(), 2u);
  EXPECT_EQ(w.log[0], "attach");
  EXPECT_EQ(w.log[1], "create");
  EXPECT_EQ(w.hwndAtCreate, w.hwnd);
  WNDCLASSW wc{};
  ASSERT_TRUE(GetClassInfoW(nullptr, u"CeWnd:GENERIC", &wc));
  EXPECT_EQ(wc.hbrBackground, GetStockObject(WHITE_BRUSH));
  EXPECT_EQ(FindWindowW(u"CeWnd:GENERIC", u"ZENTA"), w.hwnd);
  EXPECT_EQ(SendMessageW(w.hwnd, WM_USER + 5, 0, 0), 55);
  const HWND window = w.hwnd;
  DestroyWindow(window);
  EXPECT_EQ(w.hwnd, nullptr);
  EXPECT_EQ(w.log.back(), "final");
  const size_t before = w.log.size();
  SendMessageW(window, WM_USER, 9, 0);  // the window is gone; nothing reaches the object
  EXPECT_EQ(w.log.size(), before);
  // A second window of the generic class registers nothing new.
  Recorder second;
  EXPECT_TRUE(second.create(u"", nullptr, 0, 26, 10, 10, u"two", 0, 0, nullptr, nullptr));
}

TEST_F(Framework, UnhandledMessagesGoToTheBaseWithTheCurrentMessage) {
  Recorder w;
  ASSERT_TRUE(w.create(u"Base", nullptr, 0, 26, 100, 100, u"super", 0, 0, nullptr, nullptr));
  EXPECT_EQ(w.previousProc, baseProc);
  WNDCLASSW wc{};
  ASSERT_TRUE(GetClassInfoW(nullptr, u"CeWnd:Base", &wc));
  EXPECT_EQ(wc.style & CS_GLOBALCLASS, 0u);
  baseSeen.clear();
  SendMessageW(w.hwnd, WM_USER, 1, 0);
  // The inner message reached the base first, then the outer one, with its
  // own parameters.
  ASSERT_EQ(baseSeen.size(), 2u);
  EXPECT_EQ(baseSeen[0], (std::pair<UINT, WPARAM>{WM_USER + 1, 0}));
  EXPECT_EQ(baseSeen[1], (std::pair<UINT, WPARAM>{WM_USER, 1}));
  Recorder unknown;
  EXPECT_FALSE(unknown.create(u"NoSuchClass", nullptr, 0, 0, 1, 1, u"", 0, 0, nullptr, nullptr));
}

TEST_F(Framework, AThrowingHandlerIsReportedAndTheLoopGoesOn) {
  Recorder w;
  ASSERT_TRUE(
      w.create(nullptr, nullptr, 0, 26, 100, 100, u"throws", WS_VISIBLE, 0, nullptr, nullptr));
  w.throwOnPaint = true;
  InvalidateRect(w.hwnd, nullptr, TRUE);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, w.hwnd, WM_PAINT, WM_PAINT, PM_REMOVE));
  DispatchMessageW(&msg);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "Window message (0x000f) termainated abnormally by an exception");
  w.throwOnPaint = false;
  pump();
  EXPECT_EQ(SendMessageW(w.hwnd, WM_USER + 5, 0, 0), 55);
}

TEST_F(Framework, TheRealFatalBoxComesUpAndTheProgramGoesOn) {
  setExceptionReporter(nullptr);
  Recorder w;
  ASSERT_TRUE(
      w.create(nullptr, nullptr, 0, 26, 100, 100, u"throws", WS_VISIBLE, 0, nullptr, nullptr));
  w.throwOnPaint = true;
  std::thread tapper([] {
    HWND box = nullptr;
    for (int i = 0; i < 500 && box == nullptr; ++i) {
      box = FindWindowW(u"MessageBox", u"Fatal");
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (box == nullptr) return;
    RECT r;
    GetWindowRect(box, &r);
    platform::injectStylus(platform::StylusAction::Down, (r.left + r.right) / 2, r.bottom - 15);
    platform::injectStylus(platform::StylusAction::Up, (r.left + r.right) / 2, r.bottom - 15);
  });
  SendMessageW(w.hwnd, WM_PAINT, 0, 0);
  tapper.join();
  w.throwOnPaint = false;
  EXPECT_TRUE(IsWindow(w.hwnd));
  EXPECT_EQ(FindWindowW(u"MessageBox", nullptr), nullptr);
}

// A dialog that records what reaches it.
class TestDialog : public CeDialog {
 public:
  TestDialog() : CeDialog(107) {}
  std::vector<std::string> log;
  HBRUSH brush = CreateSolidBrush(RGB(0, 0, 200));
  HWND ownerSeen = nullptr;
  std::function<void(TestDialog&)> onStart;
  ~TestDialog() override { DeleteObject(brush); }
  LRESULT onInitDialog() override {
    log.push_back("init");
    ownerSeen = GetWindow(hwnd, GW_OWNER);
    PostMessageW(hwnd, WM_USER, 0, 0);
    return CeDialog::onInitDialog();
  }
  LRESULT onOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override {
    if (message == WM_SETFONT) log.push_back("font");
    if (message == WM_USER && onStart) onStart(*this);
    if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lParam) == GetDlgItem(hwnd, 21)) {
      (void)wParam;
      handled = true;
      return reinterpret_cast<LRESULT>(brush);
    }
    return 0;
  }
};

TEST_F(Framework, DialogsFromTheirTemplate) {
  Recorder owner;
  ASSERT_TRUE(
      owner.create(nullptr, nullptr, 0, 26, 240, 268, u"owner", WS_VISIBLE, 0, nullptr, nullptr));
  HWND child = CreateWindowExW(0, u"Base", u"", WS_CHILD | WS_VISIBLE, 5, 5, 20, 20, owner.hwnd,
                               nullptr, nullptr, nullptr);
  TestDialog dialog;
  dialog.onStart = [](TestDialog& d) {
    // A handled colour message answers the brush itself.
    EXPECT_EQ(SendMessageW(d.hwnd, WM_CTLCOLORSTATIC, 0,
                           reinterpret_cast<LPARAM>(GetDlgItem(d.hwnd, 21))),
              reinterpret_cast<LRESULT>(d.brush));
    // A handled command stores 0 as its result and the procedure says true.
    SetWindowLongW(d.hwnd, DWL_MSGRESULT, 5);
    EXPECT_EQ(CeDialog::dialogProc(d.hwnd, WM_COMMAND, MAKEWPARAM(0xFFFF, 0),
                                   reinterpret_cast<LPARAM>(GetDlgItem(d.hwnd, 20))),
              TRUE);
    EXPECT_EQ(GetWindowLongW(d.hwnd, DWL_MSGRESULT), 0);
    // The caption's OK button.
    RECT r;
    GetWindowRect(d.hwnd, &r);
    platform::injectStylus(platform::StylusAction::Down, r.right - 16, r.top + 13);
    platform::injectStylus(platform::StylusAction::Up, r.right - 16, r.top + 13);
  };
  // A child window given: the owner is its top-level window.
  EXPECT_EQ(dialog.doModal(0, child, nullptr), IDOK);
  EXPECT_EQ(dialog.ownerSeen, owner.hwnd);
  ASSERT_GE(dialog.log.size(), 1u);
  EXPECT_EQ(dialog.log[0], "init");  // the font came before binding: not seen
  EXPECT_EQ(std::count(dialog.log.begin(), dialog.log.end(), "font"), 0);
  EXPECT_EQ(dialog.hwnd, nullptr);

  // No owner given: the application's main window, else the active one.
  TestDialog second;
  second.onStart = [](TestDialog& d) { EndDialog(d.hwnd, 33); };
  SetForegroundWindow(owner.hwnd);
  EXPECT_EQ(second.doModal(0, nullptr, nullptr), 33);
  EXPECT_EQ(second.ownerSeen, owner.hwnd);
  // A handler that throws: the dialog's own text, and the dialog stays open.
  TestDialog throwing;
  throwing.onStart = [](TestDialog& d) {
    static bool thrown = false;
    if (!thrown) {
      thrown = true;
      PostMessageW(d.hwnd, WM_USER, 0, 0);
      throw std::runtime_error("handler");
    }
    EndDialog(d.hwnd, 44);
  };
  EXPECT_EQ(throwing.doModal(0, owner.hwnd, nullptr), 44);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "Window message termainated abnormally by an exception");
  // An initialisation that throws still leaves the focus on a control.
  struct ThrowingInit : TestDialog {
    bool focusOnControl = false;
    LRESULT onInitDialog() override {
      PostMessageW(hwnd, WM_USER + 1, 0, 0);
      throw std::runtime_error("init");
    }
    LRESULT onOtherMessage(UINT message, WPARAM, LPARAM, bool& handled) override {
      if (message != WM_USER + 1) return 0;
      focusOnControl = GetFocus() != nullptr && GetParent(GetFocus()) == hwnd;
      handled = true;
      EndDialog(hwnd, 45);
      return 0;
    }
  } init;
  EXPECT_EQ(init.doModal(0, owner.hwnd, nullptr), 45);
  EXPECT_TRUE(init.focusOnControl);
  reported.clear();
  TestDialog missing;
  EXPECT_EQ(missing.doModal(999, owner.hwnd, nullptr), -1);
  DestroyWindow(owner.hwnd);
}

class Centred : public CeDialog {
 public:
  Centred() : CeDialog(107) {}
  std::function<void(Centred&)> check;
  LRESULT onInitDialog() override {
    PostMessageW(hwnd, WM_USER, 0, 0);
    return 1;
  }
  LRESULT onOtherMessage(UINT message, WPARAM, LPARAM, bool&) override {
    if (message == WM_USER) {
      check(*this);
      EndDialog(hwnd, 1);
    }
    return 0;
  }
};

TEST_F(Framework, CentringKeepsTheDialogInsideTheWorkArea) {
  Recorder owner;
  ASSERT_TRUE(
      owner.create(nullptr, nullptr, 0, 26, 240, 268, u"owner", WS_VISIBLE, 0, nullptr, nullptr));
  Centred dialog;
  dialog.check = [&](Centred& d) {
    RECT work, box;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(d.hwnd, &box);
    const int w = box.right - box.left, h = box.bottom - box.top;
    // Over the owner: the owner's centre, rounding toward zero.
    d.centerWindow(owner.hwnd);
    GetWindowRect(d.hwnd, &box);
    EXPECT_EQ(box.left, (0 + 240) / 2 - w / 2);
    EXPECT_EQ(box.top, (26 + 294) / 2 - h / 2);
    // Over a window hanging off the top-left: pushed to the area's edges.
    MoveWindow(owner.hwnd, -200, -200, 100, 100, FALSE);
    d.centerWindow(owner.hwnd);
    GetWindowRect(d.hwnd, &box);
    EXPECT_EQ(box.left, work.left);
    EXPECT_EQ(box.top, work.top);
    // Off the bottom-right.
    MoveWindow(owner.hwnd, 300, 400, 100, 100, FALSE);
    d.centerWindow(owner.hwnd);
    GetWindowRect(d.hwnd, &box);
    EXPECT_EQ(box.right, work.right);
    EXPECT_EQ(box.bottom, work.bottom);
  };
  EXPECT_EQ(dialog.doModal(0, owner.hwnd, nullptr), 1);
  DestroyWindow(owner.hwnd);
}

class TestApp : public CeApp {
 public:
  int initialiseResult = 0;
  bool exited = false;
  int runResult = -1;
  int initialise(HINSTANCE, LPWSTR, int) override {
    EXPECT_NE(instance, nullptr);
    PostQuitMessage(7);
    return initialiseResult;
  }
  int run() override { return runResult = CeApp::run(); }
  int exit() override {
    exited = true;
    return 42;
  }
};

TEST_F(Framework, WinMainRunsTheApplication) {
  {
    TestApp app;
    EXPECT_EQ(theApp, &app);
    EXPECT_EQ(WinMain(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW), 42);
    EXPECT_EQ(app.runResult, 7);
    EXPECT_TRUE(app.exited);
    EXPECT_EQ(app.instance, nullptr);
  }
  {
    TestApp failing;
    failing.initialiseResult = 3;
    EXPECT_EQ(WinMain(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW), 1);
    EXPECT_FALSE(failing.exited);
    EXPECT_EQ(failing.runResult, -1);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  EXPECT_EQ(theApp, nullptr);
  EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
}

TEST_F(Framework, RegistryKeyOnTheRealStore) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("zenta-framework-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  platform::setRegistryFile((dir / "registry").string());
  RegistryKey key;
  EXPECT_EQ(key.close(), 0);
  DWORD disposition = 0;
  ASSERT_EQ(key.createKey(HKEY_LOCAL_MACHINE, u"Software\\Zentaco\\Zenta", nullptr, 0, 0, nullptr,
                          &disposition),
            0);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(key.setString(u"recorder:8080", u"Host"), 0);
  EXPECT_EQ(key.setString(u"default", u""), 0);
  char16_t buffer[32] = {};
  DWORD size = sizeof buffer;
  EXPECT_EQ(key.queryValue(buffer, u"Host", &size), 0);
  EXPECT_EQ(std::u16string(buffer), u"recorder:8080");
  EXPECT_EQ(size, 28u);
  size = sizeof buffer;
  EXPECT_EQ(key.queryValue(buffer, u"", &size), 0);
  EXPECT_EQ(std::u16string(buffer), u"default");
  RegistryKey host;
  ASSERT_EQ(host.createKey(key.key(), u"recorder", nullptr, 0, 0, nullptr, nullptr), 0);
  host.close();
  std::u16string name;
  EXPECT_TRUE(key.enumSubkey(0, name));
  EXPECT_EQ(name, u"recorder");
  EXPECT_FALSE(key.enumSubkey(1, name));
  // A failing open keeps the key held so far.
  const HKEY held = key.key();
  EXPECT_NE(key.open(HKEY_LOCAL_MACHINE, u"Software\\Missing", 0), 0);
  EXPECT_EQ(key.key(), held);
  EXPECT_EQ(key.open(HKEY_LOCAL_MACHINE, u"Software\\Zentaco", 0), 0);
  EXPECT_NE(key.key(), held);
  EXPECT_EQ(RegCloseKey(held), ERROR_INVALID_HANDLE);  // the first one was closed
  EXPECT_EQ(key.close(), 0);
  EXPECT_EQ(key.close(), 0);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zenta::framework
