// Shows the installer's dialogs in one language, for screenshots:
//
//   net_installer_ui_demo.exe <language id> <scene> <stop file>
//
// scene: "progress" (bar at 42 %), "marquee" (size unknown), "cancel" (the
// cancel confirmation over the progress dialog) or "error" (the final error
// box). Once the windows are drawn it prints "READY left top right bottom
// dpi" (screen rectangle around them, the screen's DPI) and keeps pumping
// until <stop file> exists (at most one minute). Exit codes: 0 done, 2 usage,
// 3 the windows could not be created, 4 a text did not come from the string
// table of the language, 5 a text is clipped or the bar does not span its
// dialog, 6 a character is drawn as the missing-glyph box.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "base/at_exit.h"
#include "base/logging.h"
#include "desktop/launcher/installer/net_installer/custom_message_box.h"
#include "desktop/launcher/installer/net_installer/dialog_resources.h"
#include "desktop/launcher/installer/net_installer/progress_dialog.h"
#include "desktop/launcher/installer/net_installer/resources/resource_ids.h"
#include "desktop/launcher/installer/net_installer/ui_unittests/ui_demo_checks.h"
#include "desktop/launcher/installer/net_installer/win32_dialog_dispatcher.h"

namespace {

using vulmo::net_installer::CustomMessageBox;
using vulmo::net_installer::BarFillsWidth;
using vulmo::net_installer::GlyphsPresent;
using vulmo::net_installer::ProgressDialog;
using vulmo::net_installer::TextsFit;
using vulmo::net_installer::Win32DialogDispatcher;

void Pump(DWORD duration_ms, const wchar_t* stop_file) {
  const ULONGLONG deadline = ::GetTickCount64() + duration_ms;
  for (;;) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (Win32DialogDispatcher::GetInstance()->Dispatch(message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
    }
    if (stop_file && ::GetFileAttributesW(stop_file) != INVALID_FILE_ATTRIBUTES)
      return;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline)
      return;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

// The string as stored for |language|, independent of LoadStringW.
std::wstring TableString(int id, LANGID language) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC resource = ::FindResourceExW(module, MAKEINTRESOURCEW(6),
                                     MAKEINTRESOURCEW(id / 16 + 1), language);
  if (!resource)
    return std::wstring();
  const auto* p =
      static_cast<const WCHAR*>(::LockResource(::LoadResource(module, resource)));
  for (int i = 0; i < id % 16; ++i)
    p += 1 + *p;
  return std::wstring(p + 1, *p);
}

std::wstring Text(HWND window) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(window, text, 1024);
  return text;
}

bool Check(HWND window, int id, LANGID language) {
  const std::wstring expected = TableString(id, language);
  if (!expected.empty() && Text(window) == expected)
    return true;
  std::fprintf(stderr, "string %d is not the text of language %u\n", id, language);
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: net_installer_ui_demo <language id> "
                         "progress|marquee|cancel|error <stop file>\n");
    return 2;
  }
  const LANGID language = static_cast<LANGID>(std::wcstoul(argv[1], nullptr, 10));
  const std::wstring scene = argv[2];
  const wchar_t* stop_file = argv[3];

  base::AtExitManager at_exit;
  logging::LoggingSettings settings;
  settings.logging_dest = logging::LOG_NONE;
  logging::InitLogging(settings);
  // Under Wine the thread locale, not the UI language, picks the strings.
  ::SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
  ::SetThreadUILanguage(language);
  vulmo::net_installer::UseDialogLayoutOfLanguage(language);

  ProgressDialog progress;
  if (!progress.Create([] {}))
    return 3;
  progress.Show();
  if (scene == L"marquee") {
    progress.SetProgressRange(0);
  } else {
    progress.SetProgressRange(100);
    progress.SetProgress(42);
  }
  bool texts_ok = Check(progress.hwnd(), IDS_INSTALLER_TITLE, language) &&
                  Check(::GetDlgItem(progress.hwnd(), IDC_PROGRESS_LABEL),
                        IDS_DOWNLOADING, language);

  std::unique_ptr<CustomMessageBox> box;
  if (scene == L"cancel" || scene == L"error") {
    box = std::make_unique<CustomMessageBox>();
    const bool cancel = scene == L"cancel";
    const bool shown =
        cancel ? box->Show(progress.hwnd(), IDS_CANCEL_TITLE, IDS_CANCEL_QUESTION,
                           IDS_CONTINUE_INSTALLING, IDS_ABORT_INSTALLATION,
                           [](int) {})
               : box->Show(progress.hwnd(), IDS_INSTALLER_TITLE, IDS_DOWNLOAD_FAILED,
                           0, IDS_OK, [](int) {});
    if (!shown)
      return 3;
    texts_ok = texts_ok &&
               Check(::GetDlgItem(box->hwnd(), IDC_MESSAGE_LABEL),
                     cancel ? IDS_CANCEL_QUESTION : IDS_DOWNLOAD_FAILED, language) &&
               Check(::GetDlgItem(box->hwnd(), IDC_BUTTON2),
                     cancel ? IDS_ABORT_INSTALLATION : IDS_OK, language);
  }
  if (!texts_ok)
    return 4;

  // What the picture must show at every scale and in every script.
  constexpr int kProgressTexts[] = {IDC_PROGRESS_LABEL, 0};
  constexpr int kBoxTexts[] = {IDC_MESSAGE_LABEL, IDC_BUTTON1, IDC_BUTTON2, 0};
  bool layout_ok = TextsFit(progress.hwnd(), kProgressTexts) &&
                   BarFillsWidth(progress.hwnd(), IDC_PROGRESS_BAR);
  bool glyphs_ok = GlyphsPresent(progress.hwnd(), kProgressTexts);
  if (box) {
    layout_ok = TextsFit(box->hwnd(), kBoxTexts) && layout_ok;
    glyphs_ok = GlyphsPresent(box->hwnd(), kBoxTexts) && glyphs_ok;
  }
  // Reported once the picture is taken, so that it shows the fault.
  const int result = !glyphs_ok ? 6 : !layout_ok ? 5 : 0;

  // Let the windows paint (and the marquee move) before the picture.
  Pump(600, nullptr);
  RECT bounds;
  ::GetWindowRect(progress.hwnd(), &bounds);
  if (box) {
    RECT box_rect;
    ::GetWindowRect(box->hwnd(), &box_rect);
    ::UnionRect(&bounds, &bounds, &box_rect);
  }
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
  ::ReleaseDC(nullptr, screen);
  std::printf("READY %ld %ld %ld %ld %d\n", bounds.left, bounds.top, bounds.right,
              bounds.bottom, dpi);
  std::fflush(stdout);

  Pump(60000, stop_file);
  box.reset();
  progress.Destroy();
  return result;
}
