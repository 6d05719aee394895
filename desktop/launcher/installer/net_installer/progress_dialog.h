// The program's main window: a modeless dialog (template 101) with a label
// and a progress bar. It is the downloader's progress view and the
// extraction's progress observer.
//
// Threading: created, shown, relabelled and destroyed on the UI thread, which
// owns the window. SetProgressRange and SetProgress may also be called from
// another thread (the extraction worker): on the window's own thread they
// act at once; from any other thread they post a private message to the
// dialog, carrying the value, and return without waiting. The UI thread
// applies posted updates in order when its pump reaches them. Nothing from
// another thread ever waits for the UI thread, so the UI thread can join the
// worker (or be busy elsewhere) without a deadlock; updates that arrive after
// the window is gone are dropped by the system. The window handle is atomic
// because the worker reads it while the UI thread may clear it.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_PROGRESS_DIALOG_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_PROGRESS_DIALOG_H_

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/callback.h"
#include "desktop/launcher/installer/net_installer/downloader_delegate.h"
#include "desktop/launcher/installer/net_installer/extraction_observer.h"

namespace vulmo {
namespace net_installer {

class ProgressDialog : public DownloaderDelegate, public ExtractionObserver {
 public:
  // Private messages that carry progress updates from other threads to the
  // dialog; wParam holds the value.
  static constexpr UINT kSetProgressRangeMessage = WM_APP + 1;
  static constexpr UINT kSetProgressMessage = WM_APP + 2;

  // Initialises the progress-bar class (a failure ends the process) and COM.
  ProgressDialog();
  ProgressDialog(const ProgressDialog&) = delete;
  ProgressDialog& operator=(const ProgressDialog&) = delete;
  ~ProgressDialog() override;

  // Creates the hidden dialog with its icon, title (37000) and label
  // (37001). |close_callback| runs each time the user asks to close the
  // window; the window stays open. False if the window cannot be created.
  [[nodiscard]] bool Create(base::RepeatingClosure close_callback);
  void Show();
  // Sets the label to string |string_id|.
  void SetLabel(int string_id);
  // Destroys the window; safe to call when there is none.
  void Destroy();

  // DownloaderDelegate and ExtractionObserver. A |total| of 0 switches the
  // bar to its marquee mode (size unknown); any other value to a normal bar
  // from 0 to |total|. Both do nothing while no window exists.
  void SetProgressRange(uint32_t total) override;
  void SetProgress(uint32_t position) override;
  // DownloaderDelegate: the dialog window, or null.
  HWND hwnd() const override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  void OnClose();

  std::atomic<HWND> hwnd_{nullptr};
  base::RepeatingClosure close_callback_;
};

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_PROGRESS_DIALOG_H_
