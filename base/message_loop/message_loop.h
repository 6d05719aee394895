// The per-thread loop that runs posted tasks, interleaved (for the UI type)
// with the thread's window messages.
//
// Threading: a MessageLoop belongs to the thread that created it; only that
// thread runs tasks. Any thread may post through PostTask/PostDelayedTask or
// through task_runner(), whose handle stays safe to use after the loop is
// gone (posts then fail).
#ifndef BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_
#define BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_

#include <cstdint>
#include <memory>

#include "base/callback.h"
#include "base/location.h"
#include "base/message_loop/task_runner.h"

namespace base {

class MessageLoop {
 public:
  enum Type { TYPE_DEFAULT = 0, TYPE_UI = 1, TYPE_IO = 3 };

  // Becomes the calling thread's current loop.
  explicit MessageLoop(Type type = TYPE_DEFAULT);
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;
  ~MessageLoop();

  // The calling thread's loop, or null.
  static MessageLoop* current();

  bool PostTask(const Location& from_here, OnceClosure task);
  bool PostDelayedTask(const Location& from_here, OnceClosure task,
                       int64_t delay_us);

  // A handle for posting from other threads; safe to keep past the loop.
  std::shared_ptr<TaskRunner> task_runner() const;

  Type type() const;

  class Impl;
  Impl* impl() { return impl_.get(); }

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_
