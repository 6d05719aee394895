#include "base/message_loop/message_pump_default.h"

#include <windows.h>

#include "base/logging.h"
#include "base/time/time.h"

namespace base {

MessagePumpDefault::MessagePumpDefault()
    : event_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  CHECK(event_.IsValid());
}

MessagePumpDefault::~MessagePumpDefault() = default;

void MessagePumpDefault::Run(Delegate* delegate) {
  const bool outer_keep_running = keep_running_;
  keep_running_ = true;
  for (;;) {
    bool did_work = delegate->DoWork();
    if (!keep_running_)
      break;
    did_work |= delegate->DoDelayedWork(&delayed_work_time_);
    if (!keep_running_)
      break;
    if (did_work)
      continue;
    did_work = delegate->DoIdleWork();
    if (!keep_running_)
      break;
    if (did_work)
      continue;

    DWORD timeout = INFINITE;
    if (delayed_work_time_ != 0) {
      const int64_t delay_ms =
          TimeDelta::FromMicroseconds(delayed_work_time_ -
                                      TimeTicks::Now().ToInternalValue())
              .InMillisecondsRoundedUp();
      if (delay_ms <= 0)
        continue;
      timeout = delay_ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(delay_ms);
    }
    ::WaitForSingleObject(event_.Get(), timeout);
  }
  keep_running_ = outer_keep_running;
}

void MessagePumpDefault::Quit() {
  keep_running_ = false;
}

void MessagePumpDefault::ScheduleWork() {
  ::SetEvent(event_.Get());
}

void MessagePumpDefault::ScheduleDelayedWork(int64_t delayed_work_time) {
  // Called on the pump's thread between waits; the next wait picks it up.
  delayed_work_time_ = delayed_work_time;
}

}  // namespace base
