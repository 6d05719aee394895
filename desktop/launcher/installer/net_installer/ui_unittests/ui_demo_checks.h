// Checks of what the screenshot demo shows, made with the fonts and sizes
// the windows really use: every text fits its control, the bar spans the
// dialog, and no character is drawn as the font's "missing glyph" box.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_UI_UNITTESTS_UI_DEMO_CHECKS_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_UI_UNITTESTS_UI_DEMO_CHECKS_H_

#include <windows.h>

namespace vulmo {
namespace net_installer {

// The caption title and the texts of the controls |control_ids| (0-ended)
// of |dialog| fit unclipped; each fault is printed to stderr.
bool TextsFit(HWND dialog, const int* control_ids);

// Control |bar_id| spans |dialog|'s client area between equal margins.
bool BarFillsWidth(HWND dialog, int bar_id);

// No character of the caption title or of the controls |control_ids|
// (0-ended) draws like a character that no font has; each one that does is
// printed to stderr.
bool GlyphsPresent(HWND dialog, const int* control_ids);

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_UI_UNITTESTS_UI_DEMO_CHECKS_H_
