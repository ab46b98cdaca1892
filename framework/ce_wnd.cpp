#include "framework/ce_wnd.h"

#include <cstdio>
#include <string>

namespace zenta::framework {

namespace {

constexpr char16_t kGenericClass[] = u"CeWnd:GENERIC";
bool genericRegistered = false;

std::u16string widen(const char* text) {
  std::u16string out;
  for (; *text != 0; ++text)
    out.push_back(char16_t(static_cast<unsigned char>(*text)));
  return out;
}

// Saves the current message and puts it back after a dispatch, so that a
// message sent from inside a handler does not change what the outer
// handler's default processing sees.
class MessageScope {
 public:
  MessageScope(CurrentMessage& slot, const CurrentMessage& now) : slot_(slot), saved_(slot) {
    slot_ = now;
  }
  ~MessageScope() { slot_ = saved_; }
  MessageScope(const MessageScope&) = delete;
  MessageScope& operator=(const MessageScope&) = delete;

 private:
  CurrentMessage& slot_;
  CurrentMessage saved_;
};

}  // namespace

CeWindowBase::~CeWindowBase() {
  if (hwnd != nullptr && IsWindow(hwnd) && DestroyWindow(hwnd)) hwnd = nullptr;
}

namespace {

void showFatalBox(const char16_t* text) {
  MessageBoxW(nullptr, text, u"Fatal", MB_ICONHAND);
}
ExceptionReporter exceptionReporter = showFatalBox;

}  // namespace

void setExceptionReporter(ExceptionReporter reporter) {
  exceptionReporter = reporter != nullptr ? reporter : showFatalBox;
}

void reportHandlerException(const char16_t* text) {
  exceptionReporter(text);
}

void CeMessageHandler::onChar(WPARAM, WORD, WORD, bool&) {}
void CeMessageHandler::onClose(bool&) {}
void CeMessageHandler::onCreate(CREATESTRUCTW&, bool&) {}
LRESULT CeMessageHandler::onCommand(WPARAM, LPARAM, bool&) {
  return 1;
}
LRESULT CeMessageHandler::onNotify(int, NMHDR&, bool&) {
  return 1;
}
void CeMessageHandler::onDestroy(bool&) {}
void CeMessageHandler::onEnable(bool, bool&) {}
LRESULT CeMessageHandler::onEraseBackground(HDC, bool&) {
  return 0;
}
void CeMessageHandler::onKeyDown(WPARAM, WORD, WORD, bool&) {}
void CeMessageHandler::onKeyUp(WPARAM, WORD, WORD, bool&) {}
void CeMessageHandler::onLButtonDoubleClick(WPARAM, WORD, WORD, bool&) {}
void CeMessageHandler::onLButtonDown(WPARAM, WORD, WORD, bool&) {}
void CeMessageHandler::onLButtonUp(WPARAM, WORD, WORD, bool&) {}
void CeMessageHandler::onMouseMove(WPARAM, WORD, WORD, bool&) {}
void CeMessageHandler::onMove(WORD, WORD, bool&) {}
void CeMessageHandler::onPaint(bool&) {}
void CeMessageHandler::onShowWindow(bool, LPARAM, bool&) {}
void CeMessageHandler::onSize(WPARAM, WORD, WORD, bool&) {}
void CeMessageHandler::onTimer(WPARAM, bool&) {}
void CeMessageHandler::onSettingChange(WORD, LPARAM, bool&) {}
LRESULT CeMessageHandler::onOtherMessage(UINT, WPARAM, LPARAM, bool&) {
  return 0;
}
void CeMessageHandler::onAttach(HWND) {}
void CeMessageHandler::onFinalMessage(HWND) {}

LRESULT CeMessageHandler::route(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = false;
  const WORD low = LOWORD(uintptr_t(lParam)), high = HIWORD(uintptr_t(lParam));
  switch (message) {
    case WM_CHAR:
      onChar(wParam, low, high, handled);
      return 0;
    case WM_CLOSE:
      onClose(handled);
      return 0;
    case WM_CREATE:
      onCreate(*reinterpret_cast<CREATESTRUCTW*>(lParam), handled);
      return 0;
    case WM_COMMAND:
      return onCommand(wParam, lParam, handled);
    case WM_NOTIFY:
      return onNotify(int(wParam), *reinterpret_cast<NMHDR*>(lParam), handled);
    case WM_DESTROY:
      onDestroy(handled);
      return 0;
    case WM_ENABLE:
      onEnable(wParam != 0, handled);
      return 0;
    case WM_ERASEBKGND:
      return onEraseBackground(reinterpret_cast<HDC>(wParam), handled);
    case WM_KEYDOWN:
      onKeyDown(wParam, low, high, handled);
      return 0;
    case WM_KEYUP:
      onKeyUp(wParam, low, high, handled);
      return 0;
    case WM_LBUTTONDBLCLK:
      onLButtonDoubleClick(wParam, low, high, handled);
      return 0;
    case WM_LBUTTONDOWN:
      onLButtonDown(wParam, low, high, handled);
      return 0;
    case WM_LBUTTONUP:
      onLButtonUp(wParam, low, high, handled);
      return 0;
    case WM_MOUSEMOVE:
      onMouseMove(wParam, low, high, handled);
      return 0;
    case WM_MOVE:
      onMove(low, high, handled);
      return 0;
    case WM_PAINT:
      onPaint(handled);
      return 0;
    case WM_SHOWWINDOW:
      onShowWindow(wParam != 0, lParam, handled);
      return 0;
    case WM_SIZE:
      onSize(wParam, low, high, handled);
      return 0;
    case WM_TIMER:
      onTimer(wParam, handled);
      return 0;
    case WM_SETTINGCHANGE:
      onSettingChange(LOWORD(wParam), lParam, handled);
      return 0;
    default:
      return onOtherMessage(message, wParam, lParam, handled);
  }
}

CeWnd::~CeWnd() {
  if (hwnd != nullptr && IsWindow(hwnd) && DestroyWindow(hwnd)) hwnd = nullptr;
}

LRESULT CeWnd::processMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  return route(message, wParam, lParam, handled);
}

