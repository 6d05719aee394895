// Logs one line at INFO, verbose level 1 and verbose level 2 into the file
// named by its first argument, after initialising the command line and
// logging the way the installer's entry point does.
#include <windows.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/logging.h"

int main() {
  if (!base::CommandLine::Init())
    return 2;
  const std::vector<std::wstring> args =
      base::CommandLine::ForCurrentProcess()->GetArgs();
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
  return 0;
}
