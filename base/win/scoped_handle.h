// Move-only owners of Win32 handles. A handle type that is invalid at null
// and one that is invalid at INVALID_HANDLE_VALUE are different types, so
// they cannot be mixed up. Closing keeps the thread's last-error value, so an
// error read after clean-up is still the one that mattered.
#ifndef BASE_WIN_SCOPED_HANDLE_H_
#define BASE_WIN_SCOPED_HANDLE_H_

#include <windows.h>

#include <utility>

namespace base {
namespace win {

template <typename Traits>
class GenericScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  GenericScopedHandle() = default;
  explicit GenericScopedHandle(Handle handle) : handle_(handle) {}
  GenericScopedHandle(GenericScopedHandle&& other) noexcept
      : handle_(other.Take()) {}
  GenericScopedHandle& operator=(GenericScopedHandle&& other) noexcept {
    if (this != &other)
      Set(other.Take());
    return *this;
  }
  GenericScopedHandle(const GenericScopedHandle&) = delete;
  GenericScopedHandle& operator=(const GenericScopedHandle&) = delete;
  ~GenericScopedHandle() { Close(); }

  bool IsValid() const { return handle_ != Traits::NullHandle(); }
  Handle Get() const { return handle_; }

  void Set(Handle handle) {
    if (handle != handle_) {
      Close();
      handle_ = handle;
    }
  }

  // Gives up ownership without closing.
  [[nodiscard]] Handle Take() {
    return std::exchange(handle_, Traits::NullHandle());
  }

  // For out-parameters: releases what was held, then hands out the slot.
  Handle* Receive() {
    Close();
    return &handle_;
  }

  void Close() {
    if (IsValid()) {
      const DWORD last_error = ::GetLastError();
      Traits::Close(handle_);
      ::SetLastError(last_error);
      handle_ = Traits::NullHandle();
    }
  }

 private:
  Handle handle_ = Traits::NullHandle();
};

// Kernel handles that are invalid at null (events, threads, processes,
// mappings, mutexes, jobs).
struct HandleTraits {
  using Handle = HANDLE;
  static Handle NullHandle() { return nullptr; }
  static void Close(Handle handle) { ::CloseHandle(handle); }
};

// File handles from CreateFileW, invalid at INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle NullHandle() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { ::CloseHandle(handle); }
};

using ScopedHandle = GenericScopedHandle<HandleTraits>;
using ScopedFileHandle = GenericScopedHandle<FileHandleTraits>;

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_HANDLE_H_
