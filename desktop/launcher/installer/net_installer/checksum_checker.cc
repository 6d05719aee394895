#include "desktop/launcher/installer/net_installer/checksum_checker.h"

#include <memory>

#include "base/files/file_path.h"
#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "crypto/secure_hash.h"

namespace vulmo {
namespace net_installer {

bool VerifyChecksum(const std::wstring& path, const std::string& expected) {
  base::MemoryMappedFile file;
  if (!file.Initialize(base::FilePath(path))) {
    LOG(ERROR) << "Unable to read " << path;
    return false;
  }

  // The mapped view goes to the hasher in one piece: no copy of the file.
  std::unique_ptr<crypto::SecureHash> hash =
      crypto::SecureHash::Create(crypto::SecureHash::SHA256);
  uint8_t digest[crypto::kSHA256Length];
  if (!hash || !hash->Update(file.data(), file.length()) ||
      !hash->Finish(digest, sizeof(digest))) {
    LOG(ERROR) << "Unable to compute the SHA-256 digest of " << path;
    return false;
  }

  // Each byte as its two nibbles, high first, each one lowercase digit (what
  // "%x%x" prints), so a leading zero is always kept. A table rather than
  // the C library's formatter, which would add kilobytes to the program.
  static const char kHexDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * sizeof(digest));
  for (uint8_t byte : digest) {
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0x0F];
  }
  return text == expected;
}

}  // namespace net_installer
}  // namespace vulmo
