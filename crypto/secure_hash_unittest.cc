#include "crypto/secure_hash.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "gtest/gtest.h"

namespace crypto {
namespace {

std::string ToHex(const uint8_t* bytes, size_t length) {
  std::string text;
  char pair[3];
  for (size_t i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof(pair), "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

// Feeds |message| in pieces of |piece| bytes (0: all at once).
std::string Sha256Hex(const std::string& message, size_t piece) {
  std::unique_ptr<SecureHash> hash = SecureHash::Create(SecureHash::SHA256);
  if (!hash)
    return "no hash object";
  size_t offset = 0;
  do {
    const size_t n =
        piece == 0 ? message.size() : std::min(piece, message.size() - offset);
    if (!hash->Update(message.data() + offset, n))
      return "update failed";
    offset += n;
  } while (offset < message.size());
  uint8_t digest[kSHA256Length];
  if (!hash->Finish(digest, sizeof(digest)))
    return "finish failed";
  return ToHex(digest, sizeof(digest));
}

// FIPS 180-4 example messages.
TEST(SecureHashTest, KnownVectorsWholeAndInPieces) {
  struct {
    std::string message;
    const char* digest;
  } const kCases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.message.substr(0, 16));
    EXPECT_EQ(c.digest, Sha256Hex(c.message, 0));
    EXPECT_EQ(c.digest, Sha256Hex(c.message, 7));
  }
}

TEST(SecureHashTest, RefusesUseAfterFinishAndWrongOutputSize) {
  std::unique_ptr<SecureHash> hash = SecureHash::Create(SecureHash::SHA256);
  ASSERT_TRUE(hash);
  EXPECT_EQ(kSHA256Length, hash->GetHashLength());
  uint8_t digest[kSHA256Length];
  EXPECT_FALSE(hash->Finish(digest, sizeof(digest) - 1));
  ASSERT_TRUE(hash->Finish(digest, sizeof(digest)));
  EXPECT_FALSE(hash->Update("x", 1));
  EXPECT_FALSE(hash->Finish(digest, sizeof(digest)));
}

}  // namespace
}  // namespace crypto
