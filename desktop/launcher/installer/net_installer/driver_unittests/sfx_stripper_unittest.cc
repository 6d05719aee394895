#include "desktop/launcher/installer/net_installer/sfx_stripper.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

const std::string kSignature("7z\xBC\xAF\x27\x1C", 6);
constexpr size_t kReadSize = 65530;  // One pass reads this much.

std::wstring TempPath(const wchar_t* name) {
  wchar_t directory[MAX_PATH];
  ::GetTempPathW(MAX_PATH, directory);
  return std::wstring(directory) + L"sfx_stripper_" +
         std::to_wstring(::GetCurrentProcessId()) + L"_" + name;
}

base::win::ScopedFileHandle OpenForWriting(const std::wstring& path) {
  return base::win::ScopedFileHandle(::CreateFileW(
      path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

base::win::ScopedFileHandle OpenForReading(const std::wstring& path) {
  return base::win::ScopedFileHandle(::CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
      nullptr));
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
  base::win::ScopedFileHandle file = OpenForWriting(path);
  ASSERT_TRUE(file.IsValid());
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file.Get(), bytes.data(),
                          static_cast<DWORD>(bytes.size()), &written, nullptr));
}

std::string ReadAll(const std::wstring& path) {
  std::string bytes;
  EXPECT_TRUE(base::ReadFileToString(base::FilePath(path), &bytes));
  return bytes;
}

class SfxStripperTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ::DeleteFileW(package_.c_str());
    ::DeleteFileW(archive_.c_str());
  }

  // Strips |package_bytes|; returns the result and the archive's content.
  SfxStripResult Strip(const std::string& package_bytes, std::string* archive) {
    WriteAll(package_, package_bytes);
    base::win::ScopedFileHandle in = OpenForReading(package_);
    SfxStripResult result;
    {
      base::win::ScopedFileHandle out = OpenForWriting(archive_);
      result = StripSfxHeader(in.Get(), out.Get());
    }
    *archive = ReadAll(archive_);
    return result;
  }

  const std::wstring package_ = TempPath(L"package.exe");
  const std::wstring archive_ = TempPath(L"package.7z");
};

std::string Filler(size_t size, char c = 'x') {
  return std::string(size, c);
}

TEST_F(SfxStripperTest, CopiesFromTheFirstSignatureOn) {
  const std::string archive_bytes = kSignature + "archive data" + Filler(100000, 'a');
  const struct {
    const char* name;
    std::string header;
  } kCases[] = {
      {"signature at byte 0", ""},
      {"after a header", "MZ header of the stub" + Filler(5000)},
      // Starts 3 bytes before the end of the first read: found in the next
      // pass through the carried bytes, which are written first.
      {"split across two reads", Filler(kReadSize - 3)},
      {"just inside the first read", Filler(kReadSize - 6)},
      {"exactly at the second read", Filler(kReadSize)},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    std::string archive;
    EXPECT_EQ(SfxStripResult::kStripped, Strip(test_case.header + archive_bytes, &archive));
    EXPECT_EQ(archive_bytes, archive);
  }
}

TEST_F(SfxStripperTest, OnlyTheFirstSignatureCounts) {
  const std::string archive_bytes =
      kSignature + "one" + kSignature + "two" + Filler(70000) + kSignature;
  std::string archive;
  EXPECT_EQ(SfxStripResult::kStripped, Strip("header" + archive_bytes, &archive));
  EXPECT_EQ(archive_bytes, archive);
}

TEST_F(SfxStripperTest, SignatureMissingOrOnlyInTheLastSixBytes) {
  const struct {
    const char* name;
    std::string package;
  } kCases[] = {
      {"empty file", ""},
      {"no signature", Filler(200000)},
      {"five of six bytes", Filler(1000) + kSignature.substr(0, 5) + Filler(10)},
      // The final read returns nothing, so the carried bytes are never
      // searched.
      {"signature as the last six bytes", Filler(1000) + kSignature},
      {"last six bytes after a full read", Filler(kReadSize) + kSignature},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    std::string archive;
    EXPECT_EQ(SfxStripResult::kSignatureNotFound, Strip(test_case.package, &archive));
    EXPECT_TRUE(archive.empty());
  }
}

TEST_F(SfxStripperTest, AFailedWriteIsReported) {
  WriteAll(package_, "header" + kSignature + Filler(1000));
  base::win::ScopedFileHandle in = OpenForReading(package_);
  WriteAll(archive_, "");
  // Opened for reading only: every write fails.
  base::win::ScopedFileHandle read_only = OpenForReading(archive_);
  EXPECT_EQ(SfxStripResult::kWriteFailed, StripSfxHeader(in.Get(), read_only.Get()));
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
