// Simulates the user for end-to-end runs: waits for a dialog of another
// process and closes it or presses one of its buttons.
//
//   ui_actions.exe wait  <title> <control_id> [timeout_s]  exit 0 when it exists
//   ui_actions.exe close <title> <control_id> [timeout_s]  posts WM_CLOSE
//   ui_actions.exe click <title> <control_id> [timeout_s]  presses a button
//   ui_actions.exe text  <title> <control_id> [timeout_s]  prints its text
//   ui_actions.exe close_disabled <title> <control_id> [timeout_s]
//                                  posts WM_CLOSE even while a box disables it
//
// The dialog is the enabled top-level window of class "#32770" with the
// window text <title> that has a control <control_id>: the progress dialog
// (controls 1000, 1001) and a message box (1002-1004) may share a title.
// Only close_disabled also takes a disabled one, as another program (or the
// end of the session) would reach it.
// Exit codes: 0 done, 2 usage, 3 window or control not found in time.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Search {
  const wchar_t* title;
  int control_id;
  bool take_disabled;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter) {
  Search* search = reinterpret_cast<Search*>(parameter);
  wchar_t class_name[16] = {};
  wchar_t text[512] = {};
  ::GetClassNameW(window, class_name, 16);
  ::GetWindowTextW(window, text, 512);
  if (std::wcscmp(class_name, L"#32770") == 0 &&
      std::wcscmp(text, search->title) == 0 &&
      (search->take_disabled || ::IsWindowEnabled(window)) &&
      ::GetDlgItem(window, search->control_id)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND WaitForDialog(const wchar_t* title, int control_id, bool take_disabled,
                  int timeout_s) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_s * 1000ull;
  do {
    Search search = {title, control_id, take_disabled, nullptr};
    ::EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found)
      return search.found;
    ::Sleep(50);
  } while (::GetTickCount64() < deadline);
  return nullptr;
}

int Usage() {
  std::fwprintf(stderr,
               L"usage: ui_actions wait|close|click|text|close_disabled <title> "
               L"[control] [timeout]\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4)
    return Usage();
  const std::wstring action = argv[1];
  const wchar_t* title = argv[2];
  const int control_id = _wtoi(argv[3]);
  const int timeout_s = argc > 4 ? _wtoi(argv[4]) : 30;

  const bool take_disabled = action == L"close_disabled";
  HWND dialog = WaitForDialog(title, control_id, take_disabled, timeout_s);
  if (!dialog) {
    std::fwprintf(stderr, L"no dialog titled \"%ls\"\n", title);
    return 3;
  }
  if (action == L"wait")
    return 0;
  if (action == L"close" || take_disabled) {
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    return 0;
  }
  HWND control = ::GetDlgItem(dialog, control_id);
  if (action == L"click") {
    ::PostMessageW(control, BM_CLICK, 0, 0);
    return 0;
  }
  if (action == L"text") {
    wchar_t text[1024] = {};
    ::GetWindowTextW(control, text, 1024);
    std::printf("%ls\n", text);
    return 0;
  }
  return Usage();
}
