#include "crypto/secure_hash.h"

#include <windows.h>

#include <bcrypt.h>

#include <limits>
#include <utility>

namespace crypto {
namespace {

bool Succeeded(NTSTATUS status) {
  return status >= 0;
}

}  // namespace

// static
std::unique_ptr<SecureHash> SecureHash::Create(Algorithm algorithm) {
  if (algorithm != SHA256)
    return nullptr;

  BCRYPT_ALG_HANDLE provider = nullptr;
  if (!Succeeded(::BCryptOpenAlgorithmProvider(
          &provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return nullptr;
  }

  // The caller supplies the hash object's memory; Windows 7 requires it.
  DWORD object_length = 0;
  ULONG result_size = 0;
  if (!Succeeded(::BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH,
                                     reinterpret_cast<PUCHAR>(&object_length),
                                     sizeof(object_length), &result_size, 0)) ||
      object_length == 0) {
    ::BCryptCloseAlgorithmProvider(provider, 0);
    return nullptr;
  }
  std::unique_ptr<uint8_t[]> object(new uint8_t[object_length]);

  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!Succeeded(::BCryptCreateHash(provider, &hash, object.get(),
                                    object_length, nullptr, 0, 0))) {
    ::BCryptCloseAlgorithmProvider(provider, 0);
    return nullptr;
  }
  return std::unique_ptr<SecureHash>(
      new SecureHash(provider, hash, std::move(object)));
}

SecureHash::SecureHash(void* algorithm, void* hash,
                       std::unique_ptr<uint8_t[]> object)
    : algorithm_(algorithm), hash_(hash), hash_object_(std::move(object)) {}

SecureHash::~SecureHash() {
  // The hash handle uses |hash_object_|, so it goes first.
  ::BCryptDestroyHash(hash_);
  ::BCryptCloseAlgorithmProvider(algorithm_, 0);
}

bool SecureHash::Update(const void* input, size_t length) {
  if (failed_ || finished_)
    return false;
  const uint8_t* bytes = static_cast<const uint8_t*>(input);
  // BCryptHashData takes a 32-bit length.
  constexpr size_t kMaxPiece = std::numeric_limits<ULONG>::max();
  do {
    const size_t piece = length < kMaxPiece ? length : kMaxPiece;
    if (!Succeeded(::BCryptHashData(hash_, const_cast<PUCHAR>(bytes),
                                    static_cast<ULONG>(piece), 0))) {
      failed_ = true;
      return false;
    }
    bytes += piece;
    length -= piece;
  } while (length > 0);
  return true;
}

bool SecureHash::Finish(uint8_t* output, size_t length) {
  if (failed_ || finished_ || length != kSHA256Length)
    return false;
  finished_ = true;
  return Succeeded(
      ::BCryptFinishHash(hash_, output, static_cast<ULONG>(length), 0));
}

}  // namespace crypto
