#include "desktop/launcher/installer/net_installer/progress_dialog.h"

#include <commctrl.h>

#include <atomic>

#include "base/at_exit.h"
#include "desktop/launcher/installer/net_installer/resources/resource_ids.h"
#include "desktop/launcher/installer/net_installer/ui_unittests/ui_test_support.h"
#include "desktop/launcher/installer/net_installer/win32_dialog_dispatcher.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

class ProgressDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { UseLanguage(1033); }
  // The object never destroys its window by itself.
  void TearDown() override { dialog_.Destroy(); }

  // Creates the dialog; the close callback counts its runs.
  void CreateProgressDialog() {
    ASSERT_TRUE(dialog_.Create([this] { ++close_requests_; }))
        << "no display? run under xvfb-run; error " << ::GetLastError();
    ASSERT_NE(nullptr, dialog_.hwnd());
  }

  HWND bar() const { return ::GetDlgItem(dialog_.hwnd(), IDC_PROGRESS_BAR); }
  HWND label() const { return ::GetDlgItem(dialog_.hwnd(), IDC_PROGRESS_LABEL); }
  bool IsMarquee() const {
    return (::GetWindowLongW(bar(), GWL_STYLE) & PBS_MARQUEE) != 0;
  }
  int RangeHigh() const {
    return static_cast<int>(::SendMessageW(bar(), PBM_GETRANGE, FALSE, 0));
  }
  int RangeLow() const {
    return static_cast<int>(::SendMessageW(bar(), PBM_GETRANGE, TRUE, 0));
  }
  int Position() const { return static_cast<int>(::SendMessageW(bar(), PBM_GETPOS, 0, 0)); }

  base::AtExitManager at_exit_;
  LogCapture log_;
  ProgressDialog dialog_;
  int close_requests_ = 0;
};

TEST_F(ProgressDialogTest, CreatesAHiddenLocalizedDialogWithIcon) {
  CreateProgressDialog();
  EXPECT_EQ(1, log_.CountLines("Displaying progress dialog"));
  HWND window = dialog_.hwnd();
  EXPECT_FALSE(::IsWindowVisible(window));
  EXPECT_EQ(L"Vulmo installer", GetText(window));
  EXPECT_EQ(L"Downloading Vulmo...", GetText(label()));
  // One icon, set as both the big and the small one.
  const LRESULT big = ::SendMessageW(window, WM_GETICON, ICON_BIG, 0);
  EXPECT_NE(0, big);
  EXPECT_EQ(big, ::SendMessageW(window, WM_GETICON, ICON_SMALL, 0));

  dialog_.Show();
  EXPECT_TRUE(::IsWindowVisible(window));
  dialog_.SetLabel(IDS_EXTRACTING);
  EXPECT_EQ(L"Extracting Vulmo...", GetText(label()));
  dialog_.SetLabel(IDS_DOWNLOADING_PARTNER_CONTENT);
  EXPECT_EQ(L"Downloading partner content...", GetText(label()));
  dialog_.Destroy();
}

TEST_F(ProgressDialogTest, TextsFollowTheThreadLanguage) {
  // (1024, Filipino, cannot be chosen this way: to SetThreadLocale the
  // identifier 0x0400 means "the user's default locale".)
  for (LANGID language : {1031, 1041, 1025, 1049, 1091, 2057}) {
    UseLanguage(language);
    ProgressDialog dialog;
    ASSERT_TRUE(dialog.Create([] {}));
    const std::wstring title = ReadTableString(IDS_INSTALLER_TITLE, language);
    ASSERT_FALSE(title.empty());
    EXPECT_EQ(title, GetText(dialog.hwnd())) << language;
    EXPECT_EQ(ReadTableString(IDS_DOWNLOADING, language),
              GetText(::GetDlgItem(dialog.hwnd(), IDC_PROGRESS_LABEL)))
        << language;
    dialog.SetLabel(IDS_EXTRACTING);
    EXPECT_EQ(ReadTableString(IDS_EXTRACTING, language),
              GetText(::GetDlgItem(dialog.hwnd(), IDC_PROGRESS_LABEL)))
        << language;
    dialog.Destroy();
  }
}

