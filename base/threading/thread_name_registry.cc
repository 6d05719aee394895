#include "base/threading/thread_name_registry.h"

namespace base {

// static
ThreadNameRegistry* ThreadNameRegistry::GetInstance() {
  static ThreadNameRegistry* instance = new ThreadNameRegistry();
  return instance;
}

ThreadNameRegistry::ThreadNameRegistry() = default;

void ThreadNameRegistry::SetName(uint32_t thread_id, const std::string& name) {
  ::AcquireSRWLockExclusive(&lock_);
  names_[thread_id] = name;
  ::ReleaseSRWLockExclusive(&lock_);
}

void ThreadNameRegistry::RemoveName(uint32_t thread_id) {
  ::AcquireSRWLockExclusive(&lock_);
  names_.erase(thread_id);
  ::ReleaseSRWLockExclusive(&lock_);
}

std::string ThreadNameRegistry::GetName(uint32_t thread_id) {
  ::AcquireSRWLockShared(&lock_);
  const auto it = names_.find(thread_id);
  std::string name = it == names_.end() ? std::string() : it->second;
  ::ReleaseSRWLockShared(&lock_);
  return name;
}

}  // namespace base
