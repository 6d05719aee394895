#include "desktop/launcher/installer/net_installer/work_area.h"

#include "base/files/file_util.h"
#include "base/files/path_service.h"
#include "base/strings/number_conversions.h"
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
  // "vulmo_installer_%02d%02d%02d%02d%02d%02d.exe"
  base::FilePath::StringType name = L"vulmo_installer_";
  for (int value : {year, month, day, hour, minute, second})
    name += base::NumberToWString(static_cast<uint64_t>(value), 2);
  return name + L".exe";
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
