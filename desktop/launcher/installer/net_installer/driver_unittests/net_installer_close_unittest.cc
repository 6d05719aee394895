// Close requests and the boxes of the sequence, with the real dialogs: this
// test program carries the dialog templates and strings.
#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "desktop/launcher/installer/net_installer/driver_unittests/driver_test_support.h"
#include "desktop/launcher/installer/net_installer/resources/resource_ids.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

// A bound against a run that would never end; a run that needs it has
// failed.
constexpr int kRunLimitMs = 5000;

class NetInstallerCloseTest : public DriverTest {
 protected:
  NetInstallerCloseTest() : DriverTest(L"close_unittest.log") {}

  void SetUp() override {
    DriverTest::SetUp();
    base::FilePath temp;
    ASSERT_TRUE(base::GetTempDir(&temp));
    // Nothing is extracted there: a launch fails at once.
    peer_.SetPackagePath(temp.Append(L"driver_close_test_missing.exe"));
  }

  // The progress dialog, shown, and the error box over it.
  HWND ShowErrorBox() {
    EXPECT_TRUE(peer_.CreateProgressDialog(true));
    peer_.UseUpRetries();
    peer_.HandleError(IDS_DOWNLOAD_FAILED);
    EXPECT_NE(nullptr, peer_.message_box_hwnd());
    return peer_.message_box_hwnd();
  }
  // The user closes the progress dialog, which asks for confirmation.
  HWND ShowConfirmation() {
    EXPECT_TRUE(peer_.CreateProgressDialog(true));
    ::SendMessageW(peer_.progress_hwnd(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(peer_.close_pending());
    EXPECT_NE(nullptr, peer_.message_box_hwnd());
    return peer_.message_box_hwnd();
  }
  void Press(HWND box, int button) {
    ::SendMessageW(::GetDlgItem(box, button), BM_CLICK, 0, 0);
  }
  // Pressing |button| ends the run, and the box goes before its owner, the
  // progress dialog.
  void PressAndExpectTheBoxToGoFirst(HWND box, int button) {
    HWND progress = peer_.progress_hwnd();
    Press(box, button);
    EXPECT_TRUE(peer_.RunUntilQuit(kRunLimitMs));
    const int box_gone = IndexOf("Destroying custom message box");
    const int progress_gone = IndexOf("Destroying progress dialog");
    ASSERT_GE(box_gone, 0);
    ASSERT_GE(progress_gone, 0);
    EXPECT_LT(box_gone, progress_gone);
    EXPECT_FALSE(::IsWindow(box));
    EXPECT_FALSE(::IsWindow(progress));
  }

  NetInstaller installer_;
  NetInstallerTestPeer peer_{&installer_};
};

// The error box ends the run whichever way it is closed, so a close request
// meanwhile has nothing to ask: the error box stays the one shown.
TEST_F(NetInstallerCloseTest, ACloseRequestLeavesTheErrorBoxInPlace) {
  HWND box = ShowErrorBox();
  ::SendMessageW(peer_.progress_hwnd(), WM_CLOSE, 0, 0);
  EXPECT_EQ(box, peer_.message_box_hwnd());
  EXPECT_TRUE(::IsWindowVisible(box));
  EXPECT_FALSE(peer_.close_pending());
  EXPECT_EQ(1u, LogLines("Displaying custom message box").size());

  ::SendMessageW(box, WM_CLOSE, 0, 0);
  EXPECT_TRUE(peer_.RunUntilQuit(kRunLimitMs));
  EXPECT_TRUE(Logged("Closing"));
  EXPECT_FALSE(Logged("Running the Vulmo Installer"));
}

// Silent runs show no box: a close request aborts at once.
TEST_F(NetInstallerCloseTest, InSilentModeACloseRequestAbortsWithoutABox) {
  peer_.SetSilent();
  ASSERT_TRUE(peer_.CreateProgressDialog(false));
  HWND progress = peer_.progress_hwnd();
  ::SendMessageW(progress, WM_CLOSE, 0, 0);
  EXPECT_TRUE(peer_.RunUntilQuit(kRunLimitMs));
  EXPECT_EQ(nullptr, peer_.message_box_hwnd());
  EXPECT_FALSE(Logged("Displaying custom message box"));
  const int aborted = IndexOf("User aborted the installation");
  ASSERT_GE(aborted, 0);
  EXPECT_LT(aborted, IndexOf("Closing"));
  EXPECT_FALSE(::IsWindow(progress));
}

// "Continue installing" after the launch was held back: the box is gone
// before anything else happens, and installer.exe starts from a task of its
// own, not inside the box's window procedure.
TEST_F(NetInstallerCloseTest, ContinueLaunchesFromATaskAfterTheBoxIsGone) {
  HWND box = ShowConfirmation();
  peer_.RunInstaller();  // Held back while the confirmation is open.
  ASSERT_FALSE(Logged("Running the Vulmo Installer"));

  Press(box, IDC_BUTTON1);
  EXPECT_FALSE(::IsWindow(box));
  EXPECT_EQ(nullptr, peer_.message_box_hwnd());
  EXPECT_FALSE(Logged("Running the Vulmo Installer"));

  EXPECT_TRUE(peer_.RunUntilQuit(kRunLimitMs));
  const int launched = IndexOf("Running the Vulmo Installer");
  ASSERT_GE(launched, 0);
  EXPECT_LT(IndexOf("Destroying custom message box"), launched);
  EXPECT_EQ(1u, LogLines("Running the Vulmo Installer").size());
}

TEST_F(NetInstallerCloseTest, AbortDestroysTheBoxBeforeItsOwner) {
  PressAndExpectTheBoxToGoFirst(ShowConfirmation(), IDC_BUTTON2);
  EXPECT_TRUE(Logged("User aborted the installation"));
}

TEST_F(NetInstallerCloseTest, ErrorBoxOkDestroysTheBoxBeforeItsOwner) {
  PressAndExpectTheBoxToGoFirst(ShowErrorBox(), IDC_BUTTON2);
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
