#include "desktop/launcher/installer/net_installer/custom_message_box.h"

#include <memory>
#include <vector>

#include "base/at_exit.h"
#include "desktop/launcher/installer/net_installer/progress_dialog.h"
#include "desktop/launcher/installer/net_installer/resources/resource_ids.h"
#include "desktop/launcher/installer/net_installer/ui_unittests/ui_test_support.h"
#include "desktop/launcher/installer/net_installer/win32_dialog_dispatcher.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

// The box over a shown progress dialog, as the driver uses it.
class CustomMessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseLanguage(1033);
    ASSERT_TRUE(progress_.Create([] {}))
        << "no display? run under xvfb-run; error " << ::GetLastError();
    progress_.Show();
    PumpFor(50);
  }
  void TearDown() override {
    box_.reset();
    progress_.Destroy();
  }

  // The cancel confirmation (two buttons) or the error box (one). With
  // |activate| the test makes sure the box is the active window, as it is
  // for a user who types: other test processes may share the display.
  void ShowBox(bool two_buttons, bool activate = true) {
    box_ = std::make_unique<CustomMessageBox>();
    const bool shown =
        two_buttons
            ? box_->Show(progress_.hwnd(), IDS_CANCEL_TITLE, IDS_CANCEL_QUESTION,
                         IDS_CONTINUE_INSTALLING, IDS_ABORT_INSTALLATION, Recorder())
            : box_->Show(progress_.hwnd(), IDS_INSTALLER_TITLE, IDS_DOWNLOAD_FAILED,
                         0, IDS_OK, Recorder());
    ASSERT_TRUE(shown);
    ASSERT_NE(nullptr, box_->hwnd());
    PumpFor(50);
    if (activate) {
      ::SetForegroundWindow(box_->hwnd());
      ASSERT_TRUE(PumpUntil(
          [this] {
            return Win32DialogDispatcher::GetInstance()->selected_hwnd() ==
                   box_->hwnd();
          },
          5000));
    }
  }

  base::RepeatingCallback<void(int)> Recorder() {
    return [this](int result) { results_.push_back(result); };
  }

  HWND item(int id) const { return ::GetDlgItem(box_->hwnd(), id); }

  // Presses |key| as the user would: a key message for the focused window,
  // taken from the queue and routed through the dialog dispatcher.
  void PressKey(WPARAM key) {
    PumpPendingMessages();
    // Test processes running in parallel share the display and may take the
    // activation (and so the selection) away between two steps; the keys
    // are meant for the box.
    Win32DialogDispatcher::GetInstance()->SelectHwnd(box_->hwnd());
    HWND target = ::GetFocus();
    if (!target || !::IsChild(box_->hwnd(), target))
      target = box_->hwnd();
    ::PostMessageW(target, WM_KEYDOWN, key, 1);
    ::PostMessageW(target, WM_KEYUP, key, 0xC0000001);
    PumpFor(100);
  }

  base::AtExitManager at_exit_;
  LogCapture log_;
  ProgressDialog progress_;
  std::unique_ptr<CustomMessageBox> box_;
  std::vector<int> results_;
};

TEST_F(CustomMessageBoxTest, ShowsLocalizedTextsAndDisablesTheParent) {
  ASSERT_TRUE(::IsWindowEnabled(progress_.hwnd()));
  ShowBox(true);
  EXPECT_EQ(1, log_.CountLines("Displaying custom message box"));
  HWND window = box_->hwnd();
  EXPECT_TRUE(::IsWindowVisible(window));
  EXPECT_EQ(progress_.hwnd(), ::GetWindow(window, GW_OWNER));
  EXPECT_EQ(L"Installation in progress", GetText(window));
  EXPECT_EQ(L"Vulmo has not yet been fully installed. Are you sure that you "
            L"want to cancel the installation?",
            GetText(item(IDC_MESSAGE_LABEL)));
  EXPECT_EQ(L"Continue installing", GetText(item(IDC_BUTTON1)));
  EXPECT_EQ(L"Abort the installation", GetText(item(IDC_BUTTON2)));
  EXPECT_TRUE(::IsWindowVisible(item(IDC_BUTTON1)));
  EXPECT_EQ(MAKELONG(IDC_BUTTON1, DC_HASDEFID),
            static_cast<LONG>(::SendMessageW(window, DM_GETDEFID, 0, 0)));
  EXPECT_NE(0, ::SendMessageW(window, WM_GETICON, ICON_BIG, 0));

  // While the box exists the progress dialog takes no input.
  EXPECT_FALSE(::IsWindowEnabled(progress_.hwnd()));
  box_->Destroy();
  EXPECT_TRUE(::IsWindowEnabled(progress_.hwnd()));
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_EQ(nullptr, box_->hwnd());
  box_->Destroy();
  EXPECT_EQ(1, log_.CountLines("Destroying custom message box"));
  EXPECT_TRUE(results_.empty());
}

