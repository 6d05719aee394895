// The process's record of thread names by thread id, for diagnostics. Any
// thread may register or read; one lock guards the map.
#ifndef BASE_THREADING_THREAD_NAME_REGISTRY_H_
#define BASE_THREADING_THREAD_NAME_REGISTRY_H_

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

namespace base {

class ThreadNameRegistry {
 public:
  // The process-wide registry; created on first use, never destroyed, so a
  // thread that ends after the at-exit callbacks ran can still unregister.
  static ThreadNameRegistry* GetInstance();

  ThreadNameRegistry(const ThreadNameRegistry&) = delete;
  ThreadNameRegistry& operator=(const ThreadNameRegistry&) = delete;

  void SetName(uint32_t thread_id, const std::string& name);
  // Forgets a thread that is ending; its id may be reused afterwards.
  void RemoveName(uint32_t thread_id);
  // Empty for a thread that never registered.
  std::string GetName(uint32_t thread_id);

 private:
  ThreadNameRegistry();

  SRWLOCK lock_ = SRWLOCK_INIT;
  std::map<uint32_t, std::string> names_;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_NAME_REGISTRY_H_
