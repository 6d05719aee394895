// Starting child processes and ending them.
#ifndef BASE_PROCESS_LAUNCH_H_
#define BASE_PROCESS_LAUNCH_H_

#include <windows.h>

#include <vector>

#include "base/win/scoped_handle.h"

namespace base {

class CommandLine;

// Every field is off, zero or null by default.
struct LaunchOptions {
  // Block until the child has exited.
  bool wait = false;
  // Show the child's first window hidden (SW_HIDE) instead of SW_SHOW.
  bool start_hidden = false;
  // Not owned. Non-null and non-empty: exactly these handles are inherited
  // (Windows Vista and later; the launch fails before). Non-null and empty:
  // nothing is inherited, whatever |inherit_handles| says.
  std::vector<HANDLE>* handles_to_inherit = nullptr;
  // Pass inheritable handles to the child.
  bool inherit_handles = false;
  // Launch as the user of this token, with that user's environment block.
  HANDLE as_user = nullptr;
  // Give the child an empty desktop name in its start-up information.
  bool empty_desktop_name = false;
  // Start suspended, assign to this job, then resume.
  HANDLE job_handle = nullptr;
  // When any is set, the child's standard handles (all three are passed).
  HANDLE stdin_handle = nullptr;
  HANDLE stdout_handle = nullptr;
  HANDLE stderr_handle = nullptr;
  // Create the child outside the caller's job.
  bool force_breakaway_from_job = false;
};

// Starts the program of |cmdline| (its GetCommandLineString) with |options|.
// On success |process_handle|, if given, owns the child's process handle.
// On failure returns false, leaves |process_handle| empty and leaves no child
// running. Writes no log message.
[[nodiscard]] bool LaunchProcess(const CommandLine& cmdline,
                                 const LaunchOptions& options,
                                 win::ScopedHandle* process_handle);

// TerminateProcess with |exit_code|; if that succeeds and |wait| is set,
// waits up to 60 seconds for the process to end. True when terminated.
bool KillProcess(HANDLE process, int exit_code, bool wait);

}  // namespace base

#endif  // BASE_PROCESS_LAUNCH_H_
