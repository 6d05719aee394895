#include <windows.h>

#include "base/at_exit.h"
#include "base/command_line.h"
#include "base/message_loop/message_loop.h"
#include "base/win/windows_version.h"
#include "desktop/launcher/installer/net_installer/net_installer.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

constexpr LANGID kGerman = 1031;

// Start switches the thread's language before anything else can fail, so a
// start that fails for want of the dialog templates (this test program has
// none) still leaves the switch behind on the calling thread.
void StartWithLanguage(const wchar_t* language) {
  base::AtExitManager exit_manager;
  base::CommandLine::Init();
  base::CommandLine::ForCurrentProcess()->AppendSwitchNative("language", language);
  base::MessageLoop loop(base::MessageLoop::TYPE_UI);
  NetInstaller installer;
  EXPECT_FALSE(installer.Start());
}

// From Vista on the UI language is switched and the thread locale (the
// switch of older versions, which also decides number and date formats) is
// left alone.
TEST(NetInstallerLanguageTest, FromVistaOnTheThreadLocaleIsNotTouched) {
  ASSERT_GE(base::win::GetVersion(), base::win::VERSION_VISTA);
  const LCID locale_before = ::GetThreadLocale();
  ASSERT_NE(kGerman, LANGIDFROMLCID(locale_before));
  StartWithLanguage(L"de");
  EXPECT_EQ(locale_before, ::GetThreadLocale());
}

bool RunsUnderWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The switch itself. Wine takes SetThreadUILanguage without keeping it
// (GetThreadUILanguage still answers the user's language afterwards), so
// there this cannot be seen; the test above is what guards the branch there.
TEST(NetInstallerLanguageTest, FromVistaOnTheThreadUiLanguageIsSwitched) {
  ASSERT_GE(base::win::GetVersion(), base::win::VERSION_VISTA);
  if (RunsUnderWine())
    GTEST_SKIP() << "Wine does not keep the thread's UI language";
  ASSERT_NE(kGerman, ::GetThreadUILanguage());
  StartWithLanguage(L"de");
  EXPECT_EQ(kGerman, ::GetThreadUILanguage());
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
