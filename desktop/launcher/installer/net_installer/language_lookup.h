// Maps the "language" switch's short code ("de", "pt-br", "zh-tw") to the
// Windows locale identifier whose strings the dialogs should show.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_LANGUAGE_LOOKUP_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_LANGUAGE_LOOKUP_H_

#include <cstdint>
#include <string>

namespace vulmo {
namespace net_installer {

// The LCID of |code|, matched over its whole length with ASCII letters
// compared case-insensitively; 0 for an empty or unknown code. No prefix or
// fallback matching: "de-at" gives 0.
uint32_t LookupLcid(const std::wstring& code);

// True when the locale |lcid| is written right to left (Arabic, Persian,
// Hebrew, Urdu, ...), as the platform's locale data says. The neutral ids
// (0, and 1024 for the user's default, where the string table keeps
// Filipino) name no language of their own and give false.
bool IsRightToLeftLanguage(uint32_t lcid);

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_LANGUAGE_LOOKUP_H_
