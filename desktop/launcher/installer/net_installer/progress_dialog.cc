#include "desktop/launcher/installer/net_installer/progress_dialog.h"

#include <commctrl.h>
#include <objbase.h>

#include <utility>

#include "base/logging.h"
#include "desktop/launcher/installer/net_installer/dialog_resources.h"
#include "desktop/launcher/installer/net_installer/resources/resource_ids.h"
#include "desktop/launcher/installer/net_installer/win32_dialog_dispatcher.h"

namespace vulmo {
namespace net_installer {

namespace {

bool IsOnWindowThread(HWND window) {
  return ::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId();
}

// Both run on the window's thread.
void ApplyProgressRange(HWND dialog, uint32_t total) {
  HWND bar = ::GetDlgItem(dialog, IDC_PROGRESS_BAR);
  if (!bar)
    return;
  LONG style = ::GetWindowLongW(bar, GWL_STYLE);
  if (total != 0) {
    ::SetWindowLongW(bar, GWL_STYLE, style & ~PBS_MARQUEE);
    ::SendMessageW(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
  } else {
    ::SetWindowLongW(bar, GWL_STYLE, style | PBS_MARQUEE);
    ::SendMessageW(bar, PBM_SETMARQUEE, TRUE, 0);
  }
}

// True when moving the bar to |position| can change what it shows. The bar
// is a few hundred pixels wide, so a step below 1/1024 of its range cannot
// show; a download reports every 1 KiB read, and repainting the bar for each
// of them would cost far more than the download itself.
bool IsVisibleStep(HWND bar, uint32_t position) {
  constexpr uint32_t kVisibleSteps = 1024;
  const uint32_t high =
      static_cast<uint32_t>(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
  const uint32_t current = static_cast<uint32_t>(::SendMessageW(bar, PBM_GETPOS, 0, 0));
  if (position >= high)
    return current != high;  // The end always shows (the bar clamps to it).
  if (position < current)
    return true;  // A download that starts again shows at once.
  const uint32_t step = high / kVisibleSteps;
  return position - current >= (step > 0 ? step : 1);
}

void ApplyProgress(HWND dialog, uint32_t position) {
  HWND bar = ::GetDlgItem(dialog, IDC_PROGRESS_BAR);
  if (bar && IsVisibleStep(bar, position))
    ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

}  // namespace

ProgressDialog::ProgressDialog() {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS;
  CHECK(::InitCommonControlsEx(&controls));
  // The proxy credentials prompt owned by this window needs COM.
  ::CoInitialize(nullptr);
}

ProgressDialog::~ProgressDialog() {
  // The window normally goes first (Destroy). If it is still alive, make
  // sure its procedure can no longer reach this object.
  HWND window = hwnd_.load();
  if (window && ::IsWindow(window))
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
}

bool ProgressDialog::Create(base::RepeatingClosure close_callback) {
  close_callback_ = std::move(close_callback);
  LOG(INFO) << "Displaying progress dialog";

  HMODULE module = ::GetModuleHandleW(nullptr);
  HWND window = ::CreateDialogParamW(
      module, MAKEINTRESOURCEW(IDD_PROGRESS_DIALOG), nullptr,
      &ProgressDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  hwnd_.store(window);
  // Stored only now: messages sent during creation find no object.
  if (window)
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  if (!window) {
    LOG(ERROR) << "Failed to display progress dialog";
    return false;
  }

  SetWindowIconFromResources(window);
  SetTextFromStringTable(window, IDS_INSTALLER_TITLE);
  SetTextFromStringTable(::GetDlgItem(window, IDC_PROGRESS_LABEL), IDS_DOWNLOADING);
  return true;
}

void ProgressDialog::Show() {
  if (HWND window = hwnd_.load())
    ::ShowWindow(window, SW_SHOW);
}

void ProgressDialog::SetLabel(int string_id) {
  HWND window = hwnd_.load();
  if (!window)
    return;
  if (HWND label = ::GetDlgItem(window, IDC_PROGRESS_LABEL))
    SetTextFromStringTable(label, string_id);
}

void ProgressDialog::SetProgressRange(uint32_t total) {
  HWND window = hwnd_.load();
  if (!window)
    return;
  if (IsOnWindowThread(window)) {
    ApplyProgressRange(window, total);
  } else {
    // A failed post (window gone meanwhile) loses only a display update.
    ::PostMessageW(window, kSetProgressRangeMessage, static_cast<WPARAM>(total), 0);
  }
}

void ProgressDialog::SetProgress(uint32_t position) {
  HWND window = hwnd_.load();
  if (!window)
    return;
  if (IsOnWindowThread(window))
    ApplyProgress(window, position);
  else
    ::PostMessageW(window, kSetProgressMessage, static_cast<WPARAM>(position), 0);
}

void ProgressDialog::Destroy() {
  HWND window = hwnd_.exchange(nullptr);
  if (!window)
    return;
  LOG(INFO) << "Destroying progress dialog";
  ::DestroyWindow(window);
}

HWND ProgressDialog::hwnd() const {
  return hwnd_.load();
}

void ProgressDialog::OnClose() {
  // The callback may replace or delete this object: run a copy.
  base::RepeatingClosure callback = close_callback_;
  if (callback)
    callback();
}

// static
INT_PTR CALLBACK ProgressDialog::DialogProc(HWND hwnd, UINT message,
                                            WPARAM wparam, LPARAM /*lparam*/) {
  switch (message) {
    case WM_ACTIVATE:
      Win32DialogDispatcher::GetInstance()->OnActivate(hwnd, wparam);
      break;
    case WM_CLOSE: {
      // Closing is the driver's decision; the window stays.
      auto* self = reinterpret_cast<ProgressDialog*>(
          ::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      if (self)
        self->OnClose();
      break;
    }
    case kSetProgressRangeMessage:
      ApplyProgressRange(hwnd, static_cast<uint32_t>(wparam));
      break;
    case kSetProgressMessage:
      ApplyProgress(hwnd, static_cast<uint32_t>(wparam));
      break;
    default:
      break;
  }
  // The default dialog behaviour applies to every message.
  return FALSE;
}

}  // namespace net_installer
}  // namespace vulmo
