// The lock that orders the UI thread's view changes against the receive
// threads' drawing: shared by the receive threads, exclusive for the UI
// thread. A waiting writer goes before readers that come after it, so
// sixteen threads drawing back to back never keep the UI thread waiting
// longer than the draws already under way (a plain shared mutex lets
// readers starve it, and a recorder flooding pictures froze the window).
#pragma once

#include <pthread.h>

namespace zenta::viewer {

class ViewLock {
 public:
  ViewLock() {
    pthread_rwlockattr_t attributes;
    pthread_rwlockattr_init(&attributes);
    pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    pthread_rwlock_init(&lock_, &attributes);
    pthread_rwlockattr_destroy(&attributes);
  }
  ~ViewLock() { pthread_rwlock_destroy(&lock_); }
  ViewLock(const ViewLock&) = delete;
  ViewLock& operator=(const ViewLock&) = delete;

  void lock() { pthread_rwlock_wrlock(&lock_); }
  bool try_lock() { return pthread_rwlock_trywrlock(&lock_) == 0; }
  void unlock() { pthread_rwlock_unlock(&lock_); }
  void lock_shared() { pthread_rwlock_rdlock(&lock_); }
  bool try_lock_shared() { return pthread_rwlock_tryrdlock(&lock_) == 0; }
  void unlock_shared() { pthread_rwlock_unlock(&lock_); }

 private:
  pthread_rwlock_t lock_;
};

}  // namespace zenta::viewer
