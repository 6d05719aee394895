#include "base/at_exit.h"

#include <atomic>

namespace base {
namespace {

// The newest manager. Managers are created and destroyed on the main thread;
// registration may come from any thread, so the pointer is atomic and the
// stack it leads to is guarded by that manager's lock.
std::atomic<AtExitManager*> g_top_manager{nullptr};

}  // namespace

AtExitManager::AtExitManager() : next_manager_(g_top_manager.load()) {
  g_top_manager.store(this);
}

AtExitManager::~AtExitManager() {
  // This manager's own callbacks, even when a newer one still shadows it.
  RunCallbacks();
  // Unchain this manager wherever it stands in the chain.
  AtExitManager* top = g_top_manager.load();
  if (top == this) {
    g_top_manager.store(next_manager_);
    return;
  }
  for (AtExitManager* newer = top; newer; newer = newer->next_manager_) {
    if (newer->next_manager_ == this) {
      newer->next_manager_ = next_manager_;
      return;
    }
  }
}

bool AtExitManager::RegisterCallback(AtExitCallbackType func, void* param) {
  AtExitManager* manager = g_top_manager.load();
  if (!manager)
    return false;
  AutoLock auto_lock(manager->lock_);
  manager->stack_.push_back({func, param});
  return true;
}

void AtExitManager::ProcessCallbacksNow() {
  if (AtExitManager* manager = g_top_manager.load())
    manager->RunCallbacks();
}

void AtExitManager::RunCallbacks() {
  for (;;) {
    Callback callback;
    {
      AutoLock auto_lock(lock_);
      if (stack_.empty())
        return;
      callback = stack_.back();
      stack_.pop_back();
    }
    // Run outside the lock: a callback may register further callbacks.
    callback.func(callback.param);
  }
}

}  // namespace base
