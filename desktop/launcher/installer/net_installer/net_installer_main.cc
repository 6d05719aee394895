// The program's entry point.

#include <windows.h>

#include "base/at_exit.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "desktop/launcher/installer/net_installer/net_installer.h"
#include "desktop/launcher/installer/net_installer/work_area.h"

namespace {

// A stub started from a downloads folder must not load a DLL planted beside
// it: restrict run-time loads to the system directory before anything else.
void RestrictDllSearchToSystemDirectory() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const auto set_default_dll_directories =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(
          reinterpret_cast<void*>(::GetProcAddress(
              ::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (set_default_dll_directories)
    set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  ::SetDllDirectoryW(L"");  // Also drops the current directory elsewhere.
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  RestrictDllSearchToSystemDirectory();
  base::AtExitManager exit_manager;
  base::CommandLine::Init();

  base::FilePath log_path;
  if (vulmo::net_installer::GetLogFilePath(&log_path)) {
    logging::LoggingSettings settings;
    settings.logging_dest = logging::LOG_TO_FILE;
    settings.log_file = log_path.value().c_str();
    settings.lock_log = logging::LOCK_LOG_FILE;
    settings.delete_old = logging::DELETE_OLD_LOG_FILE;
    logging::InitLogging(settings);
  }

  int exit_code = 1;
  if (!base::MessageLoop::current()) {
    // The loop outlives everything else and is never destroyed.
    new base::MessageLoop(base::MessageLoop::TYPE_UI);
    vulmo::net_installer::NetInstaller installer;
    exit_code = installer.Start() ? 0 : 1;
  }
  return exit_code;
}
