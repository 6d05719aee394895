// Incremental SHA-256 over the platform's cryptography provider (CNG).
//
//   std::unique_ptr<crypto::SecureHash> hash =
//       crypto::SecureHash::Create(crypto::SecureHash::SHA256);
//   uint8_t digest[crypto::kSHA256Length];
//   if (hash && hash->Update(data, size) &&
//       hash->Finish(digest, sizeof(digest))) {
//     ...
//   }
//
// One object hashes one message; it is not thread-safe.
#ifndef CRYPTO_SECURE_HASH_H_
#define CRYPTO_SECURE_HASH_H_

#include <cstddef>
#include <cstdint>
#include <memory>

namespace crypto {

constexpr size_t kSHA256Length = 32;

class SecureHash {
 public:
  enum Algorithm { SHA256 };

  // Null when the provider cannot create the hash object.
  static std::unique_ptr<SecureHash> Create(Algorithm algorithm);

  SecureHash(const SecureHash&) = delete;
  SecureHash& operator=(const SecureHash&) = delete;
  ~SecureHash();

  // Adds |length| bytes; any length (inputs above 4 GiB are fed in pieces).
  [[nodiscard]] bool Update(const void* input, size_t length);

  // Writes the digest into |output|, which must hold GetHashLength() bytes.
  // The object cannot be used afterwards.
  [[nodiscard]] bool Finish(uint8_t* output, size_t length);

  size_t GetHashLength() const { return kSHA256Length; }

 private:
  // Both are CNG handles (BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE), kept as
  // void* so that <bcrypt.h> stays out of this header.
  SecureHash(void* algorithm, void* hash, std::unique_ptr<uint8_t[]> object);

  void* algorithm_;
  void* hash_;
  // The hash object's working memory, owned by us and used by CNG until the
  // hash handle is destroyed.
  std::unique_ptr<uint8_t[]> hash_object_;
  bool failed_ = false;
  bool finished_ = false;
};

}  // namespace crypto

#endif  // CRYPTO_SECURE_HASH_H_
