#include "base/debug/trace_event.h"

#include "gtest/gtest.h"

namespace base {
namespace {

int g_evaluations = 0;

const char* Evaluate(const char* text) {
  ++g_evaluations;
  return text;
}

TEST(TraceEventTest, ArgumentsAreNeverEvaluated) {
  g_evaluations = 0;
  TRACE_EVENT0("toplevel", Evaluate("MessageLoop::RunTask"));
  TRACE_EVENT1("toplevel", "MessageLoop::RunTask", "src_file", Evaluate("a.cc"));
  TRACE_EVENT2("toplevel", "MessageLoop::RunTask", "src_file", Evaluate("a.cc"),
               "src_func", Evaluate("F"));
  TRACE_EVENT_FLOW_BEGIN0("disabled-by-default-toplevel.flow",
                          "MessageLoop::PostTask", Evaluate("id"));
  TRACE_EVENT_FLOW_END0("disabled-by-default-toplevel.flow",
                        "MessageLoop::PostTask", Evaluate("id"));
  TRACE_EVENT_FLOW_END1("disabled-by-default-toplevel.flow",
                        "MessageLoop::PostTask", 7, "queue_duration",
                        Evaluate("5"));
  EXPECT_EQ(0, g_evaluations);
}

TEST(TraceEventTest, MacrosAreSingleStatements) {
  // Usable as the body of an unbraced if/else.
  bool flag = true;
  if (flag)
    TRACE_EVENT0("toplevel", "a");
  else
    TRACE_EVENT0("toplevel", "b");
  EXPECT_FALSE(base::trace_event::kTracingEnabled);
}

}  // namespace
}  // namespace base
