// Message queues (one per thread), sent and posted messages, the paint
// cycle and the delivery of input.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/gdi/dc.h"
#include "platform/screen/screen.h"
#include "platform/wm/state.h"
#include "platform/wm/window_manager.h"

namespace zenta::platform {

namespace {

// A message sent from another thread, waiting for the owner's answer.
struct SentMessage {
  MSG msg{};
  LRESULT result = 0;
  bool done = false;
};

struct ThreadQueue {
  std::mutex lock;
  std::condition_variable wake;
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  bool quit = false;
  int quitCode = 0;
  bool woken = false;
};

std::mutex queuesLock;
std::map<std::thread::id, std::shared_ptr<ThreadQueue>> queues;

std::shared_ptr<ThreadQueue> queueOf(std::thread::id thread) {
  std::lock_guard guard(queuesLock);
  auto& q = queues[thread];
  if (!q) q = std::make_shared<ThreadQueue>();
  return q;
}

ThreadQueue& ownQueue() {
  thread_local std::shared_ptr<ThreadQueue> q = queueOf(std::this_thread::get_id());
  return *q;
}

DWORD now() {
  using namespace std::chrono;
  return DWORD(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

LRESULT deliver(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc = nullptr;
  {
    auto& s = wm();
    std::lock_guard guard(s.lock);
    const Window* w = s.find(hwnd);
    if (w == nullptr) return 0;
    proc = w->proc;
  }
  return proc == nullptr ? 0 : proc(hwnd, message, wParam, lParam);
}

// Answers the messages other threads sent to this one.
void answerSent(ThreadQueue& q) {
  for (;;) {
    std::shared_ptr<SentMessage> m;
    {
      std::lock_guard guard(q.lock);
      if (q.sent.empty()) return;
      m = q.sent.front();
      q.sent.pop_front();
    }
    const LRESULT result = deliver(m->msg.hwnd, m->msg.message, m->msg.wParam, m->msg.lParam);
    {
      // The sender waits on this queue's signal for `done`.
      std::lock_guard guard(q.lock);
      m->result = result;
      m->done = true;
    }
    q.wake.notify_all();
  }
}

// A window of this thread that needs painting.
HWND windowToPaint() {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const auto self = std::this_thread::get_id();
  for (const auto& [id, w] : s.windows) {
    if (!w->destroyed && w->hasUpdate && w->thread == self) return handleOf(w.get());
  }
  return nullptr;
}

bool matches(const MSG& m, HWND filter, UINT first, UINT last) {
  if (filter != nullptr && m.hwnd != filter) return false;
  if (first == 0 && last == 0) return true;
  return m.message >= first && m.message <= last;
}

// One look at the queue: a sent message is answered, then a posted message
// is taken, then the quit message, then a paint.
bool takeMessage(MSG* msg, HWND filter, UINT first, UINT last, bool remove) {
  ThreadQueue& q = ownQueue();
  answerSent(q);
  {
    std::lock_guard guard(q.lock);
    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
      if (!matches(*it, filter, first, last)) continue;
      *msg = *it;
      if (remove) q.posted.erase(it);
      return true;
    }
    if (q.quit) {
      *msg = MSG{nullptr, WM_QUIT, WPARAM(q.quitCode), 0, now(), {0, 0}};
      if (remove) q.quit = false;
      return true;
    }
  }
  if (first == 0 || (WM_PAINT >= first && WM_PAINT <= last)) {
    if (const HWND paint = windowToPaint();
        paint != nullptr && (filter == nullptr || filter == paint)) {
      *msg = MSG{paint, WM_PAINT, 0, 0, now(), {0, 0}};
      return true;
    }
  }
  return false;
}

void post(std::thread::id thread, const MSG& msg) {
  const auto q = queueOf(thread);
  {
    std::lock_guard guard(q->lock);
    q->posted.push_back(msg);
  }
  q->wake.notify_all();
}

}  // namespace

void wakeThread(std::thread::id thread) {
  const auto q = queueOf(thread);
  {
    std::lock_guard guard(q->lock);
    q->woken = true;
  }
  q->wake.notify_all();
}

void onWindowsChanged() {
  markScreenChanged();
}

namespace {

// The window under a screen point: top-level windows front first, then the
// deepest visible child.
Window* windowAt(WindowManagerState& s, POINT p) {
  for (Window* w : s.topLevel) {
    if (!(w->style & WS_VISIBLE)) continue;
    const RECT r = s.screenRect(w);
    if (p.x < r.left || p.x >= r.right || p.y < r.top || p.y >= r.bottom) continue;
    Window* hit = w;
    for (bool deeper = true; deeper;) {
      deeper = false;
      for (Window* child : hit->children) {
        if (!(child->style & WS_VISIBLE)) continue;
        const RECT c = s.screenRect(child);
        if (p.x >= c.left && p.x < c.right && p.y >= c.top && p.y < c.bottom) {
          hit = child;
          deeper = true;
          break;
        }
      }
    }
    return hit;
  }
  return nullptr;
}

bool disabledOrUnder(const Window* w) {
  for (; w != nullptr; w = w->parent) {
    if (w->style & WS_DISABLED) return true;
  }
  return false;
}

}  // namespace

void injectStylus(StylusAction action, int x, int y) {
  auto& s = wm();
  HWND target = nullptr, topLevel = nullptr;
  MSG msg{};
  std::thread::id thread;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.capture != nullptr ? s.capture : windowAt(s, POINT{x, y});
    if (w == nullptr || (s.capture == nullptr && disabledOrUnder(w))) return;
    const POINT origin = s.clientOrigin(w);
    const UINT message = action == StylusAction::Down ? WM_LBUTTONDOWN
                         : action == StylusAction::Up ? WM_LBUTTONUP
                                                      : WM_MOUSEMOVE;
    const WPARAM keys = action == StylusAction::Up ? 0 : MK_LBUTTON;
    target = handleOf(w);
    msg = MSG{target, message,
              keys,   MAKELPARAM(WORD(int16_t(x - origin.x)), WORD(int16_t(y - origin.y))),
              now(),  {x, y}};
    thread = w->thread;
    Window* top = w;
    while (top->parent != nullptr)
      top = top->parent;
    // The shell's bars take taps without becoming the active window.
    topLevel = (top->exStyle & WS_EX_NOACTIVATE) ? nullptr : handleOf(top);
  }
  if (action == StylusAction::Down && topLevel != nullptr && topLevel != GetActiveWindow()) {
    SetForegroundWindow(topLevel);
  }
  post(thread, msg);
}

void injectKey(UINT virtualKey, bool down) {
  auto& s = wm();
  MSG msg{};
  std::thread::id thread;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.focus != nullptr ? s.focus : s.active;
    if (w == nullptr) return;
    msg = MSG{handleOf(w), down ? WM_KEYDOWN : WM_KEYUP,
              virtualKey,  down ? 1 : LPARAM(0xC0000001),
              now(),       {0, 0}};
    thread = w->thread;
  }
  post(thread, msg);
}