LRESULT CeWnd::defaultProcessing() {
  const CurrentMessage& m = currentMessage;
  if (previousProc != nullptr)
    return CallWindowProcW(previousProc, m.hwnd, m.message, m.wParam, m.lParam);
  return DefWindowProcW(m.hwnd, m.message, m.wParam, m.lParam);
}

bool CeWnd::create(const char16_t* className, HWND parent, int x, int y, int width, int height,
                   const char16_t* title, DWORD style, DWORD exStyle, HMENU menu,
                   HINSTANCE instance) {
  if (instance == nullptr) instance = GetModuleHandleW(nullptr);
  std::u16string chosen;
  if (className == nullptr || className[0] == 0) {
    if (!genericRegistered) {
      WNDCLASSW wc{};
      wc.style = CS_DBLCLKS;  // a handler for double clicks gets them
      wc.lpfnWndProc = bindingProc;
      wc.hInstance = instance;
      wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
      wc.lpszClassName = kGenericClass;
      RegisterClassW(&wc);
      genericRegistered = true;  // also when registration failed
    }
    chosen = kGenericClass;
  } else {
    chosen = u"CeWnd:" + std::u16string(className);
    WNDCLASSW wc{};
    if (GetClassInfoW(nullptr, className, &wc)) {
      previousProc = wc.lpfnWndProc;
      wc.style &= ~CS_GLOBALCLASS;
      wc.lpfnWndProc = bindingProc;
      wc.hInstance = instance;
      wc.lpszClassName = chosen.c_str();
      RegisterClassW(&wc);  // an existing one is fine
    }
  }
  const HWND created = CreateWindowExW(exStyle, chosen.c_str(), title, style, x, y, width, height,
                                       parent, menu, instance, static_cast<CeWnd*>(this));
  return created != nullptr && created == hwnd;
}

LRESULT CeWnd::bindingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (GetWindowLongW(window, GWL_USERDATA) != 0 || message != WM_CREATE) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  auto* self = static_cast<CeWnd*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  SetWindowLongW(window, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(genericProc));
  SetWindowLongW(window, GWL_USERDATA, reinterpret_cast<LONG_PTR>(self));
  self->onAttach(window);
  self->hwnd = window;
  return CallWindowProcW(genericProc, window, message, wParam, lParam);
}

LRESULT CeWnd::genericProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CeWnd*>(GetWindowLongW(window, GWL_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  LRESULT result = 0;
  {
    MessageScope scope(self->currentMessage, CurrentMessage{window, message, wParam, lParam});
    try {
      bool handled = false;
      result = self->processMessage(message, wParam, lParam, handled);
      if (!handled) result = self->defaultProcessing();
    } catch (...) {
      // Any exception a handler lets out: the message counts as handled with
      // the result obtained so far, and the program goes on. (A processor
      // fault is a signal on Linux, not an exception, and is not caught.)
      char text[80];
      std::snprintf(text, sizeof text,
                    "Window message (0x%04x) termainated abnormally by an exception", message);
      reportHandlerException(widen(text).c_str());
    }
  }
  // Unbinding comes after the message scope: onFinalMessage may delete the
  // object.
  if (message == WM_DESTROY) {
    const WNDPROC back = self->previousProc != nullptr ? self->previousProc : DefWindowProcW;
    SetWindowLongW(window, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(back));
    self->hwnd = nullptr;
    self->onFinalMessage(window);
  }
  return result;
}

}  // namespace zenta::framework