TEST_F(ProgressDialogTest, ZeroTotalSwitchesToMarqueeAndBack) {
  CreateProgressDialog();
  EXPECT_FALSE(IsMarquee());
  dialog_.SetProgressRange(1000);
  dialog_.SetProgress(250);
  EXPECT_FALSE(IsMarquee());
  EXPECT_EQ(0, RangeLow());
  EXPECT_EQ(1000, RangeHigh());
  EXPECT_EQ(250, Position());

  dialog_.SetProgressRange(0);
  EXPECT_TRUE(IsMarquee());

  dialog_.SetProgressRange(40);
  EXPECT_FALSE(IsMarquee());
  EXPECT_EQ(0, RangeLow());
  EXPECT_EQ(40, RangeHigh());
  dialog_.SetProgress(39);
  EXPECT_EQ(39, Position());
  // The smooth style of the template is kept across the switches.
  EXPECT_NE(0, ::GetWindowLongW(bar(), GWL_STYLE) & PBS_SMOOTH);
}

// A download reports every 1 KiB; the bar moves only by steps that can show
// (1/1024 of the range), always reaches the end, and follows a restart.
TEST_F(ProgressDialogTest, ByteProgressMovesTheBarOnlyByVisibleSteps) {
  CreateProgressDialog();
  constexpr uint32_t kTotal = 128 * 1024 * 1024;
  constexpr uint32_t kVisibleStep = kTotal / 1024;
  dialog_.SetProgressRange(kTotal);

  int moves = 0;
  int last = Position();
  for (uint32_t bytes = 1024; bytes <= kTotal; bytes += 1024) {
    dialog_.SetProgress(bytes);
    const int now = Position();
    if (now != last) {
      EXPECT_GE(static_cast<uint32_t>(now - last), bytes == kTotal ? 1u : kVisibleStep);
      ++moves;
    }
    last = now;
  }
  EXPECT_EQ(static_cast<int>(kTotal), Position());
  EXPECT_LE(moves, 1024);
  EXPECT_GE(moves, 1000);

  dialog_.SetProgress(kTotal);  // Already there: nothing to do.
  EXPECT_EQ(static_cast<int>(kTotal), Position());
  dialog_.SetProgress(2048);  // The download started again.
  EXPECT_EQ(2048, Position());
  dialog_.SetProgress(2048 + kVisibleStep - 1);
  EXPECT_EQ(2048, Position());
  dialog_.SetProgress(2048 + kVisibleStep);
  EXPECT_EQ(static_cast<int>(2048 + kVisibleStep), Position());

  // A small range moves with every unit.
  dialog_.SetProgressRange(40);
  dialog_.SetProgress(1);
  EXPECT_EQ(1, Position());
}

TEST_F(ProgressDialogTest, CloseRequestsRunTheCallbackAndKeepTheWindow) {
  CreateProgressDialog();
  dialog_.Show();
  HWND window = dialog_.hwnd();
  // The caption's close button arrives as SC_CLOSE, which becomes WM_CLOSE.
  ::SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  PumpFor(100);
  EXPECT_EQ(1, close_requests_);
  EXPECT_TRUE(::IsWindow(window));
  EXPECT_TRUE(::IsWindowVisible(window));
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(PumpUntil([this] { return close_requests_ == 2; }, 5000));
  PumpFor(100);
  EXPECT_EQ(2, close_requests_);
  EXPECT_TRUE(::IsWindow(window));
  EXPECT_EQ(window, dialog_.hwnd());
}

