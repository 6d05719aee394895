#include "base/at_exit.h"

namespace base {
namespace {

// The newest manager. Managers are created and destroyed on the main thread;
// registration may come from any thread and takes the manager's lock.
AtExitManager* g_top_manager = nullptr;

}  // namespace

AtExitManager::AtExitManager() : next_manager_(g_top_manager) {
  ::InitializeCriticalSection(&lock_);
  g_top_manager = this;
}

AtExitManager::~AtExitManager() {
  ProcessCallbacksNow();
  g_top_manager = next_manager_;
  ::DeleteCriticalSection(&lock_);
}

void AtExitManager::RegisterCallback(AtExitCallbackType func, void* param) {
  AtExitManager* manager = g_top_manager;
  if (!manager)
    return;
  ::EnterCriticalSection(&manager->lock_);
  manager->stack_.push_back({func, param});
  ::LeaveCriticalSection(&manager->lock_);
}

void AtExitManager::ProcessCallbacksNow() {
  AtExitManager* manager = g_top_manager;
  if (!manager)
    return;
  for (;;) {
    ::EnterCriticalSection(&manager->lock_);
    if (manager->stack_.empty()) {
      ::LeaveCriticalSection(&manager->lock_);
      return;
    }
    const Callback callback = manager->stack_.back();
    manager->stack_.pop_back();
    // Run outside the lock: a callback may register further callbacks.
    ::LeaveCriticalSection(&manager->lock_);
    callback.func(callback.param);
  }
}

}  // namespace base
