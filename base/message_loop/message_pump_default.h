// The pump of a loop that only runs tasks (no window messages): sleeps on an
// event that ScheduleWork signals, with a time-out for the next delayed task.
//
// Threading: ScheduleWork from any thread; everything else on the thread that
// runs the pump.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_DEFAULT_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_DEFAULT_H_

#include <cstdint>

#include "base/message_loop/message_pump.h"
#include "base/win/scoped_handle.h"

namespace base {

class MessagePumpDefault : public MessagePump {
 public:
  MessagePumpDefault();
  ~MessagePumpDefault() override;

  // MessagePump:
  void Run(Delegate* delegate) override;
  void Quit() override;
  void ScheduleWork() override;
  void ScheduleDelayedWork(int64_t delayed_work_time) override;

 private:
  // False once Quit is called for the innermost run; saved across nesting.
  bool keep_running_ = true;
  // Auto-reset: one signal covers any number of posts before the next wait.
  win::ScopedHandle event_;
  // Monotonic microseconds of the earliest delayed task; 0 for none.
  int64_t delayed_work_time_ = 0;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_DEFAULT_H_