TEST_F(ProgressDialogTest, DestroyIsLoggedOnceAndLaterCallsDoNothing) {
  CreateProgressDialog();
  HWND window = dialog_.hwnd();
  dialog_.Destroy();
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_EQ(nullptr, dialog_.hwnd());
  dialog_.Destroy();
  EXPECT_EQ(1, log_.CountLines("Destroying progress dialog"));

  dialog_.SetProgressRange(0);
  dialog_.SetProgress(5);
  dialog_.SetLabel(IDS_EXTRACTING);
  dialog_.Show();
  EXPECT_EQ(nullptr, dialog_.hwnd());
}

TEST_F(ProgressDialogTest, CallsBeforeCreateDoNothing) {
  ProgressDialog dialog;
  dialog.SetProgressRange(10);
  dialog.SetProgress(5);
  dialog.SetLabel(IDS_EXTRACTING);
  dialog.Show();
  dialog.Destroy();
  EXPECT_EQ(nullptr, dialog.hwnd());
  EXPECT_EQ(0, log_.CountLines("Destroying progress dialog"));
}

TEST_F(ProgressDialogTest, ActivationSelectsTheDialogInTheDispatcher) {
  CreateProgressDialog();
  HWND window = dialog_.hwnd();
  Win32DialogDispatcher* dispatcher = Win32DialogDispatcher::GetInstance();
  ::SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_EQ(window, dispatcher->selected_hwnd());
  // A minimized activation is still an activation (the whole wParam counts).
  ::SendMessageW(window, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 1), 0);
  EXPECT_EQ(window, dispatcher->selected_hwnd());
  ::SendMessageW(window, WM_ACTIVATE, WA_INACTIVE, 0);
  EXPECT_EQ(nullptr, dispatcher->selected_hwnd());

  // Shown, the platform activates it.
  dialog_.Show();
  ::SetForegroundWindow(window);
  EXPECT_TRUE(PumpUntil([&] { return dispatcher->selected_hwnd() == window; }, 5000));
  dialog_.Destroy();
  EXPECT_EQ(nullptr, dispatcher->selected_hwnd());
}

constexpr uint32_t kWorkerItems = 300;

struct WorkerProgress {
  ProgressDialog* dialog;
  std::atomic<bool> finished{false};
};

// A named function: a lambda converts only to the default calling
// convention, and 32-bit thread procedures are stdcall.
DWORD WINAPI ReportProgressLikeTheWorker(void* param) {
  WorkerProgress* work = static_cast<WorkerProgress*>(param);
  work->dialog->SetProgressRange(0);
  work->dialog->SetProgressRange(kWorkerItems);
  for (uint32_t i = 0; i < kWorkerItems; ++i)
    work->dialog->SetProgress(i);
  work->finished = true;
  return 0;
}

// The extraction worker reports progress directly while the UI thread may be
// blocked waiting for that very worker (shutdown joins it).
TEST_F(ProgressDialogTest, WorkerUpdatesNeverWaitForABlockedUiThread) {
  CreateProgressDialog();
  dialog_.Show();
  constexpr uint32_t kItems = kWorkerItems;
  WorkerProgress work{&dialog_};
  // A plain Win32 thread, so that the UI thread can wait on its handle.
  HANDLE worker = ::CreateThread(nullptr, 0, ReportProgressLikeTheWorker,
                                 &work, 0, nullptr);
  ASSERT_NE(nullptr, worker);
  // Not pumping: the worker must finish on its own.
  const DWORD wait = ::WaitForSingleObject(worker, 10000);
  EXPECT_EQ(WAIT_OBJECT_0, wait);
  if (wait != WAIT_OBJECT_0) {
    // Let it finish so the test can end.
    PumpUntil([&] { return work.finished.load(); }, 10000);
    ::WaitForSingleObject(worker, 10000);
  }
  ::CloseHandle(worker);
  ASSERT_TRUE(work.finished);

  // The updates reach the bar in their order once the UI thread pumps.
  PumpFor(200);
  EXPECT_FALSE(IsMarquee());
  EXPECT_EQ(static_cast<int>(kItems), RangeHigh());
  EXPECT_EQ(static_cast<int>(kItems - 1), Position());
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
