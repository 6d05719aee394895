// Built into the program with mingw-w64 only (see driver.cmake).
//
// The product is compiled without exceptions, but the prebuilt libstdc++
// still reports a failed precondition (a string too long, out of memory, a
// bad function call) by throwing, and its default terminate handler
// demangles type names for a message nobody sees in a GUI program. Linking
// those pulls about 90 KB of exception and demangling machinery into a
// program that is meant to stay small. Defining the few entry points here
// makes the linker take these instead: each ends the process the way a
// failed check does (exit code 1), which is what an exception would have
// come to anyway.

#include "base/logging.h"

namespace __gnu_cxx {
void __verbose_terminate_handler() {
  logging::TerminateAfterFatal();
}
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() {
  logging::TerminateAfterFatal();
}
void __throw_bad_array_new_length() {
  logging::TerminateAfterFatal();
}
void __throw_bad_function_call() {
  logging::TerminateAfterFatal();
}
void __throw_length_error(const char*) {
  logging::TerminateAfterFatal();
}
void __throw_logic_error(const char*) {
  logging::TerminateAfterFatal();
}
void __throw_out_of_range(const char*) {
  logging::TerminateAfterFatal();
}
void __throw_out_of_range_fmt(const char*, ...) {
  logging::TerminateAfterFatal();
}
void __throw_invalid_argument(const char*) {
  logging::TerminateAfterFatal();
}
void __throw_system_error(int) {
  logging::TerminateAfterFatal();
}
}  // namespace std
