// Trace events around posted and run tasks. This program never switches
// tracing on, so every macro checks a constant-false switch: the arguments
// are type-checked (and count as used) but never evaluated, and the optimiser
// removes the statement.
//
//   TRACE_EVENT1("toplevel", "MessageLoop::RunTask", "src_file", file);
//   TRACE_EVENT_FLOW_BEGIN0("disabled-by-default-toplevel.flow",
//                           "MessageLoop::PostTask", id);
#ifndef BASE_DEBUG_TRACE_EVENT_H_
#define BASE_DEBUG_TRACE_EVENT_H_

namespace base {
namespace trace_event {

// Whether trace events are recorded at all.
constexpr bool kTracingEnabled = false;

// Swallows the arguments of a statement that is never executed.
template <typename... Args>
inline void IgnoreTraceArguments(const Args&...) {}

}  // namespace trace_event
}  // namespace base

#define INTERNAL_TRACE_EVENT_UNUSED(...)                    \
  do {                                                      \
    if (::base::trace_event::kTracingEnabled)               \
      ::base::trace_event::IgnoreTraceArguments(__VA_ARGS__); \
  } while (false)

#define TRACE_EVENT0(category, name) \
  INTERNAL_TRACE_EVENT_UNUSED(category, name)
#define TRACE_EVENT1(category, name, arg1_name, arg1_val) \
  INTERNAL_TRACE_EVENT_UNUSED(category, name, arg1_name, arg1_val)
#define TRACE_EVENT2(category, name, arg1_name, arg1_val, arg2_name, arg2_val) \
  INTERNAL_TRACE_EVENT_UNUSED(category, name, arg1_name, arg1_val, arg2_name,  \
                              arg2_val)
#define TRACE_EVENT_FLOW_BEGIN0(category, name, id) \
  INTERNAL_TRACE_EVENT_UNUSED(category, name, id)
#define TRACE_EVENT_FLOW_END0(category, name, id) \
  INTERNAL_TRACE_EVENT_UNUSED(category, name, id)
#define TRACE_EVENT_FLOW_END1(category, name, id, arg1_name, arg1_val) \
  INTERNAL_TRACE_EVENT_UNUSED(category, name, id, arg1_name, arg1_val)

#endif  // BASE_DEBUG_TRACE_EVENT_H_
