// trust_root <ca.crt>
//
// Adds a test root CA (PEM or DER) to the local machine's "Root" store of the
// Wine prefix it runs in, without any prompt, so that signatures and HTTPS
// servers made with the test PKI chain up to a trusted root.
//
// Test machines only: it refuses to run outside Wine, so a test root can
// never end up trusted on a real Windows installation by accident.
// Exit codes: 0 added (or already present), 1 failed, 2 usage.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <vector>

namespace {

bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool ReadWholeFile(const wchar_t* path, std::vector<BYTE>* bytes) {
  HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  LARGE_INTEGER size;
  bool ok = ::GetFileSizeEx(file, &size) && size.QuadPart > 0 &&
            size.QuadPart < (1 << 20);
  if (ok) {
    bytes->resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ok = ::ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()),
                    &read, nullptr) &&
         read == bytes->size();
  }
  ::CloseHandle(file);
  return ok;
}

// PEM text becomes DER; DER input is returned as it is.
bool ToDer(const std::vector<BYTE>& input, std::vector<BYTE>* der) {
  DWORD size = 0;
  const char* text = reinterpret_cast<const char*>(input.data());
  const DWORD length = static_cast<DWORD>(input.size());
  if (::CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER, nullptr,
                             &size, nullptr, nullptr)) {
    der->resize(size);
    return ::CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER,
                                  der->data(), &size, nullptr, nullptr) != 0;
  }
  *der = input;
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trust_root <ca.crt>\n");
    return 2;
  }
  if (!RunningUnderWine()) {
    std::fprintf(stderr,
                 "trust_root: refusing to run outside Wine (test roots are "
                 "only trusted inside a test prefix)\n");
    return 1;
  }
  std::vector<BYTE> input;
  std::vector<BYTE> der;
  if (!ReadWholeFile(argv[1], &input) || !ToDer(input, &der)) {
    std::fprintf(stderr, "trust_root: cannot read the certificate\n");
    return 1;
  }
  HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) {
    std::fprintf(stderr, "trust_root: CertOpenStore failed: %lu\n",
                 ::GetLastError());
    return 1;
  }
  const BOOL added = ::CertAddEncodedCertificateToStore(
      store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = ::GetLastError();
  ::CertCloseStore(store, 0);
  if (!added) {
    std::fprintf(stderr,
                 "trust_root: CertAddEncodedCertificateToStore "
                 "failed: %lu\n",
                 error);
    return 1;
  }
  return 0;
}
