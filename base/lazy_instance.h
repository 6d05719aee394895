// A process-wide object created on first use, safe against concurrent first
// use, and destroyed by the AtExitManager. A get needs a manager to own the
// object: one with none is a failed check.
//
//   static base::LazyInstance<Foo> g_foo;   // constant-initialised
//   Foo* foo = g_foo.Pointer();
#ifndef BASE_LAZY_INSTANCE_H_
#define BASE_LAZY_INSTANCE_H_

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/at_exit.h"
#include "base/logging.h"

namespace base {

template <typename Type>
class LazyInstance {
 public:
  constexpr LazyInstance() = default;
  LazyInstance(const LazyInstance&) = delete;
  LazyInstance& operator=(const LazyInstance&) = delete;

  Type* Pointer() {
    // The word is 0 (not created), 1 (being created) or the object.
    uintptr_t value = state_.load(std::memory_order_acquire);
    if (value > kCreating)
      return reinterpret_cast<Type*>(value);
    uintptr_t expected = kNotCreated;
    if (state_.compare_exchange_strong(expected, kCreating,
                                       std::memory_order_acquire)) {
      Type* instance = new Type();
      state_.store(reinterpret_cast<uintptr_t>(instance),
                   std::memory_order_release);
      // With no manager (before the entry point made one, or after it ran
      // its callbacks) nothing would ever destroy the object: such a use is
      // a fault of the caller, not a quiet leak.
      CHECK(AtExitManager::RegisterCallback(&LazyInstance::OnExit, this))
          << "LazyInstance used with no AtExitManager to destroy it";
      return instance;
    }
    // Another thread is creating it: yield until it is published.
    while ((value = state_.load(std::memory_order_acquire)) == kCreating)
      ::Sleep(0);
    return reinterpret_cast<Type*>(value);
  }

  Type& Get() { return *Pointer(); }

 private:
  static constexpr uintptr_t kNotCreated = 0;
  static constexpr uintptr_t kCreating = 1;

  static void OnExit(void* lazy_instance) {
    auto* self = static_cast<LazyInstance*>(lazy_instance);
    // Unpublished first, in one step, so that no getter can be handed the
    // object while it is being deleted; a later get creates a new one.
    delete reinterpret_cast<Type*>(
        self->state_.exchange(kNotCreated, std::memory_order_acq_rel));
  }

  std::atomic<uintptr_t> state_{kNotCreated};
};

}  // namespace base

#endif  // BASE_LAZY_INSTANCE_H_
