#include "desktop/launcher/installer/net_installer/win32_dialog_dispatcher.h"

#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/at_exit.h"
#include "base/log_stream.h"
#include "desktop/launcher/installer/net_installer/resources/resource_ids.h"
#include "desktop/launcher/installer/net_installer/ui_unittests/ui_test_support.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

constexpr uint32_t kDefault = base::MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT;

std::string PointerText(HWND hwnd) {
  base::LogStream stream;
  stream << static_cast<const void*>(hwnd);
  return stream.str();
}

HWND FakeHandle(uintptr_t value) {
  return reinterpret_cast<HWND>(value);
}

class Win32DialogDispatcherTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Leave no selection behind for the next case in this process.
    Win32DialogDispatcher* dispatcher = Win32DialogDispatcher::GetInstance();
    dispatcher->DeselectHwnd(dispatcher->selected_hwnd());
  }

  base::AtExitManager at_exit_;
};

TEST_F(Win32DialogDispatcherTest, OneInstanceEvenUnderConcurrentFirstUse) {
  std::vector<Win32DialogDispatcher*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] { seen[i] = Win32DialogDispatcher::GetInstance(); });
  for (std::thread& thread : threads)
    thread.join();
  ASSERT_NE(nullptr, seen[0]);
  EXPECT_EQ(std::set<Win32DialogDispatcher*>{seen[0]},
            std::set<Win32DialogDispatcher*>(seen.begin(), seen.end()));
  EXPECT_EQ(seen[0], Win32DialogDispatcher::GetInstance());
  EXPECT_EQ(nullptr, seen[0]->selected_hwnd());
}

TEST_F(Win32DialogDispatcherTest, TheAtExitManagerDeletesTheInstance) {
  {
    base::AtExitManager shadow;
    Win32DialogDispatcher::GetInstance()->SelectHwnd(FakeHandle(0x1234));
  }
  // The next use builds a fresh object: the old selection went with it.
  EXPECT_EQ(nullptr, Win32DialogDispatcher::GetInstance()->selected_hwnd());
}

TEST_F(Win32DialogDispatcherTest, SelectionAndItsLogLines) {
  LogCapture log;
  Win32DialogDispatcher* dispatcher = Win32DialogDispatcher::GetInstance();
  const HWND first = FakeHandle(0xA0010);
  const HWND second = FakeHandle(0xB0020);

  dispatcher->SelectHwnd(first);
  EXPECT_EQ(first, dispatcher->selected_hwnd());
  EXPECT_EQ(1, log.CountLines("Switching to hwnd " + PointerText(first)));
  EXPECT_EQ("0xa0010", PointerText(first));

  // A new selection replaces the old one without a further message.
  dispatcher->SelectHwnd(second);
  EXPECT_EQ(second, dispatcher->selected_hwnd());
  EXPECT_EQ(1, log.CountLines("Switching to hwnd " + PointerText(second)));
  EXPECT_EQ(0, log.CountLines("Switching away from hwnd " + PointerText(first)));

  // A late deactivation of another window keeps the selection.
  dispatcher->DeselectHwnd(first);
  EXPECT_EQ(second, dispatcher->selected_hwnd());
  EXPECT_EQ(1, log.CountLines("Switching away from hwnd " + PointerText(first)));
  EXPECT_EQ(1, log.CountLines("Another hwnd was already selected"));

  dispatcher->DeselectHwnd(second);
  EXPECT_EQ(nullptr, dispatcher->selected_hwnd());
  EXPECT_EQ(1, log.CountLines("Switching away from hwnd " + PointerText(second)));
  EXPECT_EQ(1, log.CountLines("Another hwnd was already selected"));
}

TEST_F(Win32DialogDispatcherTest, WithoutSelectionEveryMessageIsDispatchedNormally) {
  Win32DialogDispatcher* dispatcher = Win32DialogDispatcher::GetInstance();
  ASSERT_EQ(nullptr, dispatcher->selected_hwnd());
  for (UINT message : {WM_KEYDOWN, WM_CHAR, WM_TIMER, WM_USER, WM_NULL}) {
    MSG msg = {};
    msg.message = message;
    msg.wParam = VK_TAB;
    EXPECT_EQ(kDefault, dispatcher->Dispatch(msg)) << message;
  }
}

// A modeless dialog from the program's own template with two tab stops.
INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

TEST_F(Win32DialogDispatcherTest, TheSelectedDialogConsumesItsKeyboardMessages) {
  HWND dialog = ::CreateDialogParamW(::GetModuleHandleW(nullptr),
                                     MAKEINTRESOURCEW(IDD_MESSAGE_BOX), nullptr,
                                     &PlainDialogProc, 0);
  ASSERT_NE(nullptr, dialog) << "no display? error " << ::GetLastError();
  HWND button1 = ::GetDlgItem(dialog, IDC_BUTTON1);
  HWND button2 = ::GetDlgItem(dialog, IDC_BUTTON2);
  ::SetFocus(button1);
  PumpPendingMessages();
  ASSERT_EQ(button1, ::GetFocus());

  Win32DialogDispatcher* dispatcher = Win32DialogDispatcher::GetInstance();
  dispatcher->SelectHwnd(dialog);
  MSG tab = {};
  tab.hwnd = button1;
  tab.message = WM_KEYDOWN;
  tab.wParam = VK_TAB;
  // Consumed by IsDialogMessageW, which moved the focus itself: the pump
  // must not translate or dispatch it again.
  EXPECT_EQ(0u, dispatcher->Dispatch(tab));
  EXPECT_EQ(button2, ::GetFocus());

  // A message for a window outside the dialog is left to the pump.
  HWND other = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10,
                                 nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, other);
  MSG outside = tab;
  outside.hwnd = other;
  EXPECT_EQ(kDefault, dispatcher->Dispatch(outside));

  // Without a selection the same Tab is the pump's, and the focus stays.
  dispatcher->DeselectHwnd(dialog);
  tab.hwnd = button2;
  EXPECT_EQ(kDefault, dispatcher->Dispatch(tab));
  EXPECT_EQ(button2, ::GetFocus());

  ::DestroyWindow(other);
  ::DestroyWindow(dialog);
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
