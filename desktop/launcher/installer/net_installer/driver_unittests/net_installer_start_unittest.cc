#include "desktop/launcher/installer/net_installer/net_installer.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/net_installer/driver_unittests/driver_test_support.h"
#include "desktop/launcher/installer/net_installer/work_area.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

// The two ways start-up ends before the loop runs. This test program does
// not carry the dialog templates, so the progress dialog cannot be created.
class NetInstallerStartTest : public DriverTest {
 protected:
  NetInstallerStartTest() : DriverTest(L"start_unittest.log") {}
};

TEST_F(NetInstallerStartTest, WithoutItsDialogStartFailsBeforeTheLoop) {
  {
    NetInstaller installer;
    EXPECT_FALSE(installer.Start());
  }
  const std::vector<std::string> messages = LogMessages();
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ("Vulmo NetInstaller startup - version " VULMO_TEST_VERSION " Stable",
            messages[0]);
  EXPECT_EQ(0u, messages[1].find("Command line: "));
  EXPECT_EQ("Displaying progress dialog", messages[messages.size() - 3]);
  EXPECT_EQ("Failed to display progress dialog", messages[messages.size() - 2]);
  EXPECT_EQ("Unable to initialize the progress dialog", messages.back());
}

// The work area of an earlier run that cannot be removed (a file in the
// extraction directory is held open without delete sharing) stops the run.
TEST_F(NetInstallerStartTest, AnExtractionDirectoryThatCannotBeCleanedStopsTheRun) {
  base::FilePath package_path;
  ASSERT_TRUE(GetPackagePath(&package_path));
  // The package is named after the second it starts in: block the names of
  // the next few seconds.
  std::vector<base::win::ScopedFileHandle> held;
  std::vector<base::FilePath> directories;
  base::Time::Exploded now;
  base::Time::Now().LocalExplode(&now);
  for (int offset = 0; offset < 5; ++offset) {
    base::Time::Exploded when = now;
    when.second += offset;
    if (when.second > 59)
      continue;  // Rare: the test then blocks fewer seconds.
    const base::FilePath directory = package_path.DirName().Append(
        base::FilePath(FormatPackageFileName(when.year, when.month,
                                             when.day_of_month, when.hour,
                                             when.minute, when.second))
            .RemoveExtension());
    ASSERT_TRUE(base::CreateDirectory(directory));
    directories.push_back(directory);
    held.emplace_back(::CreateFileW(directory.Append(L"busy.bin").value().c_str(),
                                    GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                    nullptr));
    ASSERT_TRUE(held.back().IsValid());
  }
  {
    NetInstaller installer;
    EXPECT_FALSE(installer.Start());
  }
  EXPECT_EQ("Unable to obtain or clean the download/extraction path",
            LogMessages().back());
  held.clear();
  for (const base::FilePath& directory : directories)
    EXPECT_TRUE(base::DeleteFile(directory, true));
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
