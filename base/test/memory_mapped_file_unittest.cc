#include "base/files/memory_mapped_file.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/test/temp_dir.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class MemoryMappedFileTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(temp_dir_.path().empty()); }

  // A file of |size| bytes whose content is never written (sparse where the
  // file system allows it).
  bool MakeFileOfSize(const FilePath& path, LONGLONG size) {
    HANDLE file = ::CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return false;
    LARGE_INTEGER distance;
    distance.QuadPart = size;
    const bool ok = ::SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) &&
                    ::SetEndOfFile(file);
    ::CloseHandle(file);
    return ok;
  }

  TempDir temp_dir_;
};

TEST_F(MemoryMappedFileTest, MapsTheWholeFile) {
  const FilePath path = temp_dir_.path().Append(L"program.exe");
  const std::string contents = std::string("MZ\0\x01", 4) + std::string(70000, 'p') + "VLM";
  ASSERT_TRUE(WriteTextFile(path, contents));
  MemoryMappedFile mapped;
  ASSERT_TRUE(mapped.Initialize(path));
  ASSERT_TRUE(mapped.IsValid());
  ASSERT_EQ(contents.size(), mapped.length());
  EXPECT_EQ(contents, std::string(reinterpret_cast<const char*>(mapped.data()),
                                  mapped.length()));
  // Initialising an already mapped object fails and keeps the mapping.
  EXPECT_FALSE(mapped.Initialize(path));
  EXPECT_EQ(contents.size(), mapped.length());
}

TEST_F(MemoryMappedFileTest, FileStaysReadableAndWritableByOthers) {
  const FilePath path = temp_dir_.path().Append(L"shared.bin");
  ASSERT_TRUE(WriteTextFile(path, "abc"));
  MemoryMappedFile mapped;
  ASSERT_TRUE(mapped.Initialize(path));
  EXPECT_EQ("abc", ReadTextFile(path));
}

TEST_F(MemoryMappedFileTest, RefusesEmptyAndMissingFiles) {
  const FilePath empty = temp_dir_.path().Append(L"empty.bin");
  ASSERT_TRUE(WriteTextFile(empty, ""));
  MemoryMappedFile mapped;
  EXPECT_FALSE(mapped.Initialize(empty));
  EXPECT_FALSE(mapped.IsValid());
  EXPECT_EQ(nullptr, mapped.data());
  EXPECT_EQ(0u, mapped.length());
  EXPECT_FALSE(mapped.Initialize(temp_dir_.path().Append(L"missing.bin")));
  // A failed attempt leaves the object usable.
  const FilePath good = temp_dir_.path().Append(L"good.bin");
  ASSERT_TRUE(WriteTextFile(good, "1"));
  EXPECT_TRUE(mapped.Initialize(good));
}

TEST_F(MemoryMappedFileTest, SizeLimitIsTwoGigabytesMinusOne) {
  const FilePath largest = temp_dir_.path().Append(L"largest.bin");
  const FilePath too_large = temp_dir_.path().Append(L"too_large.bin");
  if (!MakeFileOfSize(largest, 0x7FFFFFFF) ||
      !MakeFileOfSize(too_large, 0x80000000LL)) {
    GTEST_SKIP() << "cannot create 2 GB files here";
  }
  MemoryMappedFile refused;
  EXPECT_FALSE(refused.Initialize(too_large));
  EXPECT_FALSE(refused.IsValid());

  MemoryMappedFile mapped;
  ASSERT_TRUE(mapped.Initialize(largest));
  EXPECT_EQ(0x7FFFFFFFu, mapped.length());
  EXPECT_EQ(0, mapped.data()[0x7FFFFFFE]);
}

}  // namespace
}  // namespace base
