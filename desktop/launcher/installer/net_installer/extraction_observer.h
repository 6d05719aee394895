// Progress of an archive extraction, reported from the extraction worker.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_EXTRACTION_OBSERVER_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_EXTRACTION_OBSERVER_H_

#include <cstdint>

namespace vulmo {
namespace net_installer {

// Threading contract: both methods are called directly on the extraction
// worker thread, not posted. An implementation that hands the values to
// another thread (the progress dialog forwards them to its window on the
// main thread) must never block indefinitely on that thread: the main thread
// may itself be joining the worker (shutdown), and a worker waiting for it
// would then deadlock. Use SendMessageTimeout (or PostMessage), or stop
// forwarding once a "closing" flag is set before the join. The extractor
// also checks its cancel flag between items, so a closing owner should set
// that flag first and join afterwards.
class ExtractionObserver {
 public:
  // The number of items in the archive; 0 for an archive without items.
  virtual void SetProgressRange(uint32_t total) = 0;
  // The index of the item about to be extracted (0 .. total - 1).
  virtual void SetProgress(uint32_t position) = 0;

 protected:
  virtual ~ExtractionObserver() = default;
};

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_EXTRACTION_OBSERVER_H_
