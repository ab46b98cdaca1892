// The window manager's internals that the rest of the device layer uses.
#pragma once

#include <string>
#include <thread>

#include "platform/base/types.h"
#include "platform/screen/surface.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

// Where a window's client area is on the screen and which parts of it are
// visible (screen coordinates). False for a window that does not exist.
bool clientClip(HWND hwnd, POINT& origin, ClipList& clip);
// The same for the whole window, its caption and border included.
bool windowClip(HWND hwnd, POINT& origin, ClipList& clip);

// Registers one of the device's own window classes (controls, dialogs, the
// shell's bars): global, with `extraSlots` pointer-sized window slots and
// the given background. A class registered already stays as it is.
void registerSystemClass(const char16_t* name, WNDPROC proc, int extraSlots,
                         HBRUSH background = nullptr);

// Draws a window's non-client part: the caption of a window that has one
// (its title on the caption colour, an OK button for windows that ask for
// it), or the one-pixel frame of a bordered one.
void paintNonClient(HWND hwnd);

// The class background brush of a window.
HBRUSH classBrush(HWND hwnd);

// The thread that owns a window's messages.
bool windowThread(HWND hwnd, std::thread::id& thread);

// Stylus and keyboard input, in screen coordinates, delivered as posted
// messages to the window that gets them.
// DoubleDown is the second press of a double click: windows whose class
// asks for double clicks get WM_LBUTTONDBLCLK for it, others a press.
// Hover is a mouse over the screen with no button down (a touch screen has
// none): WM_MOUSEMOVE without MK_LBUTTON to the window under it, and
// WM_MOUSELEAVE to the one it was over before when that changes (a point
// off the screen leaves them all).
enum class StylusAction { Down, Move, Up, DoubleDown, Hover };
void injectStylus(StylusAction action, int x, int y);
void injectKey(UINT virtualKey, bool down);
// A key message taken from a queue: GetKeyState answers as of the last
// key message taken, so a key reads its modifiers as they were when it
// was pressed.
void keyMessageTaken(const MSG& msg);
// A turn of the mouse wheel (notches, away from the user positive): to the
// focus, or the active window without one.
void injectWheel(int notches);
// Whether a key is down, as the key messages taken last left it.
bool keyDown(int virtualKey);
void injectChar(char16_t character);

// Wakes the thread's message loop (a window of it became invalid, a message
// was posted).
void wakeThread(std::thread::id thread);

// Queues a posted message for a thread's message loop, and the time stamp
// that messages carry (milliseconds).
void postToThread(std::thread::id thread, const MSG& msg);
DWORD messageTime();

// Called with the window manager's lock released.
void onWindowsChanged();

// Called (on the thread that made the change, without the window manager's
// lock) after the foreground window changed: a layer above, the shell,
// installs it to redraw what shows the foreground window.
void setForegroundChangedHook(void (*hook)());

// Top-level windows, front first, with class name and title.
struct WindowInfo {
  HWND hwnd;
  std::u16string className;
  std::u16string title;
  RECT rect;
  bool visible;
};
std::vector<WindowInfo> topLevelWindows();
// FindWindowW among this program's own windows only.
HWND findOwnWindow(LPCWSTR className, LPCWSTR windowName);

}  // namespace zenta::platform
