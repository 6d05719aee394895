// Where one run keeps its files: the work directory below the user's
// temporary directory, the log file and the package file.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_WORK_AREA_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_WORK_AREA_H_

#include "base/files/file_path.h"

namespace vulmo {
namespace net_installer {

// temp + "Vulmo NetInstaller" + "net_installer.log"; creates the directory.
bool GetLogFilePath(base::FilePath* path);

// temp + "Vulmo NetInstaller" + "vulmo_installer_YYYYMMDDhhmmss.exe" from the
// local time now; creates the directory.
bool GetPackagePath(base::FilePath* path);

// The package name for a given local time (year, month, day, hour, minute,
// second).
base::FilePath::StringType FormatPackageFileName(int year, int month, int day,
                                                 int hour, int minute,
                                                 int second);

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_WORK_AREA_H_
