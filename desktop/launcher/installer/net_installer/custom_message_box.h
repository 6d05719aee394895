// A modeless question box (template 102) with one or two buttons in the
// program's own localized strings. It disables its parent while it exists,
// so the work behind it goes on but the parent takes no input, and reports
// the answer through a callback: 0 the box was closed, 1 the first button,
// 2 the second button. The box never destroys itself; the receiver of the
// answer calls Destroy or deletes the object.
//
// Threading: UI thread only.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_CUSTOM_MESSAGE_BOX_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_CUSTOM_MESSAGE_BOX_H_

#include <windows.h>

#include "base/callback.h"

namespace vulmo {
namespace net_installer {

class CustomMessageBox {
 public:
  // Results passed to the callback.
  enum Result { kClosed = 0, kFirstButton = 1, kSecondButton = 2 };

  CustomMessageBox();
  CustomMessageBox(const CustomMessageBox&) = delete;
  CustomMessageBox& operator=(const CustomMessageBox&) = delete;
  // Destroys the box (re-enabling the parent) if it is still open.
  ~CustomMessageBox();

  // Shows the box over |parent| (may be null) with the given string ids. A
  // |first_button_id| of 0 hides the first button and makes the second one
  // the default. False if the window cannot be created; the parent then
  // stays enabled and |result_callback| is not kept.
  [[nodiscard]] bool Show(HWND parent, int title_id, int text_id,
                          int first_button_id, int second_button_id,
                          base::RepeatingCallback<void(int)> result_callback);
  // Re-enables the parent and destroys the window; safe to call when there
  // is none.
  void Destroy();

  HWND hwnd() const { return hwnd_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  void OnResult(int result);

  HWND hwnd_ = nullptr;
  HWND parent_ = nullptr;
  base::RepeatingCallback<void(int)> result_callback_;
};

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_CUSTOM_MESSAGE_BOX_H_
