// Steps of the sequence driven one at a time through the test peer. This
// test program carries no dialog templates, so no box can be shown.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "desktop/launcher/installer/net_installer/driver_unittests/driver_test_support.h"
#include "desktop/launcher/installer/net_installer/extraction_observer.h"
#include "desktop/launcher/installer/net_installer/unpack_thread.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

class NetInstallerStepsTest : public DriverTest {
 protected:
  NetInstallerStepsTest() : DriverTest(L"steps_unittest.log") {}

  void SetUp() override {
    DriverTest::SetUp();
    ASSERT_TRUE(base::GetTempDir(&scratch_));
    scratch_ = scratch_.Append(L"driver_steps_test_" +
                               std::to_wstring(::GetCurrentProcessId()));
    ASSERT_TRUE(base::DeleteFile(scratch_, true));
    ASSERT_TRUE(base::CreateDirectory(scratch_));
    package_ = scratch_.Append(L"package.exe");
    archive_ = scratch_.Append(L"package.7z");
    peer_.SetPackagePath(package_);
  }
  void TearDown() override { (void)base::DeleteFile(scratch_, true); }

  NetInstaller installer_;
  NetInstallerTestPeer peer_{&installer_};
  base::FilePath scratch_;
  base::FilePath package_;
  base::FilePath archive_;
};

// A confirmation that cannot be shown leaves nobody to answer it: the close
// request is dropped and the launch is not held back.
TEST_F(NetInstallerStepsTest, ACancelConfirmationThatCannotBeShownDropsTheRequest) {
  peer_.RequestClose();
  EXPECT_FALSE(peer_.close_pending());
  EXPECT_EQ(nullptr, peer_.message_box_hwnd());
  const std::vector<std::string> failures =
      LogLines("Failed to display custom message box");
  ASSERT_EQ(1u, failures.size());
  EXPECT_NE(std::string::npos, failures[0].find(":ERROR:"));

  peer_.RunInstaller();
  EXPECT_FALSE(Logged("Installer ready to run, but we are waiting for user interaction"));
  EXPECT_TRUE(Logged("Running the Vulmo Installer"));
}

// Slows extraction down, so that the worker is still busy when the next
// attempt comes.
class SlowObserver : public ExtractionObserver {
 public:
  void SetProgressRange(uint32_t) override {}
  void SetProgress(uint32_t) override { ::Sleep(100); }
};

// The previous attempt's worker deletes the archive file when it ends; the
// next attempt's stripping must not write its archive before that.
TEST_F(NetInstallerStepsTest, StrippingWaitsForThePreviousWorker) {
  wchar_t fixtures[MAX_PATH] = {};
  ASSERT_NE(0u, ::GetEnvironmentVariableW(L"VULMO_VERIFICATION_FIXTURES",
                                          fixtures, MAX_PATH));
  ASSERT_TRUE(base::CopyFile(
      base::FilePath(fixtures).Append(L"archives").Append(L"nested.7z"), archive_));
  SlowObserver observer;
  auto worker = std::make_unique<NetInstaller::UnpackThread>(
      archive_, scratch_.Append(L"package"), [] {}, &observer);
  ASSERT_TRUE(worker->Start());
  peer_.SetUnpackThread(std::move(worker));

  const std::string signature("7z\xBC\xAF\x27\x1C", 6);
  const std::string package = "self-extractor header " + signature + " archive data";
  ASSERT_EQ(static_cast<int>(package.size()),
            base::WriteToFile(package_, package.data(), static_cast<int>(package.size())));
  EXPECT_TRUE(peer_.StripPackage(archive_));
  peer_.SetUnpackThread(nullptr);  // Joins a worker still running.

  std::string archive;
  EXPECT_TRUE(base::ReadFileToString(archive_, &archive));
  EXPECT_EQ(signature + " archive data", archive);
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
