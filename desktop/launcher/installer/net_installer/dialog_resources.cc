#include "desktop/launcher/installer/net_installer/dialog_resources.h"

#include <cstring>
#include <vector>

#include "desktop/launcher/installer/net_installer/language_lookup.h"
#include "desktop/launcher/installer/net_installer/resources/resource_ids.h"

namespace vulmo {
namespace net_installer {
namespace {

constexpr int kMaxStringLength = 1024;

// Whether the string table has a block in |language| of its own, rather
// than the platform's fallback for it.
bool StringTableHasLanguage(LANGID language) {
  constexpr int kStringsPerBlock = 16;
  return ::FindResourceExW(
             ::GetModuleHandleW(nullptr), RT_STRING,
             MAKEINTRESOURCEW(IDS_INSTALLER_TITLE / kStringsPerBlock + 1),
             language) != nullptr;
}

bool ProcessLayoutIsMirrored() {
  DWORD layout = 0;
  return ::GetProcessDefaultLayout(&layout) && (layout & LAYOUT_RTL) != 0;
}

// A copy of the extended dialog template |template_id| with the mirrored
// layout added to its extended style; empty when there is no such template.
// (A vector's storage is aligned well enough for a template: DWORD.)
std::vector<BYTE> MirroredTemplate(HMODULE module, int template_id) {
  HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(template_id), RT_DIALOG);
  const auto* data =
      resource ? static_cast<const BYTE*>(::LockResource(::LoadResource(module, resource)))
               : nullptr;
  // Version 1 and signature 0xFFFF, the help id, then the extended style.
  constexpr uint32_t kExtendedSignature = 0xFFFF0001;
  constexpr size_t kExStyleOffset = 8;
  const DWORD size = data ? ::SizeofResource(module, resource) : 0;
  uint32_t signature = 0;
  if (size < kExStyleOffset + sizeof(DWORD))
    return {};
  std::memcpy(&signature, data, sizeof(signature));
  if (signature != kExtendedSignature)
    return {};
  std::vector<BYTE> mirrored(data, data + size);
  DWORD ex_style = 0;
  std::memcpy(&ex_style, mirrored.data() + kExStyleOffset, sizeof(ex_style));
  ex_style |= WS_EX_LAYOUTRTL;
  std::memcpy(mirrored.data() + kExStyleOffset, &ex_style, sizeof(ex_style));
  return mirrored;
}

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

bool UseDialogLayoutOfLanguage(uint32_t lcid) {
  const bool mirrored = IsRightToLeftLanguage(lcid) &&
                        StringTableHasLanguage(LANGIDFROMLCID(lcid));
  ::SetProcessDefaultLayout(mirrored ? LAYOUT_RTL : 0);
  return mirrored;
}

HWND CreateDialogInProcessLayout(int template_id, HWND parent, DLGPROC procedure,
                                 LPARAM param) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  if (ProcessLayoutIsMirrored()) {
    // The dialog manager reads the template during creation only.
    const std::vector<BYTE> mirrored = MirroredTemplate(module, template_id);
    if (!mirrored.empty()) {
      return ::CreateDialogIndirectParamW(
          module, reinterpret_cast<const DLGTEMPLATE*>(mirrored.data()), parent,
          procedure, param);
    }
  }
  return ::CreateDialogParamW(module, MAKEINTRESOURCEW(template_id), parent,
                              procedure, param);
}

}  // namespace net_installer
}  // namespace vulmo
