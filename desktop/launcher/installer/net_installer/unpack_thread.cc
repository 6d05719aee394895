#include "desktop/launcher/installer/net_installer/unpack_thread.h"

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "desktop/launcher/installer/net_installer/lzma_util.h"

namespace vulmo {
namespace net_installer {

NetInstaller::UnpackThread::UnpackThread(const base::FilePath& archive_path,
                                         const base::FilePath& destination,
                                         base::RepeatingClosure completion,
                                         ExtractionObserver* observer)
    : base::SimpleThread("net_installer_unpack"),
      archive_path_(archive_path),
      destination_(destination),
      origin_loop_(base::MessageLoop::current()->task_runner()),
      completion_(std::move(completion)),
      observer_(observer) {}

NetInstaller::UnpackThread::~UnpackThread() {
  if (HasBeenStarted() && !HasBeenJoined()) {
    VLOG(1) << "Waiting for the unpack thread to finish";
    Join();
  }
}

void NetInstaller::UnpackThread::StopAndJoin() {
  stop_requested_ = true;
  if (HasBeenStarted() && !HasBeenJoined())
    Join();
}

void NetInstaller::UnpackThread::Run() {
  LzmaUtil lzma;
  lzma.SetObserver(observer_);
  lzma.SetCancelFlag(&stop_requested_);
  if (lzma.OpenArchive(archive_path_.value()) == 0 &&
      lzma.ExtractArchive(destination_.value()) == 0) {
    succeeded_ = true;
  }
  lzma.CloseArchive();
  origin_loop_->PostTask(
      FROM_HERE_WITH_EXPLICIT_FUNCTION(
          "vulmo::net_installer::NetInstaller::UnpackThread::Run"),
      completion_);
  // After the post: the main thread may already be handling the result.
  (void)base::DeleteFile(archive_path_, false);
}

}  // namespace net_installer
}  // namespace vulmo
