#include "desktop/launcher/installer/net_installer/work_area.h"

#include <cwchar>

#include "base/files/file_util.h"
#include "base/files/path_service.h"
#include "base/time/time.h"

namespace vulmo {
namespace net_installer {
namespace {

constexpr wchar_t kWorkDirectoryName[] = L"Vulmo NetInstaller";
constexpr wchar_t kLogFileName[] = L"net_installer.log";

bool GetWorkDirectory(base::FilePath* path) {
  base::FilePath temp;
  if (!base::PathService::Get(base::DIR_TEMP, &temp))
    return false;
  *path = temp.Append(kWorkDirectoryName);
  return base::DirectoryExists(*path) || base::CreateDirectory(*path);
}

}  // namespace

bool GetLogFilePath(base::FilePath* path) {
  base::FilePath work_directory;
  if (!GetWorkDirectory(&work_directory))
    return false;
  *path = work_directory.Append(kLogFileName);
  return true;
}

base::FilePath::StringType FormatPackageFileName(int year, int month, int day,
                                                 int hour, int minute,
                                                 int second) {
  wchar_t name[64];
  std::swprintf(name, sizeof(name) / sizeof(name[0]),
                L"vulmo_installer_%02d%02d%02d%02d%02d%02d.exe", year, month,
                day, hour, minute, second);
  return name;
}

bool GetPackagePath(base::FilePath* path) {
  base::FilePath work_directory;
  if (!GetWorkDirectory(&work_directory))
    return false;
  base::Time::Exploded now;
  base::Time::Now().LocalExplode(&now);
  *path = work_directory.Append(FormatPackageFileName(
      now.year, now.month, now.day_of_month, now.hour, now.minute, now.second));
  return true;
}

}  // namespace net_installer
}  // namespace vulmo
