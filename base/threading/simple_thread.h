// A named worker thread: derive, implement Run(), then Start() and Join().
//
// Threading: Start, Join and the accessors are called by the owner's thread;
// Run() runs on the new thread. Start() returns only after the new thread has
// set its id and name, so name() and tid() are stable from then on. The
// owner must Join() before the derived object is destroyed.
#ifndef BASE_THREADING_SIMPLE_THREAD_H_
#define BASE_THREADING_SIMPLE_THREAD_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/win/scoped_handle.h"

namespace base {

class SimpleThread {
 public:
  // |stack_size| 0 is the system default.
  explicit SimpleThread(const std::string& name_prefix, size_t stack_size = 0);
  SimpleThread(const SimpleThread&) = delete;
  SimpleThread& operator=(const SimpleThread&) = delete;

  // Entry of the new thread: records its id and name, then calls Run().
  virtual void ThreadMain();

  virtual ~SimpleThread();

  // Creates the thread and waits until it has its id and name. False when
  // the thread could not be created (nothing runs then); starting twice is
  // refused too.
  [[nodiscard]] virtual bool Start();

  // Waits for the thread to end. Returns at once when it was never started
  // or has been joined already.
  virtual void Join();

  virtual void Run() = 0;

  const std::string& name_prefix() const { return name_prefix_; }
  // The prefix before the thread starts; prefix + "/" + id afterwards.
  const std::string& name() const { return name_; }
  uint32_t tid() const { return tid_; }
  bool HasBeenStarted() const { return thread_.IsValid() || joined_; }
  bool HasBeenJoined() const { return joined_; }

 private:
  const std::string name_prefix_;
  std::string name_;
  const size_t stack_size_;
  win::ScopedHandle thread_;
  uint32_t tid_ = 0;
  win::ScopedHandle started_event_;
  bool joined_ = false;
};

}  // namespace base

#endif  // BASE_THREADING_SIMPLE_THREAD_H_
