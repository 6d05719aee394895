#include "desktop/launcher/installer/net_installer/win32_dialog_dispatcher.h"

#include "base/logging.h"

namespace vulmo {
namespace net_installer {

namespace {

base::LazyInstance<Win32DialogDispatcher> g_dialog_dispatcher;

}  // namespace

Win32DialogDispatcher::Win32DialogDispatcher() = default;

Win32DialogDispatcher::~Win32DialogDispatcher() = default;

// static
Win32DialogDispatcher* Win32DialogDispatcher::GetInstance() {
  return g_dialog_dispatcher.Pointer();
}

void Win32DialogDispatcher::SelectHwnd(HWND hwnd) {
  LOG(INFO) << "Switching to hwnd " << static_cast<const void*>(hwnd);
  selected_hwnd_ = hwnd;
}

void Win32DialogDispatcher::DeselectHwnd(HWND hwnd) {
  LOG(INFO) << "Switching away from hwnd " << static_cast<const void*>(hwnd);
  if (hwnd == selected_hwnd_) {
    selected_hwnd_ = nullptr;
    return;
  }
  LOG(INFO) << "Another hwnd was already selected";
}

void Win32DialogDispatcher::OnActivate(HWND hwnd, WPARAM wparam) {
  if (wparam)
    SelectHwnd(hwnd);
  else
    DeselectHwnd(hwnd);
}

uint32_t Win32DialogDispatcher::Dispatch(const MSG& message) {
  if (selected_hwnd_) {
    // IsDialogMessageW takes a non-const pointer; never hand it the pump's
    // own record.
    MSG copy = message;
    if (::IsDialogMessageW(selected_hwnd_, &copy))
      return POST_DISPATCH_NONE;
  }
  return POST_DISPATCH_PERFORM_DEFAULT;
}

}  // namespace net_installer
}  // namespace vulmo
