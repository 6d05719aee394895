#include "base/files/path_service.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/test/temp_dir.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(PathServiceTest, TempDirectory) {
  FilePath from_service;
  ASSERT_TRUE(PathService::Get(DIR_TEMP, &from_service));
  FilePath expected;
  ASSERT_TRUE(GetTempDir(&expected));
  EXPECT_EQ(expected, from_service);
  EXPECT_FALSE(FilePath::IsSeparator(from_service.value().back()));
  EXPECT_TRUE(DirectoryExists(from_service));
}

TEST(PathServiceTest, ProgramFile) {
  FilePath exe;
  ASSERT_TRUE(PathService::Get(FILE_EXE, &exe));
  EXPECT_TRUE(exe.IsAbsolute());
  EXPECT_EQ(L"base_unittests.exe", exe.BaseName().value());
  EXPECT_TRUE(PathExists(exe));
  EXPECT_FALSE(DirectoryExists(exe));
}

TEST(PathServiceTest, CurrentDirectoryIsNotCached) {
  TempDir temp_dir;
  ASSERT_FALSE(temp_dir.path().empty());
  FilePath before;
  ASSERT_TRUE(PathService::Get(DIR_CURRENT, &before));
  ASSERT_TRUE(::SetCurrentDirectoryW(temp_dir.path().value().c_str()));
  FilePath during;
  const bool got = PathService::Get(DIR_CURRENT, &during);
  ::SetCurrentDirectoryW(before.value().c_str());
  ASSERT_TRUE(got);
  // The system may add a trailing separator or differ in case; compare
  // what matters.
  FilePath expected = temp_dir.path();
  during.StripTrailingSeparators();
  EXPECT_EQ(0, ::lstrcmpiW(expected.value().c_str(), during.value().c_str()))
      << during.value();
}

TEST(PathServiceTest, UnknownKeyFails) {
  FilePath path(L"unchanged");
  EXPECT_FALSE(PathService::Get(12345, &path));
  EXPECT_EQ(L"unchanged", path.value());
}

// Keys of the test providers, outside the built-in range.
constexpr int kRelativeKey = 1001;
constexpr int kFailingKey = 1002;
std::atomic<int> g_provider_calls{0};

bool TestProvider(int key, FilePath* result) {
  ++g_provider_calls;
  if (key == kRelativeKey) {
    *result = FilePath(L"C:\\windows\\system32\\..\\vulmo");
    return true;
  }
  return false;
}

TEST(PathServiceTest, ProviderResultIsMadeAbsoluteAndCached) {
  PathService::RegisterProvider(&TestProvider, 1000, 1100);
  FilePath path;
  ASSERT_TRUE(PathService::Get(kRelativeKey, &path));
  EXPECT_EQ(0, ::lstrcmpiW(L"C:\\windows\\vulmo", path.value().c_str()))
      << path.value();
  const int calls = g_provider_calls;
  FilePath again;
  ASSERT_TRUE(PathService::Get(kRelativeKey, &again));
  EXPECT_EQ(path, again);
  EXPECT_EQ(calls, g_provider_calls);  // Answered from the cache.

  // A key the provider does not answer is asked again next time.
  EXPECT_FALSE(PathService::Get(kFailingKey, &path));
  EXPECT_FALSE(PathService::Get(kFailingKey, &path));
  EXPECT_EQ(calls + 2, g_provider_calls);
  // Built-in keys still come from the built-in provider.
  EXPECT_TRUE(PathService::Get(DIR_TEMP, &path));
}

}  // namespace
}  // namespace base
