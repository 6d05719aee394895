// A critical section and its scoped holder. Re-entrant on the owning thread,
// like every Win32 critical section. The standard mutexes would bring a
// pthreads emulation into the program; this is the platform's own lock.
#ifndef BASE_SYNCHRONIZATION_LOCK_H_
#define BASE_SYNCHRONIZATION_LOCK_H_

#include <windows.h>

namespace base {

class Lock {
 public:
  Lock() { ::InitializeCriticalSection(&critical_section_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  ~Lock() { ::DeleteCriticalSection(&critical_section_); }

  void Acquire() { ::EnterCriticalSection(&critical_section_); }
  void Release() { ::LeaveCriticalSection(&critical_section_); }

 private:
  CRITICAL_SECTION critical_section_;
};

class AutoLock {
 public:
  explicit AutoLock(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  AutoLock(const AutoLock&) = delete;
  AutoLock& operator=(const AutoLock&) = delete;
  ~AutoLock() { lock_.Release(); }

 private:
  Lock& lock_;
};

// Releases a held lock for a scope, for calls that must not run under it.
class AutoUnlock {
 public:
  explicit AutoUnlock(Lock& lock) : lock_(lock) { lock_.Release(); }
  AutoUnlock(const AutoUnlock&) = delete;
  AutoUnlock& operator=(const AutoUnlock&) = delete;
  ~AutoUnlock() { lock_.Acquire(); }

 private:
  Lock& lock_;
};

}  // namespace base

#endif  // BASE_SYNCHRONIZATION_LOCK_H_
