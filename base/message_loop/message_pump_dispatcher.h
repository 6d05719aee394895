// Sees every window message that the UI pump takes from the queue, before
// the default translate-and-dispatch.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_

#include <windows.h>

#include <cstdint>

namespace base {

class MessagePumpDispatcher {
 public:
  // Result bits of Dispatch.
  enum PostDispatchAction : uint32_t {
    POST_DISPATCH_NONE = 0,
    POST_DISPATCH_QUIT_LOOP = 1 << 0,
    POST_DISPATCH_PERFORM_DEFAULT = 1 << 1,
  };

  virtual ~MessagePumpDispatcher() = default;
  virtual uint32_t Dispatch(const MSG& message) = 0;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_
