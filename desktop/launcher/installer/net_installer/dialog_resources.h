// What both dialogs take from the program's resources: texts from the
// string table and the window icon.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DIALOG_RESOURCES_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DIALOG_RESOURCES_H_

#include <windows.h>

namespace vulmo {
namespace net_installer {

// Sets |window|'s text to string |string_id| in the thread's language,
// loaded into a buffer of 1024 units (longer texts are cut).
void SetTextFromStringTable(HWND window, int string_id);

// Gives |window| icon group 1 as its big and small icon; without the icon
// nothing is set.
void SetWindowIconFromResources(HWND window);

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DIALOG_RESOURCES_H_
