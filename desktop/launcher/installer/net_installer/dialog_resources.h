// What both dialogs take from the program's resources: texts from the
// string table, the window icon, and the layout that suits the language of
// the texts.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DIALOG_RESOURCES_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DIALOG_RESOURCES_H_

#include <windows.h>

#include <cstdint>

namespace vulmo {
namespace net_installer {

// Sets |window|'s text to string |string_id| in the thread's language,
// loaded into a buffer of 1024 units (longer texts are cut).
void SetTextFromStringTable(HWND window, int string_id);

// Gives |window| icon group 1 as its big and small icon; without the icon
// nothing is set.
void SetWindowIconFromResources(HWND window);

// Chooses the layout of every window this process creates from now on:
// mirrored (caption icon and title on the right, close button on the left,
// controls placed from the right, the progress bar filling from the right)
// when |lcid| is written right to left and the string table holds its texts,
// left to right otherwise. The dialog templates stay language neutral.
// Returns true when the layout is mirrored.
bool UseDialogLayoutOfLanguage(uint32_t lcid);

// Creates the modeless dialog |template_id| of the program's module, as
// CreateDialogParamW does, mirrored when the process's default layout is
// right to left. The platform mirrors only windows without an owner by
// itself; an owned dialog such as the message box gets the layout flag added
// to a copy of its template.
HWND CreateDialogInProcessLayout(int template_id, HWND parent, DLGPROC procedure,
                                 LPARAM param);

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DIALOG_RESOURCES_H_
