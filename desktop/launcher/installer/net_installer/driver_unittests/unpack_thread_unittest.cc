#include "desktop/launcher/installer/net_installer/unpack_thread.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "desktop/launcher/installer/net_installer/extraction_observer.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {

class UnpackThreadTest : public ::testing::Test {
 protected:
  using UnpackThread = NetInstaller::UnpackThread;

  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    scratch_ = base::FilePath(temp).Append(
        L"unpack_thread_test_" + std::to_wstring(::GetCurrentProcessId()));
    ASSERT_TRUE(base::DeleteFile(scratch_, true));
    ASSERT_TRUE(base::CreateDirectory(scratch_));
    archive_ = scratch_.Append(L"package.7z");
    destination_ = scratch_.Append(L"package");
  }
  void TearDown() override { (void)base::DeleteFile(scratch_, true); }

  // Copies a fixture archive to where the driver would put it.
  void UseFixture(const wchar_t* name) {
    wchar_t fixtures[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetEnvironmentVariableW(L"VULMO_VERIFICATION_FIXTURES",
                                            fixtures, MAX_PATH));
    ASSERT_TRUE(base::CopyFile(
        base::FilePath(fixtures).Append(L"archives").Append(name), archive_));
  }

  base::MessageLoop loop_{base::MessageLoop::TYPE_UI};
  base::FilePath scratch_;
  base::FilePath archive_;
  base::FilePath destination_;
};

namespace {

class CountingObserver : public ExtractionObserver {
 public:
  void SetProgressRange(uint32_t total) override { total_ = total; }
  void SetProgress(uint32_t position) override {
    last_ = position;
    ::SetEvent(first_item_.Get());
    ::Sleep(delay_ms_);
  }
  void set_delay_ms(DWORD delay_ms) { delay_ms_ = delay_ms; }
  HANDLE first_item() const { return first_item_.Get(); }
  uint32_t total() const { return total_; }
  uint32_t last() const { return last_; }

 private:
  base::win::ScopedHandle first_item_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<uint32_t> total_{0};
  std::atomic<uint32_t> last_{0};
  DWORD delay_ms_ = 0;
};

}  // namespace

TEST_F(UnpackThreadTest, ExtractsPostsCompletionToItsLoopThenDeletesTheArchive) {
  UseFixture(L"nested.7z");
  CountingObserver observer;
  base::RunLoop run_loop;
  DWORD completion_thread = 0;
  UnpackThread thread(archive_, destination_, [&] {
    completion_thread = ::GetCurrentThreadId();
    run_loop.Quit();
  }, &observer);
  ASSERT_TRUE(thread.Start());
  EXPECT_EQ(0u, thread.name().find("net_installer_unpack/"));
  run_loop.Run();
  thread.StopAndJoin();

  EXPECT_TRUE(thread.succeeded());
  EXPECT_EQ(::GetCurrentThreadId(), completion_thread);
  EXPECT_TRUE(base::PathExists(destination_.Append(L"a\\b\\c.txt")));
  EXPECT_TRUE(base::PathExists(destination_.Append(L"top.txt")));
  EXPECT_EQ(8u, observer.total());
  EXPECT_EQ(7u, observer.last());
  EXPECT_FALSE(base::PathExists(archive_));
}

TEST_F(UnpackThreadTest, FailureStillPostsAndDeletesTheArchive) {
  UseFixture(L"not_archive.7z");
  base::RunLoop run_loop;
  UnpackThread thread(archive_, destination_, [&] { run_loop.Quit(); }, nullptr);
  ASSERT_TRUE(thread.Start());
  run_loop.Run();
  thread.StopAndJoin();
  EXPECT_FALSE(thread.succeeded());
  EXPECT_FALSE(base::PathExists(archive_));
}

// Shutdown while extracting: the main thread joins without pumping, and the
// worker stops after the item it is on instead of finishing the archive.
TEST_F(UnpackThreadTest, StopAndJoinEndsALongExtractionEarly) {
  UseFixture(L"nested.7z");
  CountingObserver observer;
  observer.set_delay_ms(300);
  UnpackThread thread(archive_, destination_, [] {}, &observer);
  ASSERT_TRUE(thread.Start());
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(observer.first_item(), 30000));
  const ULONGLONG start = ::GetTickCount64();
  thread.StopAndJoin();
  // A bound against hanging, far above the one item it may still finish.
  EXPECT_LT(::GetTickCount64() - start, 20000u);
  EXPECT_FALSE(thread.succeeded());
  EXPECT_LT(observer.last(), 7u);
  EXPECT_FALSE(base::PathExists(destination_.Append(L"top.txt")));
}

}  // namespace net_installer
}  // namespace vulmo
