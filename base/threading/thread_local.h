// A pointer per thread in a system TLS slot, allocated on first use.
#ifndef BASE_THREADING_THREAD_LOCAL_H_
#define BASE_THREADING_THREAD_LOCAL_H_

#include <windows.h>

#include <atomic>

#include "base/logging.h"

namespace base {

template <typename Type>
class ThreadLocalPointer {
 public:
  constexpr ThreadLocalPointer() = default;
  ThreadLocalPointer(const ThreadLocalPointer&) = delete;
  ThreadLocalPointer& operator=(const ThreadLocalPointer&) = delete;

  Type* Get() { return static_cast<Type*>(::TlsGetValue(Slot())); }

  void Set(Type* pointer) {
    if (!::TlsSetValue(Slot(), pointer))
      LOG(FATAL) << "Failed to TlsSetValue().";
  }

 private:
  DWORD Slot() {
    DWORD slot = slot_.load(std::memory_order_acquire);
    if (slot != TLS_OUT_OF_INDEXES)
      return slot;
    const DWORD allocated = ::TlsAlloc();
    CHECK(allocated != TLS_OUT_OF_INDEXES);
    if (!slot_.compare_exchange_strong(slot, allocated,
                                       std::memory_order_acq_rel)) {
      ::TlsFree(allocated);  // Another thread allocated first.
      return slot;
    }
    return allocated;
  }

  std::atomic<DWORD> slot_{TLS_OUT_OF_INDEXES};
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_LOCAL_H_
