// Confirms that a downloaded file holds exactly the announced content.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_CHECKSUM_CHECKER_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_CHECKSUM_CHECKER_H_

#include <string>

namespace vulmo {
namespace net_installer {

// True only when the file at |path| can be read and the lowercase
// hexadecimal text of its SHA-256 digest equals |expected| byte for byte
// (no trimming, no case folding). An unreadable, empty or over-2-GiB file
// logs "Unable to read <path>" and yields false; a mismatch logs nothing.
[[nodiscard]] bool VerifyChecksum(const std::wstring& path,
                                  const std::string& expected);

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_CHECKSUM_CHECKER_H_
