// Checks that a file carries a valid embedded Authenticode signature whose
// first signer is the maker.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_SIGNATURE_VERIFIER_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_SIGNATURE_VERIFIER_H_

#include <string>

namespace vulmo {
namespace net_installer {

// The subject display name the signer's certificate must carry, compared
// exactly (case and white space included).
extern const wchar_t kExpectedSignerName[];

// True only when the platform's trust provider accepts the file's embedded
// signature (no UI, no revocation request) and the first signer's subject
// simple display name equals kExpectedSignerName. Logs nothing; synchronous
// and safe to call from any thread.
[[nodiscard]] bool VerifySignature(const std::wstring& path);

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_SIGNATURE_VERIFIER_H_
