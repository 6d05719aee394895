#include "desktop/launcher/installer/net_installer/signature_verifier.h"

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cwchar>
#include <memory>

#include "base/win/scoped_handle.h"

namespace vulmo {
namespace net_installer {

const wchar_t kExpectedSignerName[] = L"Vulmo Software ASA";

namespace {

// Owners for what the certificate calls hand out. Each closes only what was
// obtained; destruction order (reverse of declaration) is the release order.
struct CertStoreTraits {
  using Handle = HCERTSTORE;
  static Handle NullHandle() { return nullptr; }
  static void Close(Handle handle) { ::CertCloseStore(handle, 0); }
};
struct CryptMsgTraits {
  using Handle = HCRYPTMSG;
  static Handle NullHandle() { return nullptr; }
  static void Close(Handle handle) { ::CryptMsgClose(handle); }
};
struct CertContextTraits {
  using Handle = PCCERT_CONTEXT;
  static Handle NullHandle() { return nullptr; }
  static void Close(Handle handle) { ::CertFreeCertificateContext(handle); }
};
struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle NullHandle() { return nullptr; }
  static void Close(Handle handle) { ::LocalFree(handle); }
};
using ScopedCertStore = base::win::GenericScopedHandle<CertStoreTraits>;
using ScopedCryptMsg = base::win::GenericScopedHandle<CryptMsgTraits>;
using ScopedCertContext = base::win::GenericScopedHandle<CertContextTraits>;
using ScopedLocalMemory = base::win::GenericScopedHandle<LocalMemoryTraits>;

// The trust-data record as the trust provider defines it today: the headers
// we build with (targeting Windows 7) end before the signature-settings
// pointer that Windows 8 added, but the record handed over is the full one,
// with that pointer null.
struct FullTrustData {
  WINTRUST_DATA data;
  void* signature_settings;
};
static_assert(sizeof(FullTrustData) == (sizeof(void*) == 8 ? 88 : 52),
              "trust-data record size");
static_assert(sizeof(WINTRUST_FILE_INFO) == (sizeof(void*) == 8 ? 32 : 16),
              "file-info record size");

bool IsTrusted(const std::wstring& path) {
  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = path.c_str();
  file_info.hFile = nullptr;
  file_info.pgKnownSubject = nullptr;

  FullTrustData trust = {};
  trust.data.cbStruct = sizeof(trust);
  trust.data.pPolicyCallbackData = nullptr;
  trust.data.pSIPClientData = nullptr;
  trust.data.dwUIChoice = WTD_UI_NONE;
  trust.data.fdwRevocationChecks = WTD_REVOKE_NONE;
  trust.data.dwUnionChoice = WTD_CHOICE_FILE;
  trust.data.pFile = &file_info;
  trust.data.dwStateAction = WTD_STATEACTION_IGNORE;
  trust.data.hWVTStateData = nullptr;
  trust.data.pwszURLReference = nullptr;
  trust.data.dwProvFlags = 0;
  trust.data.dwUIContext = WTD_UICONTEXT_EXECUTE;
  trust.signature_settings = nullptr;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  return ::WinVerifyTrust(nullptr, &action, &trust) == 0;
}

}  // namespace

bool VerifySignature(const std::wstring& path) {
  if (!IsTrusted(path))
    return false;

  DWORD encoding = 0;
  ScopedCryptMsg message;
  ScopedCertStore store;
  if (!::CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                          CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, nullptr,
                          nullptr, store.Receive(), message.Receive(),
                          nullptr)) {
    return false;
  }

  // Only the first signer counts; further signers and countersignatures
  // are not looked at.
  DWORD signer_info_size = 0;
  if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr,
                          &signer_info_size) ||
      signer_info_size == 0) {
    return false;
  }
  // Declared before the signer block so that the block is freed first.
  ScopedCertContext certificate;
  ScopedLocalMemory signer_block(::LocalAlloc(LMEM_ZEROINIT, signer_info_size));
  if (!signer_block.IsValid())
    return false;
  if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0,
                          signer_block.Get(), &signer_info_size)) {
    return false;
  }
  const CMSG_SIGNER_INFO* signer_info =
      static_cast<const CMSG_SIGNER_INFO*>(signer_block.Get());

  CERT_INFO wanted = {};
  wanted.Issuer = signer_info->Issuer;
  wanted.SerialNumber = signer_info->SerialNumber;
  certificate.Set(::CertFindCertificateInStore(
      store.Get(), encoding, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
  if (!certificate.IsValid())
    return false;

  const DWORD name_length = ::CertGetNameStringW(
      certificate.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (name_length == 0)
    return false;
  std::unique_ptr<wchar_t[]> name(new wchar_t[name_length]());
  if (::CertGetNameStringW(certificate.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0,
                           nullptr, name.get(), name_length) == 0) {
    return false;
  }

  // Exact code-unit comparison up to the terminator the call wrote.
  const size_t expected_length = std::wcslen(kExpectedSignerName);
  return name_length == expected_length + 1 &&
         std::wmemcmp(name.get(), kExpectedSignerName, expected_length) == 0 &&
         name[expected_length] == L'\0';
}

}  // namespace net_installer
}  // namespace vulmo
