#include "desktop/launcher/installer/net_installer/work_area.h"

#include "base/files/file_util.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

TEST(WorkAreaTest, PackageFileNameFromLocalTime) {
  EXPECT_EQ(L"vulmo_installer_20140925093005.exe",
            FormatPackageFileName(2014, 9, 25, 9, 30, 5));
  EXPECT_EQ(L"vulmo_installer_20261231235959.exe",
            FormatPackageFileName(2026, 12, 31, 23, 59, 59));
  EXPECT_EQ(L"vulmo_installer_20270101000000.exe",
            FormatPackageFileName(2027, 1, 1, 0, 0, 0));
}

TEST(WorkAreaTest, PathsLieInTheWorkDirectoryWhichExists) {
  base::FilePath log_path;
  base::FilePath package_path;
  ASSERT_TRUE(GetLogFilePath(&log_path));
  ASSERT_TRUE(GetPackagePath(&package_path));
  EXPECT_EQ(L"net_installer.log", log_path.BaseName().value());
  EXPECT_EQ(L"Vulmo NetInstaller", log_path.DirName().BaseName().value());
  EXPECT_EQ(log_path.DirName(), package_path.DirName());
  EXPECT_TRUE(base::DirectoryExists(log_path.DirName()));
  const std::wstring name = package_path.BaseName().value();
  ASSERT_EQ(std::wstring(L"vulmo_installer_20140925093005.exe").size(), name.size());
  EXPECT_EQ(0u, name.find(L"vulmo_installer_"));
  EXPECT_EQ(L".exe", package_path.Extension());
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
