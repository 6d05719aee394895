#include "desktop/launcher/installer/net_installer/dialog_resources.h"

#include <memory>
#include <ostream>
#include <string>

#include "base/at_exit.h"
#include "desktop/launcher/installer/net_installer/custom_message_box.h"
#include "desktop/launcher/installer/net_installer/progress_dialog.h"
#include "desktop/launcher/installer/net_installer/resources/resource_ids.h"
#include "desktop/launcher/installer/net_installer/ui_unittests/ui_test_support.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

struct LayoutCase {
  uint32_t lcid;
  bool mirrored;
  const char* why;
};

constexpr LayoutCase kLayoutCases[] = {
    {1025, true, "Arabic"},
    {1065, true, "Persian"},
    {1033, false, "English"},
    {1049, false, "Russian"},
    {1041, false, "Japanese"},
    {1024, false, "the user's default id, holding Filipino"},
    {1037, false, "Hebrew: right to left, but the table has no Hebrew texts"},
    {1056, false, "Urdu: right to left, but the table has no Urdu texts"},
    {0, false, "no language"},
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << c.lcid << " (" << c.why << ")";
}

// The cancel confirmation over the progress dialog, made in the layout that
// the language chose, as the installer shows them.
class DialogLayoutTest : public ::testing::TestWithParam<LayoutCase> {
 protected:
  void TearDown() override {
    box_.reset();
    progress_.Destroy();
    ::SetProcessDefaultLayout(0);
  }

  void ShowDialogs() {
    ASSERT_TRUE(progress_.Create([] {}))
        << "no display? run under xvfb-run; error " << ::GetLastError();
    box_ = std::make_unique<CustomMessageBox>();
    ASSERT_TRUE(box_->Show(progress_.hwnd(), IDS_CANCEL_TITLE, IDS_CANCEL_QUESTION,
                           IDS_CONTINUE_INSTALLING, IDS_ABORT_INSTALLATION,
                           [](int) {}));
    PumpFor(50);
  }

  RECT ScreenRect(HWND dialog, int id) {
    RECT rect = {};
    ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
    return rect;
  }

  base::AtExitManager at_exit_;
  ProgressDialog progress_;
  std::unique_ptr<CustomMessageBox> box_;
};

bool HasMirroredLayout(HWND window) {
  return (::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
}

TEST_P(DialogLayoutTest, MirrorsOnlyRightToLeftLanguagesOfTheStringTable) {
  const LayoutCase& c = GetParam();
  SCOPED_TRACE(c.why);
  UseLanguage(static_cast<LANGID>(c.lcid));
  EXPECT_EQ(c.mirrored, UseDialogLayoutOfLanguage(c.lcid));
  DWORD layout = 0xFFFF;
  ASSERT_TRUE(::GetProcessDefaultLayout(&layout));
  EXPECT_EQ(c.mirrored ? static_cast<DWORD>(LAYOUT_RTL) : 0u, layout);

  ShowDialogs();
  for (HWND window : {progress_.hwnd(), box_->hwnd(),
                      ::GetDlgItem(progress_.hwnd(), IDC_PROGRESS_BAR),
                      ::GetDlgItem(box_->hwnd(), IDC_BUTTON1)}) {
    EXPECT_EQ(c.mirrored, HasMirroredLayout(window)) << WideToUtf8(GetText(window));
  }
  // The first button stands where a reader of the language starts.
  const RECT first = ScreenRect(box_->hwnd(), IDC_BUTTON1);
  const RECT second = ScreenRect(box_->hwnd(), IDC_BUTTON2);
  EXPECT_EQ(c.mirrored, first.left > second.left);
}

INSTANTIATE_TEST_SUITE_P(Languages, DialogLayoutTest, ::testing::ValuesIn(kLayoutCases),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) {
                           return "Lcid" + std::to_string(info.param.lcid);
                         });

TEST(DialogLayoutSwitchTest, ALaterLeftToRightLanguageUndoesTheMirroring) {
  EXPECT_TRUE(UseDialogLayoutOfLanguage(1025));
  EXPECT_FALSE(UseDialogLayoutOfLanguage(1033));
  DWORD layout = 0xFFFF;
  ASSERT_TRUE(::GetProcessDefaultLayout(&layout));
  EXPECT_EQ(0u, layout);
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
