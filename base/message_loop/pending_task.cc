#include "base/message_loop/pending_task.h"

#include <utility>

namespace base {

PendingTask::PendingTask(const Location& posted_from, OnceClosure task,
                         int64_t delayed_run_time, bool nestable)
    : posted_from(posted_from),
      delayed_run_time(delayed_run_time),
      task(std::move(task)),
      nestable(nestable) {}

PendingTask::PendingTask(PendingTask&& other) noexcept = default;
PendingTask& PendingTask::operator=(PendingTask&& other) noexcept = default;
PendingTask::~PendingTask() = default;

bool PendingTask::operator<(const PendingTask& other) const {
  if (delayed_run_time != other.delayed_run_time)
    return delayed_run_time > other.delayed_run_time;
  // Unsigned subtraction wraps by definition; the signed view of the result
  // tells which of two nearby numbers came first, also across the wrap.
  const int32_t difference = static_cast<int32_t>(
      static_cast<uint32_t>(sequence_num) -
      static_cast<uint32_t>(other.sequence_num));
  return difference > 0;
}

}  // namespace base