TEST_F(CustomMessageBoxTest, ErrorBoxHasOnlyTheSecondButton) {
  ShowBox(false);
  EXPECT_EQ(L"Vulmo installer", GetText(box_->hwnd()));
  EXPECT_EQ(L"Failed to download Vulmo.", GetText(item(IDC_MESSAGE_LABEL)));
  EXPECT_FALSE(::IsWindowVisible(item(IDC_BUTTON1)));
  EXPECT_TRUE(::IsWindowVisible(item(IDC_BUTTON2)));
  EXPECT_EQ(L"OK", GetText(item(IDC_BUTTON2)));
  EXPECT_EQ(MAKELONG(IDC_BUTTON2, DC_HASDEFID),
            static_cast<LONG>(::SendMessageW(box_->hwnd(), DM_GETDEFID, 0, 0)));
}

TEST_F(CustomMessageBoxTest, ButtonsAndCloseGiveTheirResults) {
  ShowBox(true);
  ::SendMessageW(item(IDC_BUTTON1), BM_CLICK, 0, 0);
  EXPECT_EQ(std::vector<int>{1}, results_);
  ::SendMessageW(item(IDC_BUTTON2), BM_CLICK, 0, 0);
  EXPECT_EQ((std::vector<int>{1, 2}), results_);
  ::SendMessageW(box_->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_BUTTON2, BN_CLICKED),
                 reinterpret_cast<LPARAM>(item(IDC_BUTTON2)));
  EXPECT_EQ((std::vector<int>{1, 2, 2}), results_);
  // The caption's close button; the cancel command that the platform
  // derives from it is not a second answer.
  ::SendMessageW(box_->hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
  PumpFor(100);
  EXPECT_EQ((std::vector<int>{1, 2, 2, 0}), results_);
  // Answering changes nothing: the receiver destroys the box.
  EXPECT_TRUE(::IsWindow(box_->hwnd()));
  EXPECT_FALSE(::IsWindowEnabled(progress_.hwnd()));
}

TEST_F(CustomMessageBoxTest, EnterPressesTheDefaultButtonAndEscapeNothing) {
  ShowBox(true);
  PressKey(VK_ESCAPE);
  EXPECT_TRUE(results_.empty());
  EXPECT_TRUE(::IsWindow(box_->hwnd()));
  PressKey(VK_RETURN);
  EXPECT_EQ(std::vector<int>{1}, results_);

  box_.reset();
  results_.clear();
  ShowBox(false);
  PressKey(VK_ESCAPE);
  EXPECT_TRUE(results_.empty());
  PressKey(VK_RETURN);
  EXPECT_EQ(std::vector<int>{2}, results_);
}

TEST_F(CustomMessageBoxTest, TheReceiverMayDeleteTheBoxFromTheCallback) {
  box_ = std::make_unique<CustomMessageBox>();
  HWND window = nullptr;
  ASSERT_TRUE(box_->Show(progress_.hwnd(), IDS_CANCEL_TITLE, IDS_CANCEL_QUESTION,
                         IDS_CONTINUE_INSTALLING, IDS_ABORT_INSTALLATION,
                         [this](int result) {
                           results_.push_back(result);
                           box_.reset();  // As the driver does.
                         }));
  window = box_->hwnd();
  ::SendMessageW(::GetDlgItem(window, IDC_BUTTON2), BM_CLICK, 0, 0);
  PumpFor(100);
  EXPECT_EQ(std::vector<int>{2}, results_);
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_TRUE(::IsWindowEnabled(progress_.hwnd()));
}

