#include "desktop/launcher/installer/net_installer/sfx_stripper.h"

#include <cstring>

#include "base/logging.h"

namespace vulmo {
namespace net_installer {
namespace {

// '7' 'z' and four fixed bytes: the start of a 7z archive's signature header.
constexpr unsigned char k7zSignature[] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
constexpr DWORD kSignatureSize = sizeof(k7zSignature);
// The first six bytes carry the previous pass's tail, so a signature split
// between two reads is still found.
constexpr DWORD kCopyBufferSize = 65536;
constexpr DWORD kReadSize = kCopyBufferSize - kSignatureSize;

bool WriteAll(HANDLE file, const unsigned char* data, DWORD size) {
  DWORD written = 0;
  return ::WriteFile(file, data, size, &written, nullptr) && written == size;
}

}  // namespace

SfxStripResult StripSfxHeader(HANDLE package, HANDLE archive) {
  unsigned char buffer[kCopyBufferSize] = {};
  bool found = false;
  bool ok = true;
  DWORD read = 0;
  do {
    read = 0;
    ::ReadFile(package, buffer + kSignatureSize, kReadSize, &read, nullptr);
    if (found) {
      ok = WriteAll(archive, buffer + kSignatureSize, read);
      continue;
    }
    // The window is the carried bytes plus those just read; a match must
    // start at one of the first |read| positions to lie wholly inside it.
    for (DWORD i = 0; i < read; ++i) {
      if (std::memcmp(buffer + i, k7zSignature, kSignatureSize) == 0) {
        VLOG(1) << "Found 7z signature";
        found = true;
        ok = WriteAll(archive, buffer + i, read + kSignatureSize - i);
        break;
      }
    }
    std::memmove(buffer, buffer + read, kSignatureSize);
  } while (read > 0 && ok);

  if (!found)
    return SfxStripResult::kSignatureNotFound;
  return ok ? SfxStripResult::kStripped : SfxStripResult::kWriteFailed;
}

}  // namespace net_installer
}  // namespace vulmo
