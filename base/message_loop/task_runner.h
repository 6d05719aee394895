// Posts tasks to one thread's MessageLoop from any thread. Holders may
// outlive the loop: once it is gone a post destroys the task and returns
// false.
#ifndef BASE_MESSAGE_LOOP_TASK_RUNNER_H_
#define BASE_MESSAGE_LOOP_TASK_RUNNER_H_

#include <cstdint>

#include "base/callback.h"
#include "base/location.h"

namespace base {

class TaskRunner {
 public:
  virtual ~TaskRunner() = default;
  virtual bool PostTask(const Location& from_here, OnceClosure task) = 0;
  // |delay_us|: signed 64-bit microseconds on a monotonic clock; 0 or less
  // behaves like PostTask.
  virtual bool PostDelayedTask(const Location& from_here, OnceClosure task,
                               int64_t delay_us) = 0;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_TASK_RUNNER_H_
