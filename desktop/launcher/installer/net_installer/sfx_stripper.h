// Cuts the self-extractor header off a downloaded package: copies the
// package from the first 7z signature on into the archive file, streaming
// through one 64 KiB buffer.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_SFX_STRIPPER_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_SFX_STRIPPER_H_

#include <windows.h>

namespace vulmo {
namespace net_installer {

enum class SfxStripResult {
  kStripped,          // Signature found and everything from it on written.
  kSignatureNotFound,
  kWriteFailed,       // Found, but a write failed or was short.
};

// Reads |package| from its current position to the end and writes the 7z
// archive that starts at the first signature to |archive|. A read failure
// ends the copy like the end of the file. A signature that only completes
// in the file's last six bytes is not found: the last pass searches nothing.
SfxStripResult StripSfxHeader(HANDLE package, HANDLE archive);

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_SFX_STRIPPER_H_
