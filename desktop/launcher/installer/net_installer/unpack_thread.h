// The extraction worker of one attempt: unpacks the archive file into the
// extraction directory on its own thread, posts the completion to the loop
// that created it, then deletes the archive file.
//
// Threading: constructed, started, stopped and joined on the main thread;
// Run() is the worker. The only shared fields are written before Start()
// or (succeeded) before the completion is posted, and read after it has
// arrived, so no lock is needed.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_UNPACK_THREAD_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_UNPACK_THREAD_H_

#include <atomic>
#include <memory>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/threading/simple_thread.h"
#include "desktop/launcher/installer/net_installer/net_installer.h"

namespace base {
class TaskRunner;
}

namespace vulmo {
namespace net_installer {

class ExtractionObserver;

class NetInstaller::UnpackThread : public base::SimpleThread {
 public:
  // |observer| (not owned, may be null) outlives the worker: the driver
  // joins the worker before destroying the progress dialog.
  UnpackThread(const base::FilePath& archive_path,
               const base::FilePath& destination,
               base::RepeatingClosure completion,
               ExtractionObserver* observer);
  ~UnpackThread() override;

  // Asks a running extraction to stop after the current item, then joins.
  // Used at shutdown, so the main thread does not wait for the rest of the
  // archive. It still waits for the item in progress: the decoder unpacks a
  // whole solid block in one call, so the wait is up to one block's decode,
  // which the package builder's 16 MiB solid blocks keep short.
  void StopAndJoin();

  bool succeeded() const { return succeeded_; }

 private:
  void Run() override;

  const base::FilePath archive_path_;
  const base::FilePath destination_;
  const std::shared_ptr<base::TaskRunner> origin_loop_;
  const base::RepeatingClosure completion_;
  ExtractionObserver* const observer_;
  bool succeeded_ = false;
  std::atomic<bool> stop_requested_{false};
};

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_UNPACK_THREAD_H_
