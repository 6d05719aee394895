#include "base/win/windows_version.h"

#include <windows.h>

#include <atomic>
#include <memory>

#include "base/threading/simple_thread.h"
#include "gtest/gtest.h"

namespace base {
namespace win {
namespace {

TEST(WindowsVersionTest, MajorMinorToVersion) {
  const struct {
    int major;
    int minor;
    Version expected;
  } kCases[] = {
      {4, 0, VERSION_PRE_XP},  {4, 90, VERSION_PRE_XP},
      {5, 0, VERSION_PRE_XP},  {5, 1, VERSION_XP},
      {5, 2, VERSION_SERVER_2003}, {5, 3, VERSION_SERVER_2003},
      {6, 0, VERSION_VISTA},   {6, 1, VERSION_WIN7},
      {6, 2, VERSION_WIN8},    {6, 3, VERSION_WIN8_1},
      {6, 4, VERSION_WIN8_1},  {10, 0, VERSION_WIN_LAST},
      {7, 0, VERSION_WIN_LAST},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(std::to_string(test.major) + "." + std::to_string(test.minor));
    EXPECT_EQ(test.expected, MajorMinorToVersion(test.major, test.minor));
  }
  // The codes are ordered for at-least comparisons.
  EXPECT_EQ(1, VERSION_XP);
  EXPECT_EQ(3, VERSION_VISTA);
  EXPECT_EQ(7, VERSION_WIN_LAST);
}

TEST(WindowsVersionTest, RecordDescribesThisSystem) {
  const OSInfo* info = OSInfo::GetInstance();
  OSVERSIONINFOEXW system = {};
  system.dwOSVersionInfoSize = sizeof(system);
  ASSERT_TRUE(::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&system)));
  EXPECT_EQ(static_cast<int>(system.dwMajorVersion), info->version_number().major);
  EXPECT_EQ(static_cast<int>(system.dwMinorVersion), info->version_number().minor);
  EXPECT_EQ(MajorMinorToVersion(info->version_number().major,
                                info->version_number().minor),
            GetVersion());
  EXPECT_GE(info->processors(), 1);
  EXPECT_GT(info->allocation_granularity(), 0u);
  EXPECT_EQ(OSInfo::X64_ARCHITECTURE, info->architecture());
  EXPECT_EQ(OSInfo::WOW64_DISABLED, info->wow64_status());  // 64-bit process.
}

std::atomic<const OSInfo*> g_seen[8];

class VersionThread : public SimpleThread {
 public:
  VersionThread(int index, HANDLE go)
      : SimpleThread("version"), index_(index), go_(go) {}
  ~VersionThread() override { Join(); }
  void Run() override {
    ::WaitForSingleObject(go_, 10000);
    g_seen[index_] = OSInfo::GetInstance();
  }

 private:
  const int index_;
  HANDLE go_;
};

TEST(WindowsVersionTest, ConcurrentFirstCallsShareOneRecord) {
  HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::unique_ptr<VersionThread> threads[8];
  for (int i = 0; i < 8; ++i) {
    threads[i] = std::make_unique<VersionThread>(i, go);
    ASSERT_TRUE(threads[i]->Start());
  }
  ::SetEvent(go);
  for (auto& thread : threads)
    thread->Join();
  ::CloseHandle(go);
  for (auto& seen : g_seen) {
    EXPECT_NE(nullptr, seen.load());
    EXPECT_EQ(g_seen[0].load(), seen.load());
  }
  EXPECT_EQ(g_seen[0].load(), OSInfo::GetInstance());
}

}  // namespace
}  // namespace win
}  // namespace base
