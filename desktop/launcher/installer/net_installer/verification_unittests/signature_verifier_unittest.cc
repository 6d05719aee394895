#include "desktop/launcher/installer/net_installer/signature_verifier.h"

#include <string>

#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/net_installer/verification_unittests/test_support.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class SignatureVerifierTest : public VerificationTest {};

// The files are the same small program, signed during the test set-up with
// certificates of the test PKI (make_test_pki.sh).
TEST_F(SignatureVerifierTest, OnlyAValidSignatureByTheMakerPasses) {
  struct {
    const wchar_t* file;
    bool result;
  } const kCases[] = {
      {L"signed/signed_vulmo.exe", true},
      // Other subjects, including near misses of the maker's name.
      {L"signed/signed_other.exe", false},
      {L"signed/signed_lowercase.exe", false},
      {L"signed/signed_trailing_space.exe", false},
      {L"signed/unsigned.exe", false},
      // The maker's signature, but one byte of code changed afterwards.
      {L"signed/tampered.exe", false},
      // Only the first signer counts.
      {L"signed/nested_vulmo_first.exe", true},
      {L"signed/nested_other_first.exe", false},
      // A payload block in the certificate table leaves the signature valid.
      {L"signed/stamped.exe", true},
      // A package as build_package.sh makes it.
      {L"signed/package.exe", true},
      {L"signed/missing.exe", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.result, VerifySignature(FixturePath(c.file)))
        << base::UTF16ToUTF8(c.file);
  }
  // The verifier leaves all reporting to its caller.
  EXPECT_EQ("", LogText());
}

TEST_F(SignatureVerifierTest, SignatureFromAnUntrustedRootFails) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Wine's WinVerifyTrust accepts a valid signature whatever "
                    "its root; on Windows this file (maker's name, issued by "
                    "a root that is not trusted) must be refused";
  }
  EXPECT_FALSE(
      VerifySignature(FixturePath(L"signed/signed_untrusted_vulmo.exe")));
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
