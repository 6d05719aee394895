#include "desktop/launcher/installer/net_installer/dialog_resources.h"

#include "desktop/launcher/installer/net_installer/resources/resource_ids.h"

namespace vulmo {
namespace net_installer {
namespace {

constexpr int kMaxStringLength = 1024;

}  // namespace

void SetTextFromStringTable(HWND window, int string_id) {
  wchar_t text[kMaxStringLength] = {};
  ::LoadStringW(nullptr, static_cast<UINT>(string_id), text, kMaxStringLength);
  ::SetWindowTextW(window, text);
}

void SetWindowIconFromResources(HWND window) {
  HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr),
                           MAKEINTRESOURCEW(IDI_APP_ICON));
  if (!icon)
    return;
  ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

}  // namespace net_installer
}  // namespace vulmo