TEST_F(CustomMessageBoxTest, DestructorDestroysAndReenablesTheParent) {
  ShowBox(false);
  HWND window = box_->hwnd();
  box_.reset();
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_TRUE(::IsWindowEnabled(progress_.hwnd()));
  EXPECT_EQ(1, log_.CountLines("Destroying custom message box"));
}

TEST_F(CustomMessageBoxTest, WithoutParent) {
  CustomMessageBox box;
  ASSERT_TRUE(box.Show(nullptr, IDS_INSTALLER_TITLE, IDS_EXTRACT_FAILED, 0, IDS_OK,
                       Recorder()));
  EXPECT_EQ(nullptr, ::GetWindow(box.hwnd(), GW_OWNER));
  EXPECT_EQ(L"Failed to extract Vulmo.", GetText(::GetDlgItem(box.hwnd(), IDC_MESSAGE_LABEL)));
  box.Destroy();
  EXPECT_TRUE(::IsWindowEnabled(progress_.hwnd()));
}

TEST_F(CustomMessageBoxTest, AFailedShowKeepsTheParentEnabled) {
  // A parent that no longer exists makes the creation fail.
  HWND gone = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10,
                                nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, gone);
  ::DestroyWindow(gone);
  CustomMessageBox box;
  EXPECT_FALSE(box.Show(gone, IDS_INSTALLER_TITLE, IDS_DOWNLOAD_FAILED, 0, IDS_OK,
                        Recorder()));
  EXPECT_EQ(nullptr, box.hwnd());
  EXPECT_EQ(1, log_.CountLines("Failed to display custom message box"));
  EXPECT_TRUE(::IsWindowEnabled(progress_.hwnd()));
  box.Destroy();
  EXPECT_EQ(0, log_.CountLines("Destroying custom message box"));
}

// A second Show on the same object (the driver never does that) leaves the
// first window alive; that window's late messages no longer reach the box.
TEST_F(CustomMessageBoxTest, AReplacedWindowNoLongerReachesTheBox) {
  ShowBox(true, /*activate=*/false);
  HWND first = box_->hwnd();
  ASSERT_TRUE(box_->Show(progress_.hwnd(), IDS_INSTALLER_TITLE, IDS_DOWNLOAD_FAILED,
                         0, IDS_OK, Recorder()));
  ASSERT_NE(first, box_->hwnd());
  ::SendMessageW(first, WM_CLOSE, 0, 0);
  ::SendMessageW(::GetDlgItem(first, IDC_BUTTON1), BM_CLICK, 0, 0);
  EXPECT_TRUE(results_.empty());
  ::DestroyWindow(first);
}

// An owner destroyed first takes the box's window with it: the box forgets
// the window, so that its Destroy touches neither that nor the owner.
TEST_F(CustomMessageBoxTest, AWindowDestroyedWithItsOwnerIsForgotten) {
  ShowBox(false, /*activate=*/false);
  HWND window = box_->hwnd();
  progress_.Destroy();
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_EQ(nullptr, box_->hwnd());
  box_.reset();
  EXPECT_EQ(0, log_.CountLines("Destroying custom message box"));
}

TEST_F(CustomMessageBoxTest, DispatcherSelectionFollowsActivation) {
  Win32DialogDispatcher* dispatcher = Win32DialogDispatcher::GetInstance();
  ::SetForegroundWindow(progress_.hwnd());
  ASSERT_TRUE(PumpUntil([&] { return dispatcher->selected_hwnd() == progress_.hwnd(); },
                        5000));
  ShowBox(true, /*activate=*/false);
  EXPECT_TRUE(PumpUntil([&] { return dispatcher->selected_hwnd() == box_->hwnd(); },
                        5000));
  box_->Destroy();
  // Re-enabled before the box went, the progress dialog is active again.
  EXPECT_TRUE(PumpUntil([&] { return dispatcher->selected_hwnd() == progress_.hwnd(); },
                        5000));
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
