// Simulates the user for end-to-end runs: waits for a dialog of another
// process and closes it, presses one of its buttons, reads it, or types on
// it.
//
//   ui_actions.exe wait  <title> <control_id> [timeout_s]  exit 0 when it exists
//   ui_actions.exe close <title> <control_id> [timeout_s]  posts WM_CLOSE
//   ui_actions.exe click <title> <control_id> [timeout_s]  presses a button
//   ui_actions.exe text  <title> <control_id> [timeout_s]  prints its text
//   ui_actions.exe shown <title> <control_id> [timeout_s]  prints "visible"
//       as soon as the dialog is visible, or "hidden" when it went away (or
//       the time ran out) without ever being visible
//   ui_actions.exe key   <title> <control_id> <timeout_s> <escape|enter|tab>
//       brings the dialog to the front and types the key on the keyboard
//   ui_actions.exe hold  <file> <seconds>
//       creates the file (and its folder) and keeps it open without any
//       sharing for that long, so that nobody can open, replace or delete it
//   ui_actions.exe close_disabled <title> <control_id> [timeout_s]
//                                  posts WM_CLOSE even while a box disables it
//
// The dialog is the enabled top-level window of class "#32770" with the
// window text <title> that has a control <control_id>: the progress dialog
// (controls 1000, 1001) and a message box (1002-1004) may share a title.
// Only close_disabled also takes a disabled one, as another program (or the
// end of the session) would reach it.
// Exit codes: 0 done, 2 usage, 3 window or control not found in time,
// 4 the key could not be typed.
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

// Whether the dialog becomes visible before it is destroyed or the time
// runs out. The program shows its dialog right after creating it, so one
// look at the first moment could see it still hidden.
bool BecomesVisible(HWND dialog, int timeout_s) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_s * 1000ull;
  while (::IsWindow(dialog) && ::GetTickCount64() < deadline) {
    if (::IsWindowVisible(dialog))
      return true;
    ::Sleep(20);
  }
  return false;
}

// Types one key as keyboard input (down and up) into the dialog, which
// must be the foreground window to receive it: the program's message loop
// then gets the key as a user's key press.
bool TypeKey(HWND dialog, const std::wstring& name) {
  WORD key = 0;
  if (name == L"escape")
    key = VK_ESCAPE;
  else if (name == L"enter")
    key = VK_RETURN;
  else if (name == L"tab")
    key = VK_TAB;
  else
    return false;
  ::SetForegroundWindow(dialog);
  for (int i = 0; i < 100 && ::GetForegroundWindow() != dialog; ++i)
    ::Sleep(20);
  if (::GetForegroundWindow() != dialog) {
    std::fwprintf(stderr, L"the dialog did not come to the front\n");
    return false;
  }
  INPUT input[2] = {};
  input[0].type = INPUT_KEYBOARD;
  input[0].ki.wVk = key;
  input[1] = input[0];
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  return ::SendInput(2, input, sizeof(INPUT)) == 2;
}

int HoldFile(const wchar_t* path, int seconds) {
  std::wstring folder = path;
  const size_t slash = folder.find_last_of(L"\\/");
  if (slash != std::wstring::npos) {
    folder.resize(slash);
    ::CreateDirectoryW(folder.c_str(), nullptr);
  }
  HANDLE file = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fwprintf(stderr, L"cannot create %ls: %lu\n", path, ::GetLastError());
    return 3;
  }
  ::Sleep(seconds * 1000);
  ::CloseHandle(file);
  return 0;
}

int Usage() {
  std::fwprintf(stderr,
                L"usage: ui_actions wait|close|click|text|shown|close_disabled <title> "
                L"<control> [timeout]\n       ui_actions key <title> <control> <timeout> <key>\n"
                L"       ui_actions hold <file> <seconds>\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4)
    return Usage();
  const std::wstring action = argv[1];
  if (action == L"hold")
    return HoldFile(argv[2], _wtoi(argv[3]));
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
  if (action == L"shown") {
    std::printf("%s\n", BecomesVisible(dialog, timeout_s) ? "visible" : "hidden");
    return 0;
  }
  if (action == L"key") {
    if (argc < 6)
      return Usage();
    return TypeKey(dialog, argv[5]) ? 0 : 4;
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
