#include "desktop/launcher/installer/net_installer/checksum_checker.h"

#include <cstdio>
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

  // Two "%x" nibbles per byte, so a leading zero is always kept.
  std::string text;
  text.reserve(2 * sizeof(digest));
  char pair[3];
  for (uint8_t byte : digest) {
    std::snprintf(pair, sizeof(pair), "%x%x", byte >> 4, byte & 0x0F);
    text += pair;
  }
  return text == expected;
}

}  // namespace net_installer
}  // namespace vulmo
