// The progress view that a download reports to. In the installer it is the
// progress dialog; the downloader uses its window as the owner of the proxy
// credentials prompt and moves its bar.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DOWNLOADER_DELEGATE_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DOWNLOADER_DELEGATE_H_

#include <windows.h>

#include <cstdint>

namespace vulmo {
namespace net_installer {

class DownloaderDelegate {
 public:
  virtual ~DownloaderDelegate() = default;
  virtual HWND hwnd() const = 0;
  // Total size in bytes; 0 when the size is unknown.
  virtual void SetProgressRange(uint32_t total) = 0;
  // Bytes received so far.
  virtual void SetProgress(uint32_t position) = 0;
};

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DOWNLOADER_DELEGATE_H_
