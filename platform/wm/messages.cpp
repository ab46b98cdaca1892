// Message queues (one per thread), sent and posted messages, and the
// message loop's calls.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/gdi/dc.h"
#include "platform/screen/screen.h"
#include "platform/wm/state.h"
#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {

// A message sent from another thread, waiting for the owner's answer.
struct SentMessage {
  MSG msg{};
  LRESULT result = 0;
  bool done = false;
};

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  std::chrono::milliseconds interval;
  std::chrono::steady_clock::time_point due;
};

struct ThreadQueue {
  std::mutex lock;
  std::vector<Timer> timers;
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
      if (remove) {
        q.posted.erase(it);
        keyMessageTaken(*msg);
      }
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
  // A timer comes last, as on the device: once nothing else waits.
  if (first == 0 || (WM_TIMER >= first && WM_TIMER <= last)) {
    const auto at = std::chrono::steady_clock::now();
    std::lock_guard guard(q.lock);
    for (Timer& t : q.timers) {
      if (t.due > at || (filter != nullptr && t.hwnd != filter)) continue;
      *msg = MSG{t.hwnd, WM_TIMER, t.id, 0, now(), {0, 0}};
      if (remove) t.due = at + t.interval;
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

void postToThread(std::thread::id thread, const MSG& msg) {
  post(thread, msg);
}

DWORD messageTime() {
  return now();
}

void onWindowsChanged() {
  markScreenChanged();
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

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, void* proc) {
  std::thread::id owner;
  if (proc != nullptr || id == 0 || !windowThread(hwnd, owner)) return 0;
  const auto q = queueOf(owner);
  const auto interval = std::chrono::milliseconds(std::max<UINT>(elapse, 10));
  {
    std::lock_guard guard(q->lock);
    std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    q->timers.push_back({hwnd, id, interval, std::chrono::steady_clock::now() + interval});
  }
  q->wake.notify_all();
  return id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  std::thread::id owner;
  if (!windowThread(hwnd, owner)) return FALSE;
  const auto q = queueOf(owner);
  std::lock_guard guard(q->lock);
  return std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; }) > 0
             ? TRUE
             : FALSE;
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
