#include "desktop/launcher/installer/net_installer/work_area.h"

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
  // "vulmo_installer_%02d%02d%02d%02d%02d%02d.exe": the year has four digits
  // in practice, the others at least two.
  base::FilePath::StringType name = L"vulmo_installer_";
  for (int value : {year, month, day, hour, minute, second}) {
    base::FilePath::StringType digits;
    do {
      digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
      value /= 10;
    } while (value != 0);
    if (digits.size() < 2)
      digits.insert(digits.begin(), L'0');
    name += digits;
  }
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
