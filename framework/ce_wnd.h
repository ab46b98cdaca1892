// Window objects bound to device windows: one virtual handler per message.
#pragma once

#include "platform/windows.h"

namespace zenta::framework {

// Common base of windows and dialogs: the window the object is bound to.
class CeWindowBase {
 public:
  virtual ~CeWindowBase();
  HWND hwnd = nullptr;
};

// The message being handled.
struct CurrentMessage {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// How messages reach an object. Every handler gets a `handled` flag, false
// on entry; a handler that does the work sets it. Halves of parameters are
// unsigned 16-bit values, low half first.
class CeMessageHandler {
 public:
  virtual ~CeMessageHandler() = default;
  virtual LRESULT defaultProcessing() = 0;
  virtual LRESULT processMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) = 0;
  virtual void onChar(WPARAM character, WORD low, WORD high, bool& handled);
  virtual void onClose(bool& handled);
  virtual void onCreate(CREATESTRUCTW& create, bool& handled);
  virtual LRESULT onCommand(WPARAM wParam, LPARAM lParam, bool& handled);
  virtual LRESULT onNotify(int controlId, NMHDR& header, bool& handled);
  virtual void onDestroy(bool& handled);
  virtual void onEnable(bool enable, bool& handled);
  virtual LRESULT onEraseBackground(HDC dc, bool& handled);
  virtual void onKeyDown(WPARAM key, WORD repeat, WORD flags, bool& handled);
  virtual void onKeyUp(WPARAM key, WORD repeat, WORD flags, bool& handled);
  virtual void onLButtonDoubleClick(WPARAM keys, WORD x, WORD y, bool& handled);
  virtual void onLButtonDown(WPARAM keys, WORD x, WORD y, bool& handled);
  virtual void onLButtonUp(WPARAM keys, WORD x, WORD y, bool& handled);
  virtual void onMouseMove(WPARAM keys, WORD x, WORD y, bool& handled);
  virtual void onMove(WORD x, WORD y, bool& handled);
  virtual void onPaint(bool& handled);
  virtual void onShowWindow(bool show, LPARAM status, bool& handled);
  virtual void onSize(WPARAM type, WORD width, WORD height, bool& handled);
  virtual void onTimer(WPARAM id, bool& handled);
  virtual void onSettingChange(WORD flag, LPARAM parameter, bool& handled);
  virtual LRESULT onOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
  virtual void onAttach(HWND hwnd);
  virtual void onFinalMessage(HWND hwnd);

 protected:
  // The routing table shared by windows and dialogs.
  LRESULT route(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
};

// What the exception guard does with its text: by default the "Fatal"
// message box. Tests may watch it instead.
using ExceptionReporter = void (*)(const char16_t* text);
void setExceptionReporter(ExceptionReporter reporter);
void reportHandlerException(const char16_t* text);

class CeWnd : public CeWindowBase, public CeMessageHandler {
 public:
  // Destroys a window still bound while this object can still take its
  // last messages (the base's destructor would be too late for that).
  ~CeWnd() override;

  // Creates the window and binds it to this object. No class name: the
  // generic class "CeWnd:GENERIC"; a name: a superclass "CeWnd:<name>" of
  // that existing class. No instance: the program's own module.
  bool create(const char16_t* className, HWND parent, int x, int y, int width, int height,
              const char16_t* title, DWORD style, DWORD exStyle, HMENU menu, HINSTANCE instance);

  LRESULT defaultProcessing() override;
  LRESULT processMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

  WNDPROC previousProc = nullptr;
  CurrentMessage currentMessage;

  static LRESULT bindingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT genericProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};

}  // namespace zenta::framework
