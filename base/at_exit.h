// Runs registered clean-up callbacks, newest first, when the manager is
// destroyed. The entry point creates one first thing and destroys it last;
// process-wide objects created on first use register their destruction here.
// Managers chain: a newer one shadows the previous one until it is destroyed.
#ifndef BASE_AT_EXIT_H_
#define BASE_AT_EXIT_H_

#include <vector>

#include "base/synchronization/lock.h"

namespace base {

class AtExitManager {
 public:
  using AtExitCallbackType = void (*)(void*);

  AtExitManager();
  AtExitManager(const AtExitManager&) = delete;
  AtExitManager& operator=(const AtExitManager&) = delete;
  ~AtExitManager();

  // Pushes |func|(|param|) onto the newest manager. False (and dropped)
  // when no manager exists.
  static bool RegisterCallback(AtExitCallbackType func, void* param);
  // Runs and pops every callback of the newest manager, newest first.
  static void ProcessCallbacksNow();

 private:
  struct Callback {
    AtExitCallbackType func;
    void* param;
  };

  // Runs and pops this manager's callbacks, newest first.
  void RunCallbacks();

  Lock lock_;
  std::vector<Callback> stack_;
  AtExitManager* next_manager_;
};

}  // namespace base

#endif  // BASE_AT_EXIT_H_
