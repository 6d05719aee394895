#include "base/at_exit.h"

namespace base {
namespace {

// The newest manager. Managers are created and destroyed on the main thread;
// registration may come from any thread and takes the manager's lock.
AtExitManager* g_top_manager = nullptr;

}  // namespace

AtExitManager::AtExitManager() : next_manager_(g_top_manager) {
  g_top_manager = this;
}

AtExitManager::~AtExitManager() {
  ProcessCallbacksNow();
  g_top_manager = next_manager_;
}

void AtExitManager::RegisterCallback(AtExitCallbackType func, void* param) {
  AtExitManager* manager = g_top_manager;
  if (!manager)
    return;
  AutoLock auto_lock(manager->lock_);
  manager->stack_.push_back({func, param});
}

void AtExitManager::ProcessCallbacksNow() {
  AtExitManager* manager = g_top_manager;
  if (!manager)
    return;
  for (;;) {
    Callback callback;
    {
      AutoLock auto_lock(manager->lock_);
      if (manager->stack_.empty())
        return;
      callback = manager->stack_.back();
      manager->stack_.pop_back();
    }
    // Run outside the lock: a callback may register further callbacks.
    callback.func(callback.param);
  }
}

}  // namespace base
