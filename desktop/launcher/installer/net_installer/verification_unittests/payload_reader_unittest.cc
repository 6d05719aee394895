#include "desktop/launcher/installer/net_installer/payload_reader.h"

#include <string>

#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/net_installer/signature_verifier.h"
#include "desktop/launcher/installer/net_installer/verification_unittests/test_support.h"
#include "gtest/gtest.h"
#include "tools/payload_stamper/payload_stamper.h"

namespace vulmo {
namespace net_installer {
namespace {

std::string Le32(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

uint32_t ReadLe32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class PayloadReaderTest : public VerificationTest {};

TEST_F(PayloadReaderTest, FramingCases) {
  const std::string kInvalidStart = "Could not find a valid starting position";
  const std::string kBadMagic = "Payload data invalid";
  const std::string kNoMapping = "Could not initialize memory mapped file";
  // A file of 20 bytes whose length field says F - 6 = 14, one too many.
  const std::string one_too_long = "VLM" + std::string(13, 'x') + Le32(14);
  // The largest valid length, F - 7, with "VLM" at the very start.
  const std::string largest = "VLM" + std::string(13, 'y') + Le32(13);
  struct {
    const char* label;
    std::string content;
    bool exists;
    bool result;
    std::string payload;
    std::string error;
  } const kCases[] = {
      {"five bytes", "header...VLMhello" + Le32(5), true, true, "hello", ""},
      {"padded text", "VLM" + std::string("abc  ") + Le32(5), true, true,
       "abc  ", ""},
      {"binary bytes kept", "VLM" + std::string("a\0\xff", 3) + Le32(3), true,
       true, std::string("a\0\xff", 3), ""},
      {"empty payload", "xxVLM" + Le32(0), true, true, "", ""},
      {"largest length", largest, true, true, std::string(13, 'y'), ""},
      {"one too long", one_too_long, true, false, "", kInvalidStart},
      {"huge length", "VLMabc" + Le32(0xFFFFFFFF), true, false, "",
       kInvalidStart},
      {"six bytes", "VLM" + std::string("\0\0\0", 3), true, false, "",
       kInvalidStart},
      {"seven bytes, empty payload", "VLM" + Le32(0), true, true, "", ""},
      {"wrong magic", "xxVLNhello" + Le32(5), true, false, "", kBadMagic},
      {"magic one byte off", "VLMxhello" + Le32(4), true, false, "", kBadMagic},
      {"no block", std::string(64, 'z'), true, false, "", kInvalidStart},
      {"empty file", "", true, false, "", kNoMapping},
      {"missing file", "", false, false, "", kNoMapping},
  };
  int index = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const std::wstring path = Scratch(L"case" + std::to_wstring(index++));
    if (c.exists) {
      ASSERT_TRUE(WriteFileBytes(path, c.content));
    }
    const size_t errors_before = Count(LogText(), ":ERROR:");
    PayloadReader reader(path);
    EXPECT_EQ(c.result, reader.ReadPayload());
    EXPECT_EQ(c.payload, reader.GetPayload());
    const std::string log = LogText();
    if (c.error.empty()) {
      EXPECT_EQ(errors_before, Count(log, ":ERROR:")) << log;
    } else {
      EXPECT_EQ(errors_before + 1, Count(log, ":ERROR:")) << log;
      EXPECT_NE(std::string::npos, log.find(":ERROR:payload_reader.cc(",
                                            log.rfind("Reading Payload")))
          << log;
      EXPECT_NE(std::string::npos, log.find("] " + c.error + "\n")) << log;
      EXPECT_FALSE(reader.WritePayloadToFile(path + L".out"));
      EXPECT_FALSE(FileExists(path + L".out"));
    }
  }
  EXPECT_EQ(static_cast<size_t>(index),
            Count(LogText(), ":INFO:payload_reader.cc("));
}

TEST_F(PayloadReaderTest, SecondReadReturnsTrueWithoutLogging) {
  const std::wstring path = Scratch(L"program.exe");
  ASSERT_TRUE(WriteFileBytes(path, "MZ...VLMtracking" + Le32(8)));
  PayloadReader reader(path);
  ASSERT_TRUE(reader.ReadPayload());
  EXPECT_TRUE(reader.ReadPayload());
  EXPECT_EQ("tracking", reader.GetPayload());
  EXPECT_EQ(1u, Count(LogText(), "] Reading Payload\n")) << LogText();
}

TEST_F(PayloadReaderTest, WritesThePayloadToAFile) {
  const std::wstring path = Scratch(L"program.exe");
  ASSERT_TRUE(WriteFileBytes(path, "MZ...VLMtracking data" + Le32(13)));
  const std::wstring target = Scratch(L"server_tracking_data");
  ASSERT_TRUE(WriteFileBytes(target, "an older and longer file to replace"));

  PayloadReader reader(path);
  EXPECT_FALSE(reader.WritePayloadToFile(target));  // Not read yet.
  EXPECT_EQ("an older and longer file to replace", ReadFileBytes(target));
  EXPECT_EQ(std::string::npos, LogText().find("Writing payload"));

  ASSERT_TRUE(reader.ReadPayload());
  EXPECT_TRUE(reader.WritePayloadToFile(target));
  EXPECT_EQ("tracking data", ReadFileBytes(target));
  EXPECT_NE(std::string::npos, LogText().find("] Writing payload to file" +
                                              base::UTF16ToUTF8(target) + "\n"))
      << LogText();

  EXPECT_FALSE(reader.WritePayloadToFile(Scratch(L"missing\\file")));

  // An empty payload makes an empty file.
  const std::wstring empty_program = Scratch(L"empty_payload.exe");
  ASSERT_TRUE(WriteFileBytes(empty_program, "MZ.VLM" + Le32(0)));
  PayloadReader empty_reader(empty_program);
  ASSERT_TRUE(empty_reader.ReadPayload());
  const std::wstring empty_target = Scratch(L"empty_target");
  EXPECT_TRUE(empty_reader.WritePayloadToFile(empty_target));
  EXPECT_TRUE(FileExists(empty_target));
  EXPECT_EQ("", ReadFileBytes(empty_target));
}

// --- The maker's stamper, with the reader and the signature check ---------

payload_stamper::Bytes ToBytes(const std::string& text) {
  return payload_stamper::Bytes(text.begin(), text.end());
}

std::string FromBytes(const payload_stamper::Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Offsets of the security data directory entry and the certificate table.
struct CertificateTable {
  size_t entry = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
};

CertificateTable FindTable(const std::string& image) {
  const uint32_t pe = ReadLe32(image, 0x3C);
  const uint16_t magic = static_cast<uint16_t>(ReadLe32(image, pe + 24));
  CertificateTable table;
  table.entry = pe + 24 + (magic == 0x20B ? 112 : 96) + 4 * 8;
  table.offset = ReadLe32(image, table.entry);
  table.size = ReadLe32(image, table.entry + 4);
  return table;
}

TEST_F(PayloadReaderTest, StampedProgramKeepsItsSignatureAndCarriesThePayload) {
  const std::string signed_image =
      ReadFileBytes(FixturePath(L"signed/signed_vulmo.exe"));
  ASSERT_FALSE(signed_image.empty());
  // Like the service's payload: 1,948 characters of Base64 text.
  std::string base64;
  for (int i = 0; i < 1948; ++i)
    base64 +=
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[i %
                                                                           64];

  payload_stamper::Bytes stamped;
  std::string error;
  ASSERT_TRUE(
      payload_stamper::Stamp(ToBytes(signed_image), base64, &stamped, &error))
      << error;
  const std::string image = FromBytes(stamped);
  const std::wstring path = Scratch(L"stamped.exe");
  ASSERT_TRUE(WriteFileBytes(path, image));

  // The table is the end of the file, a multiple of 8, and both declared
  // lengths cover the block, which ends the file; 5 spaces of padding.
  const CertificateTable table = FindTable(image);
  EXPECT_EQ(image.size(), static_cast<size_t>(table.offset) + table.size);
  EXPECT_EQ(0u, table.size % 8);
  EXPECT_EQ(table.size, ReadLe32(image, table.offset));
  EXPECT_EQ(1953u, ReadLe32(image, image.size() - 4));
  EXPECT_EQ(0u, image.compare(image.size() - 1960, 3, "VLM"));
  // The signature itself and what precedes it are untouched.
  const CertificateTable original = FindTable(signed_image);
  EXPECT_EQ(original.offset, table.offset);
  const size_t signature_end = original.offset + original.size;
  EXPECT_EQ(0, image.compare(table.offset + 8, signature_end - table.offset - 8,
                             signed_image, table.offset + 8,
                             signature_end - table.offset - 8));
  for (size_t i = signature_end; i < image.size() - 1960; ++i)
    EXPECT_EQ('\0', image[i]) << "padding byte " << i;

  PayloadReader reader(path);
  ASSERT_TRUE(reader.ReadPayload());
  EXPECT_EQ(base64 + "     ", reader.GetPayload());
  EXPECT_TRUE(VerifySignature(path));

  // Stamping again replaces the block instead of stacking a second one.
  payload_stamper::Bytes restamped;
  ASSERT_TRUE(payload_stamper::Stamp(stamped, "short", &restamped, &error))
      << error;
  const std::wstring again = Scratch(L"restamped.exe");
  ASSERT_TRUE(WriteFileBytes(again, FromBytes(restamped)));
  EXPECT_EQ(signature_end + 16, restamped.size());  // "VLM" + 9 + 4.
  PayloadReader second(again);
  ASSERT_TRUE(second.ReadPayload());
  EXPECT_EQ("short    ", second.GetPayload());
  EXPECT_TRUE(VerifySignature(again));

  // The stamper on the build machine wrote the same format.
  PayloadReader fixture(FixturePath(L"signed/stamped.exe"));
  ASSERT_TRUE(fixture.ReadPayload());
  EXPECT_EQ("fixture payload  ", fixture.GetPayload());
}

TEST_F(PayloadReaderTest, StamperRefusesWhatItCannotStampSafely) {
  const std::string signed_image =
      ReadFileBytes(FixturePath(L"signed/signed_vulmo.exe"));
  const std::string unsigned_image =
      ReadFileBytes(FixturePath(L"signed/unsigned.exe"));
  ASSERT_FALSE(signed_image.empty());
  ASSERT_FALSE(unsigned_image.empty());
  std::string wrong_type = signed_image;
  wrong_type[FindTable(signed_image).offset + 6] = 1;  // X.509, not PKCS #7.

  struct {
    const char* label;
    std::string image;
    std::string payload;
  } const kCases[] = {
      {"unsigned", unsigned_image, "payload"},
      {"zero byte in payload", signed_image, std::string("pay\0load", 8)},
      {"data after the table", signed_image + "appended", "payload"},
      {"unexpected entry type", wrong_type, "payload"},
      {"not a program", "just some text, not a program at all", "payload"},
  };
  for (const auto& c : kCases) {
    payload_stamper::Bytes out;
    std::string error;
    EXPECT_FALSE(
        payload_stamper::Stamp(ToBytes(c.image), c.payload, &out, &error))
        << c.label;
    EXPECT_FALSE(error.empty()) << c.label;
    EXPECT_TRUE(out.empty()) << c.label;
  }
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
