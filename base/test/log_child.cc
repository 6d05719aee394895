// Initialises the command line and logging the way the installer's entry
// point does, logging into the file named by its first argument, then logs
// one line at INFO, verbose level 1 and verbose level 2. With the switch
// "fatal", "check" or "post-null" it then ends itself through LOG(FATAL), a
// failed CHECK or the post of an empty closure, and exits with 0 only if
// that did not end the process.
#include <windows.h>

#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/command_line.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"

namespace {

// Leaves "<log path>.atexit" behind when the at-exit callbacks run, which
// they must not after a fatal error.
void MarkAtExit(void* log_path) {
  const std::wstring marker =
      *static_cast<const std::wstring*>(log_path) + L".atexit";
  ::CloseHandle(::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr));
}

}  // namespace

int main() {
  if (!base::CommandLine::Init())
    return 2;
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  const std::vector<std::wstring> args = command_line.GetArgs();
  // Declared after |args|, so its callbacks run while |args| still lives.
  base::AtExitManager exit_manager;
  if (args.empty())
    return 3;
  logging::LoggingSettings settings;
  settings.logging_dest = logging::LOG_TO_FILE;
  settings.log_file = args[0].c_str();
  settings.lock_log = logging::LOCK_LOG_FILE;
  settings.delete_old = logging::DELETE_OLD_LOG_FILE;
  if (!logging::InitLogging(settings))
    return 4;
  LOG(INFO) << "info line";
  VLOG(1) << "verbose one";
  VLOG(2) << "verbose two";
  base::AtExitManager::RegisterCallback(
      &MarkAtExit, const_cast<std::wstring*>(&args[0]));
  if (command_line.HasSwitch("fatal"))
    LOG(FATAL) << "fatal line";
  if (command_line.HasSwitch("check"))
    CHECK(args.size() > 5);
  if (command_line.HasSwitch("post-null")) {
    base::MessageLoop loop;
    const base::RepeatingClosure unset;
    loop.PostTask(FROM_HERE, unset);
  }
  return 0;
}
