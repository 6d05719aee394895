#include "desktop/launcher/installer/net_installer/custom_message_box.h"

#include <utility>

#include "base/logging.h"
#include "desktop/launcher/installer/net_installer/dialog_resources.h"
#include "desktop/launcher/installer/net_installer/resources/resource_ids.h"
#include "desktop/launcher/installer/net_installer/win32_dialog_dispatcher.h"

namespace vulmo {
namespace net_installer {

CustomMessageBox::CustomMessageBox() = default;

CustomMessageBox::~CustomMessageBox() {
  Destroy();
}

bool CustomMessageBox::Show(HWND parent, int title_id, int text_id,
                            int first_button_id, int second_button_id,
                            base::RepeatingCallback<void(int)> result_callback) {
  LOG(INFO) << "Displaying custom message box";
  // A window of an earlier Show stays, but no longer reaches this object.
  if (hwnd_)
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  hwnd_ = CreateDialogInProcessLayout(IDD_MESSAGE_BOX, parent,
                                      &CustomMessageBox::DialogProc,
                                      reinterpret_cast<LPARAM>(this));
  if (!hwnd_) {
    LOG(ERROR) << "Failed to display custom message box";
    return false;
  }
  ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  result_callback_ = std::move(result_callback);

  parent_ = parent;
  if (parent_)
    ::EnableWindow(parent_, FALSE);

  SetWindowIconFromResources(hwnd_);
  SetTextFromStringTable(hwnd_, title_id);
  SetTextFromStringTable(::GetDlgItem(hwnd_, IDC_MESSAGE_LABEL), text_id);

  HWND first_button = ::GetDlgItem(hwnd_, IDC_BUTTON1);
  if (first_button_id != 0) {
    SetTextFromStringTable(first_button, first_button_id);
    ::SendMessageW(hwnd_, DM_SETDEFID, IDC_BUTTON1, 0);
  } else {
    ::ShowWindow(first_button, SW_HIDE);
    ::SendMessageW(hwnd_, DM_SETDEFID, IDC_BUTTON2, 0);
  }
  SetTextFromStringTable(::GetDlgItem(hwnd_, IDC_BUTTON2), second_button_id);
  return true;
}

void CustomMessageBox::Destroy() {
  if (!hwnd_)
    return;
  LOG(INFO) << "Destroying custom message box";
  // Enabled before the box goes, so that activation returns to the parent.
  if (parent_)
    ::EnableWindow(parent_, TRUE);
  HWND window = hwnd_;
  hwnd_ = nullptr;
  // Messages sent while the window goes must not reach this object.
  ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  ::DestroyWindow(window);
}

void CustomMessageBox::OnResult(int result) {
  // The receiver usually deletes this object: run a copy and touch nothing
  // afterwards.
  base::RepeatingCallback<void(int)> callback = result_callback_;
  if (callback)
    callback(result);
}

// static
INT_PTR CALLBACK CustomMessageBox::DialogProc(HWND hwnd, UINT message,
                                              WPARAM wparam, LPARAM /*lparam*/) {
  auto* self =
      reinterpret_cast<CustomMessageBox*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_ACTIVATE:
      Win32DialogDispatcher::GetInstance()->OnActivate(hwnd, wparam);
      break;
    case WM_CLOSE:
      if (self)
        self->OnResult(kClosed);
      break;
    case WM_NCDESTROY:
      // Destroyed from outside (its owner went first): forget the window,
      // so that Destroy touches neither it nor the owner.
      if (self && self->hwnd_ == hwnd) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        self->parent_ = nullptr;
      }
      break;
    case WM_COMMAND:
      // Escape arrives as IDCANCEL and is ignored: only a button answers.
      if (self && LOWORD(wparam) == IDC_BUTTON1)
        self->OnResult(kFirstButton);
      else if (self && LOWORD(wparam) == IDC_BUTTON2)
        self->OnResult(kSecondButton);
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace net_installer
}  // namespace vulmo
