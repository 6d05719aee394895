// Shared by the driver tests: a fixture that logs into a file of its own and
// reads the messages back, and a peer that reaches the driver's private
// steps, so that a test can drive the close and box paths directly.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DRIVER_UNITTESTS_DRIVER_TEST_SUPPORT_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DRIVER_UNITTESTS_DRIVER_TEST_SUPPORT_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/files/file_path.h"
#include "base/message_loop/message_loop.h"
#include "desktop/launcher/installer/net_installer/net_installer.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {

// A UI loop and logging into |log_name| in the work directory, deleted first.
class DriverTest : public ::testing::Test {
 protected:
  explicit DriverTest(const wchar_t* log_name) : log_name_(log_name) {}
  void SetUp() override;

  // The messages of the log, in order, without their prefixes.
  std::vector<std::string> LogMessages() const;
  // The log lines (with their prefixes) whose message is |message|.
  std::vector<std::string> LogLines(const std::string& message) const;
  bool Logged(const std::string& message) const;
  // Position of the first line with |message|, or -1.
  int IndexOf(const std::string& message) const;

  base::AtExitManager exit_manager_;
  base::MessageLoop loop_{base::MessageLoop::TYPE_UI};

 private:
  const wchar_t* const log_name_;
  base::FilePath log_path_;
};

// Drives a NetInstaller that never ran Start: its fields are those of a run
// that has not begun, so each test sets up just what it needs.
class NetInstallerTestPeer {
 public:
  explicit NetInstallerTestPeer(NetInstaller* installer) : installer_(installer) {}

  // The progress dialog as Start makes it; |show| unless silent.
  [[nodiscard]] bool CreateProgressDialog(bool show);
  void SetSilent() { installer_->silent_ = true; }
  // The package file; the extraction directory and the archive file are
  // named after it. Without an installer.exe there, a launch fails at once
  // (after logging "Running the Vulmo Installer").
  void SetPackagePath(const base::FilePath& package_path) {
    installer_->package_path_ = package_path;
  }
  // The sequence has used up its retries: the next error shows the box.
  void UseUpRetries() { installer_->retry_count_ = 3; }

  void HandleError(int string_id) { installer_->HandleError(string_id); }
  void RequestClose() { installer_->RequestClose(); }
  void RunInstaller() { installer_->RunInstaller(); }
  [[nodiscard]] bool StripPackage(const base::FilePath& archive_path) {
    return installer_->StripPackage(archive_path);
  }
  void SetUnpackThread(std::unique_ptr<NetInstaller::UnpackThread> thread);

  // Runs the driver's loop until the sequence quits it, or |limit_ms|.
  // False when the limit ended it.
  [[nodiscard]] bool RunUntilQuit(int limit_ms);

  bool close_pending() const { return installer_->close_pending_; }
  HWND progress_hwnd() const;
  HWND message_box_hwnd() const;

 private:
  NetInstaller* const installer_;
};

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DRIVER_UNITTESTS_DRIVER_TEST_SUPPORT_H_
