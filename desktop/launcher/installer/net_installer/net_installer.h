// The installer driver: asks the update server where the package is,
// downloads, verifies and unpacks it, fetches partner content and runs the
// unpacked installer.exe.
//
// Threading: everything here runs on the main thread as tasks of its UI
// message loop. The downloader's callback thread and the extraction worker
// reach the driver only through tasks posted to that loop, so no field
// needs a lock.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_NET_INSTALLER_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_NET_INSTALLER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/run_loop.h"

namespace base {
class DictionaryValue;
class ListValue;
class Value;
}  // namespace base

namespace vulmo {
namespace net_installer {

class CustomMessageBox;
class PayloadReader;
class ProgressDialog;
class WininetDownloader;

class NetInstaller {
 public:
  NetInstaller();
  NetInstaller(const NetInstaller&) = delete;
  NetInstaller& operator=(const NetInstaller&) = delete;
  ~NetInstaller();

  // Prepares the run and runs the loop until the sequence quits it. True
  // only when installer.exe ran and exited with 0.
  bool Start();

  // The extraction worker of one attempt (unpack_thread.h).
  class UnpackThread;

 private:
  friend class NetInstallerTestPeer;

  // Contexts of OnMessageBoxClosed.
  enum MessageBoxContext { kCancelConfirmation = 0, kErrorBox = 1 };

  // Update-server exchange.
  void FetchDownloadUrl();
  void OnDownloadUrlFetched();
  // Package preparation.
  void OnPackageDownloaded(const std::string& expected_checksum);
  bool StripPackage(const base::FilePath& archive_path);
  void OnUnpackDone();
  // Partner content.
  void DownloadPartnerContent();
  void OnPartnerContentDownloaded(const std::wstring& file_name,
                                  const std::string& expected_checksum);
  void WritePartnerFilesList();
  // Launch.
  void RunInstaller();
  // Errors, cancel and close.
  void HandleError(int string_id);
  void RequestClose();
  void OnMessageBoxClosed(int context, int result);
  void Close();
  // Deletes the box, then destroys the progress dialog that owns it.
  void DestroyDialogs();
  // Launches from a task of its own, after a deferral.
  void PostRunInstaller();

  void SetLabel(int string_id);
  int DownloaderRetryCount() const;
  base::FilePath ExtractionDirectory() const;
  base::FilePath PartnerTemporaryFile() const;
  void SwitchLanguage();

  bool silent_ = false;
  bool succeeded_ = false;
  int32_t retry_count_ = 0;
  base::FilePath package_path_;
  // The state of the boxes. |close_pending_|: the cancel confirmation is
  // open, so the launch must wait for its answer. |launch_deferred_|:
  // RunInstaller found it open and returned, so "Continue installing" has to
  // launch. |error_box_open_|: the error box is shown; it ends the run
  // however it is closed, so a close request meanwhile has nothing to ask.
  // At most one box is open: the first two are false while the error box is.
  bool close_pending_ = false;
  bool launch_deferred_ = false;
  bool error_box_open_ = false;
  std::unique_ptr<UnpackThread> unpack_thread_;
  std::unique_ptr<PayloadReader> payload_reader_;
  std::unique_ptr<ProgressDialog> progress_dialog_;
  std::unique_ptr<CustomMessageBox> message_box_;
  std::unique_ptr<WininetDownloader> downloader_;
  std::unique_ptr<base::Value> reply_;
  const base::ListValue* partner_content_ = nullptr;  // Points into reply_.
  size_t current_partner_ = 0;
  std::vector<std::string> partner_files_;
  base::RunLoop run_loop_;
};

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_NET_INSTALLER_H_
