// Feeds the program's modeless dialogs from the UI message pump: the pump
// hands every message to Dispatch, which lets IsDialogMessageW handle it for
// the active dialog so that Tab, Enter and Escape work as in a modal dialog.
//
// Threading: one process-wide instance. GetInstance is safe against
// concurrent first use; everything else runs on the UI thread only.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_WIN32_DIALOG_DISPATCHER_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_WIN32_DIALOG_DISPATCHER_H_

#include <windows.h>

#include <cstdint>

#include "base/lazy_instance.h"
#include "base/message_loop/message_pump_dispatcher.h"

namespace vulmo {
namespace net_installer {

class Win32DialogDispatcher : public base::MessagePumpDispatcher {
 public:
  Win32DialogDispatcher(const Win32DialogDispatcher&) = delete;
  Win32DialogDispatcher& operator=(const Win32DialogDispatcher&) = delete;

  // Created on first use; deleted by the AtExitManager.
  static Win32DialogDispatcher* GetInstance();

  // Called by a dialog when it is activated: its messages go through
  // IsDialogMessageW from now on.
  void SelectHwnd(HWND hwnd);
  // Called by a dialog when it is deactivated. Clears the selection only if
  // |hwnd| holds it, so a late deactivation never unselects another dialog.
  void DeselectHwnd(HWND hwnd);
  // For a dialog's WM_ACTIVATE: a nonzero |wparam| (activation state and
  // minimized flag together) selects |hwnd|, zero deselects it.
  void OnActivate(HWND hwnd, WPARAM wparam);

  // base::MessagePumpDispatcher: 0 when the selected dialog consumed the
  // message, POST_DISPATCH_PERFORM_DEFAULT otherwise.
  uint32_t Dispatch(const MSG& message) override;

  HWND selected_hwnd() const { return selected_hwnd_; }

 private:
  friend class base::LazyInstance<Win32DialogDispatcher>;

  Win32DialogDispatcher();
  ~Win32DialogDispatcher() override;

  HWND selected_hwnd_ = nullptr;
};

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_WIN32_DIALOG_DISPATCHER_H_