void injectChar(char16_t character) {
  auto& s = wm();
  MSG msg{};
  std::thread::id thread;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.focus != nullptr ? s.focus : s.active;
    if (w == nullptr) return;
    msg = MSG{handleOf(w), WM_CHAR, WPARAM(character), 1, now(), {0, 0}};
    thread = w->thread;
  }
  post(thread, msg);
}

}  // namespace zenta::platform

using namespace zenta::platform;

BOOL GetMessageW(MSG* msg, HWND hwnd, UINT first, UINT last) {
  if (msg == nullptr) return -1;
  ThreadQueue& q = ownQueue();
  for (;;) {
    if (takeMessage(msg, hwnd, first, last, true)) return msg->message == WM_QUIT ? FALSE : TRUE;
    if (hasIdleHook()) {
      // The display's thread: input and presentation happen while idle.
      if (runIdleHook(16)) continue;
    }
    std::unique_lock guard(q.lock);
    const auto ready = [&] { return q.woken || q.quit || !q.posted.empty() || !q.sent.empty(); };
    if (hasIdleHook()) {
      q.wake.wait_for(guard, std::chrono::milliseconds(16), ready);
    } else {
      // Paint requests wake the queue too; a short wait covers one that
      // arrives between the look above and this wait.
      q.wake.wait_for(guard, std::chrono::milliseconds(50), ready);
    }
    q.woken = false;
  }
}

BOOL PeekMessageW(MSG* msg, HWND hwnd, UINT first, UINT last, UINT remove) {
  if (msg == nullptr) return FALSE;
  if (hasIdleHook()) runIdleHook(0);
  return takeMessage(msg, hwnd, first, last, (remove & PM_REMOVE) != 0) ? TRUE : FALSE;
}

int TranslateAcceleratorW(HWND, HACCEL, MSG*) {
  return 0;
}

BOOL TranslateMessage(const MSG*) {
  return FALSE;
}

LRESULT DispatchMessageW(const MSG* msg) {
  if (msg == nullptr || msg->hwnd == nullptr) return 0;
  return deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  std::thread::id owner;
  if (!windowThread(hwnd, owner)) return 0;
  if (owner == std::this_thread::get_id()) return deliver(hwnd, message, wParam, lParam);
  // Another thread's window: its thread answers; meanwhile this thread
  // answers messages sent to it, so that two threads sending to each other
  // do not wait for ever.
  auto m = std::make_shared<SentMessage>();
  m->msg = MSG{hwnd, message, wParam, lParam, now(), {0, 0}};
  const auto target = queueOf(owner);
  {
    std::lock_guard guard(target->lock);
    target->sent.push_back(m);
  }
  target->wake.notify_all();
  ThreadQueue& self = ownQueue();
  for (;;) {
    {
      std::lock_guard guard(target->lock);
      if (m->done) return m->result;
    }
    if (!IsWindow(hwnd)) return 0;
    answerSent(self);
    std::unique_lock guard(target->lock);
    target->wake.wait_for(guard, std::chrono::milliseconds(5), [&] { return m->done; });
    if (m->done) return m->result;
  }
}

BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  std::thread::id owner;
  if (!windowThread(hwnd, owner)) return FALSE;
  post(owner, MSG{hwnd, message, wParam, lParam, now(), {0, 0}});
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  ThreadQueue& q = ownQueue();
  {
    std::lock_guard guard(q.lock);
    q.quit = true;
    q.quitCode = exitCode;
  }
  q.wake.notify_all();
}

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
  auto& s = wm();
  std::thread::id thread;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.find(hwnd);
    if (w == nullptr) return FALSE;
    const RECT c = s.clientScreenRect(w);
    const RECT client{0, 0, c.right - c.left, c.bottom - c.top};
    const RECT area = rect == nullptr ? client : intersect(*rect, client);
    if (empty(area)) return TRUE;
    if (w->hasUpdate) {
      w->update =
          RECT{std::min(w->update.left, area.left), std::min(w->update.top, area.top),
               std::max(w->update.right, area.right), std::max(w->update.bottom, area.bottom)};
    } else {
      w->update = area;
      w->hasUpdate = true;
    }
    w->erase = w->erase || erase != FALSE;
    thread = w->thread;
  }
  wakeThread(thread);
  return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT* rect) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  Window* w = s.find(hwnd);
  if (w == nullptr) return FALSE;
  // Validating part of the bounding box keeps the rest to paint.
  if (rect == nullptr || (rect->left <= w->update.left && rect->top <= w->update.top &&
                          rect->right >= w->update.right && rect->bottom >= w->update.bottom)) {
    w->hasUpdate = false;
    w->erase = false;
  }
  return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  if (w == nullptr) return FALSE;
  if (rect != nullptr) *rect = w->hasUpdate ? w->update : RECT{0, 0, 0, 0};
  return w->hasUpdate ? TRUE : FALSE;
}

namespace {

// The caption of a window with one: its title on the caption colour, and
// an OK button for windows that ask for it.
void paintCaption(HWND hwnd) {
  const DWORD style = DWORD(GetWindowLongW(hwnd, GWL_STYLE));
  if ((style & WS_CAPTION) != WS_CAPTION) return;
  const DWORD exStyle = DWORD(GetWindowLongW(hwnd, GWL_EXSTYLE));
  RECT window;
  GetWindowRect(hwnd, &window);
  HDC dc = openWholeWindowDC(hwnd);
  RECT bar{0, 0, window.right - window.left, kCaptionHeight};
  HBRUSH captionColour = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION));
  FillRect(dc, &bar, captionColour);
  DeleteObject(captionColour);
  char16_t title[128] = {};
  GetWindowTextW(hwnd, title, 128);
  SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
  SetBkMode(dc, TRANSPARENT);
  RECT text = captionTitleBox(bar.right);
  DrawTextW(dc, title, -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  if (exStyle & WS_EX_CAPTIONOKBTN) {
    RECT ok = captionOkBox(bar.right);
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    SelectObject(dc, GetStockObject(WHITE_PEN));
    Rectangle(dc, ok.left, ok.top, ok.right, ok.bottom);
    DrawTextW(dc, u"ok", 2, &ok, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  closeWindowDC(dc);
}

}  // namespace

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* paint) {
  if (paint == nullptr) return nullptr;
  paintCaption(hwnd);
  auto& s = wm();
  RECT area{};
  bool erase = false;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.find(hwnd);
    if (w == nullptr) return nullptr;
    area = w->hasUpdate ? w->update : RECT{0, 0, 0, 0};
    erase = w->erase;
    w->hasUpdate = false;
    w->erase = false;
  }
  *paint = PAINTSTRUCT{};
  paint->rcPaint = area;
  paint->hdc = openWindowDC(hwnd, &area);
  // Set only when an erase was asked for and the window did not do it.
  paint->fErase = FALSE;
  if (erase && paint->hdc != nullptr) {
    paint->fErase = SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(paint->hdc), 0) != 0
                        ? FALSE
                        : TRUE;
  }
  return paint->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* paint) {
  if (paint != nullptr && paint->hdc != nullptr) closeWindowDC(paint->hdc);
  return TRUE;
}

BOOL UpdateWindow(HWND hwnd) {
  if (GetUpdateRect(hwnd, nullptr, FALSE)) SendMessageW(hwnd, WM_PAINT, 0, 0);
  return IsWindow(hwnd);
}

HDC GetDC(HWND hwnd) {
  return openWindowDC(hwnd, nullptr);
}

int ReleaseDC(HWND, HDC hdc) {
  closeWindowDC(hdc);
  return 1;
}
