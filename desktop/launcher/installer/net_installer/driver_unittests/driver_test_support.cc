#include "desktop/launcher/installer/net_installer/driver_unittests/driver_test_support.h"

#include <memory>
#include <utility>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/launcher/installer/net_installer/custom_message_box.h"
#include "desktop/launcher/installer/net_installer/progress_dialog.h"
#include "desktop/launcher/installer/net_installer/unpack_thread.h"
#include "desktop/launcher/installer/net_installer/work_area.h"

namespace vulmo {
namespace net_installer {

void DriverTest::SetUp() {
  base::CommandLine::Init();
  ASSERT_TRUE(GetLogFilePath(&log_path_));
  log_path_ = log_path_.DirName().Append(log_name_);
  logging::LoggingSettings settings;
  settings.log_file = log_path_.value().c_str();
  settings.lock_log = logging::DONT_LOCK_LOG_FILE;
  settings.delete_old = logging::DELETE_OLD_LOG_FILE;
  ASSERT_TRUE(logging::InitLogging(settings));
}

std::vector<std::string> DriverTest::LogMessages() const {
  std::vector<std::string> messages;
  for (const std::string& line : LogLines(std::string())) {
    const size_t prefix_end = line.find("] ");
    messages.push_back(prefix_end == std::string::npos ? line
                                                       : line.substr(prefix_end + 2));
  }
  return messages;
}

std::vector<std::string> DriverTest::LogLines(const std::string& message) const {
  std::string text;
  EXPECT_TRUE(base::ReadFileToString(log_path_, &text));
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t prefix_end = line.find("] ");
    if (message.empty() ||
        (prefix_end != std::string::npos && line.substr(prefix_end + 2) == message)) {
      lines.push_back(line);
    }
    start = end + 1;
  }
  return lines;
}

bool DriverTest::Logged(const std::string& message) const {
  return IndexOf(message) >= 0;
}

int DriverTest::IndexOf(const std::string& message) const {
  const std::vector<std::string> messages = LogMessages();
  for (size_t i = 0; i < messages.size(); ++i) {
    if (messages[i] == message)
      return static_cast<int>(i);
  }
  return -1;
}

bool NetInstallerTestPeer::CreateProgressDialog(bool show) {
  installer_->progress_dialog_ = std::make_unique<ProgressDialog>();
  NetInstaller* installer = installer_;
  if (!installer_->progress_dialog_->Create([installer] { installer->RequestClose(); }))
    return false;
  if (show)
    installer_->progress_dialog_->Show();
  return true;
}

void NetInstallerTestPeer::SetUnpackThread(
    std::unique_ptr<NetInstaller::UnpackThread> thread) {
  installer_->unpack_thread_ = std::move(thread);
}

bool NetInstallerTestPeer::RunUntilQuit(int limit_ms) {
  auto limit_reached = std::make_shared<bool>(false);
  NetInstaller* installer = installer_;
  base::MessageLoop::current()->PostDelayedTask(
      FROM_HERE,
      [installer, limit_reached] {
        *limit_reached = true;
        installer->run_loop_.Quit();
      },
      static_cast<int64_t>(limit_ms) * 1000);
  installer_->run_loop_.Run();
  return !*limit_reached;
}

HWND NetInstallerTestPeer::progress_hwnd() const {
  return installer_->progress_dialog_ ? installer_->progress_dialog_->hwnd() : nullptr;
}

HWND NetInstallerTestPeer::message_box_hwnd() const {
  return installer_->message_box_ ? installer_->message_box_->hwnd() : nullptr;
}

}  // namespace net_installer
}  // namespace vulmo
