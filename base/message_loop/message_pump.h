// The engine under a MessageLoop: waits for work and calls back into the
// loop's three steps. Runs nest: each Run keeps its own quit flag, so Quit
// ends only the innermost run.
//
// Threading: ScheduleWork may be called from any thread; everything else only
// on the thread that runs the pump.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_

#include <cstdint>

namespace base {

class MessagePump {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;

    // Runs one immediate task; true if one ran.
    virtual bool DoWork() = 0;
    // Runs one due delayed task; true if one ran. Sets |next_delayed_work_time|
    // to the due time (monotonic microseconds) of the earliest remaining
    // delayed task, or 0 when there is none.
    virtual bool DoDelayedWork(int64_t* next_delayed_work_time) = 0;
    // Called when nothing else is to be done; true if it did something.
    virtual bool DoIdleWork() = 0;
  };

  MessagePump() = default;
  MessagePump(const MessagePump&) = delete;
  MessagePump& operator=(const MessagePump&) = delete;
  virtual ~MessagePump() = default;

  // Calls the delegate's steps until Quit.
  virtual void Run(Delegate* delegate) = 0;
  // Ends the innermost Run after the current step.
  virtual void Quit() = 0;
  // Makes the pump call DoWork soon. Any thread.
  virtual void ScheduleWork() = 0;
  // Makes the pump call DoDelayedWork at |delayed_work_time| (monotonic
  // microseconds) at the latest.
  virtual void ScheduleDelayedWork(int64_t delayed_work_time) = 0;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_
