#include "desktop/launcher/installer/net_installer/checksum_checker.h"

#include <string>

#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/net_installer/verification_unittests/test_support.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

// SHA-256 of "vulmo46" (checked with sha256sum): its first byte is 0x00 and
// it holds 0x01 and 0xb0 bytes, so dropped leading zeros or a wrong nibble
// order show.
constexpr char kLeadingZeroInput[] = "vulmo46";
constexpr char kLeadingZeroDigest[] =
    "00b79982b0d6dd1df5dec813df0001aa262ee334534efd6de86db3916db86af8";
constexpr char kAbcDigest[] =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'f')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

class ChecksumCheckerTest : public VerificationTest {};

TEST_F(ChecksumCheckerTest, ComparesExactLowercaseDigestText) {
  const std::wstring zero = Scratch(L"zero.bin");
  const std::wstring abc = Scratch(L"abc.bin");
  ASSERT_TRUE(WriteFileBytes(zero, kLeadingZeroInput));
  ASSERT_TRUE(WriteFileBytes(abc, "abc"));

  struct {
    const std::wstring& path;
    std::string expected;
    bool result;
  } const kCases[] = {
      {zero, kLeadingZeroDigest, true},
      {abc, kAbcDigest, true},
      {abc, kLeadingZeroDigest, false},
      // Leading zero dropped, as a "%x" per byte would print it.
      {zero, std::string(kLeadingZeroDigest + 1), false},
      {abc, Upper(kAbcDigest), false},
      {abc, "", false},
      {abc, std::string(kAbcDigest) + "\n", false},
      {abc, " " + std::string(kAbcDigest), false},
      {abc, std::string(kAbcDigest) + std::string(1, '\0'), false},
      {abc, std::string(kAbcDigest, 63), false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE("expected '" + c.expected + "'");
    EXPECT_EQ(c.result, VerifyChecksum(c.path, c.expected));
  }
  // A mismatch is the caller's to report.
  EXPECT_EQ(std::string::npos, LogText().find(":ERROR:"));
}

TEST_F(ChecksumCheckerTest, HashesAFileLargerThanOneReadBuffer) {
  // The digest of 1,000,000 'a' bytes is a FIPS 180-4 example.
  const std::wstring path = Scratch(L"million.bin");
  ASSERT_TRUE(WriteFileBytes(path, std::string(1000000, 'a')));
  EXPECT_TRUE(VerifyChecksum(
      path,
      "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"));
}

TEST_F(ChecksumCheckerTest, UnreadableFilesAreLoggedWithTheirPath) {
  const std::wstring empty = Scratch(L"empty.bin");
  const std::wstring missing = Scratch(L"missing.bin");
  const std::wstring directory = Scratch(L"a_directory");
  ASSERT_TRUE(WriteFileBytes(empty, ""));
  ASSERT_TRUE(::CreateDirectoryW(directory.c_str(), nullptr));

  // The empty input's digest must never be computed and matched.
  const char kEmptyDigest[] =
      "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  for (const std::wstring& path : {empty, missing, directory}) {
    EXPECT_FALSE(VerifyChecksum(path, kEmptyDigest));
    const std::string log = LogText();
    EXPECT_NE(std::string::npos, log.find(":ERROR:checksum_checker.cc("))
        << log;
    EXPECT_NE(std::string::npos,
              log.find("] Unable to read " + base::UTF16ToUTF8(path) + "\n"))
        << log;
  }
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
