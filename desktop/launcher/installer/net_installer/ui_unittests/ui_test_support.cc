#include "desktop/launcher/installer/net_installer/ui_unittests/ui_test_support.h"

#include <string>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/net_installer/win32_dialog_dispatcher.h"

namespace vulmo {
namespace net_installer {

LogCapture::LogCapture() {
  wchar_t directory[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, directory);
  // The log stays open until the process ends, so each process leaves its
  // file behind; remove those of finished runs (open ones refuse deletion).
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(
      (std::wstring(directory) + L"vulmo_ui_test_*.log").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      ::DeleteFileW((std::wstring(directory) + found.cFileName).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  path_ = std::wstring(directory) + L"vulmo_ui_test_" +
          std::to_wstring(::GetCurrentProcessId()) + L".log";
  logging::LoggingSettings settings;
  settings.logging_dest = logging::LOG_TO_FILE;
  settings.log_file = path_.c_str();
  settings.lock_log = logging::DONT_LOCK_LOG_FILE;
  settings.delete_old = logging::DELETE_OLD_LOG_FILE;
  logging::InitLogging(settings);
}

std::string LogCapture::Contents() const {
  std::string contents;
  (void)base::ReadFileToString(base::FilePath(path_), &contents);
  return contents;
}

int LogCapture::CountLines(const std::string& message) const {
  const std::string contents = Contents();
  int count = 0;
  size_t start = 0;
  while (start < contents.size()) {
    size_t end = contents.find('\n', start);
    if (end == std::string::npos)
      end = contents.size();
    const std::string line = contents.substr(start, end - start);
    // "[MMDD/HHMMSS:SEVERITY:file.cc(line)] message"
    const size_t prefix_end = line.find("] ");
    if (line.size() > 0 && line[0] == '[' && prefix_end != std::string::npos &&
        line.compare(prefix_end + 2, std::string::npos, message) == 0) {
      ++count;
    }
    start = end + 1;
  }
  return count;
}

void PumpPendingMessages() {
  Win32DialogDispatcher* dispatcher = Win32DialogDispatcher::GetInstance();
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (dispatcher->Dispatch(message) &
        base::MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

bool PumpUntil(const std::function<bool()>& condition, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    PumpPendingMessages();
    if (condition())
      return true;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline)
      return false;
    const DWORD wait = static_cast<DWORD>(deadline - now < 20 ? deadline - now : 20);
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
  }
}

void PumpFor(DWORD duration_ms) {
  PumpUntil([] { return false; }, duration_ms);
}

std::wstring GetText(HWND window) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(window, text, 1024);
  return text;
}

std::string WideToUtf8(const std::wstring& text) {
  return base::UTF16ToUTF8(text);
}

std::wstring ReadTableString(int id, LANGID language, bool* found) {
  if (found)
    *found = false;
  // Strings are stored sixteen to a block; block n holds ids 16(n-1)..16n-1.
  const int block = id / 16 + 1;
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC resource =
      ::FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(block), language);
  if (!resource)
    return std::wstring();
  const DWORD size = ::SizeofResource(module, resource);
  const auto* data =
      static_cast<const WCHAR*>(::LockResource(::LoadResource(module, resource)));
  if (!data)
    return std::wstring();
  if (found)
    *found = true;
  const WCHAR* end = data + size / sizeof(WCHAR);
  const WCHAR* p = data;
  for (int i = 0; i < id % 16 && p < end; ++i)
    p += 1 + *p;
  if (p >= end || p + 1 + *p > end)
    return std::wstring();
  return std::wstring(p + 1, *p);
}

void UseLanguage(LANGID language) {
  ::SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
  ::SetThreadUILanguage(language);
}

}  // namespace net_installer
}  // namespace vulmo
