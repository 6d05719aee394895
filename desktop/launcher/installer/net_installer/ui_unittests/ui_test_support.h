// Helpers shared by the user-interface tests: a log capture, a message pump
// that routes every message through the dialog dispatcher as the program's
// UI pump does, and direct reads of the program's string table.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_UI_UNITTESTS_UI_TEST_SUPPORT_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_UI_UNITTESTS_UI_TEST_SUPPORT_H_

#include <windows.h>

#include <functional>
#include <string>

namespace vulmo {
namespace net_installer {

// Sends the process log to a fresh file for the lifetime of the object.
class LogCapture {
 public:
  LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Contents() const;
  // Number of log lines whose message is exactly |message|.
  int CountLines(const std::string& message) const;

 private:
  std::wstring path_;
};

// Takes every queued message and hands it to the dialog dispatcher first.
void PumpPendingMessages();
// Pumps until |condition| holds or |timeout_ms| passes; the final value.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeout_ms);
// Pumps for |duration_ms| whatever happens.
void PumpFor(DWORD duration_ms);

std::wstring GetText(HWND window);
std::string WideToUtf8(const std::wstring& text);

// String |id| of the string table in language |language|, read with
// FindResourceExW; |found| (may be null) tells whether the block exists.
std::wstring ReadTableString(int id, LANGID language, bool* found = nullptr);

// Points the calling thread's resource language at |language|, which is
// what steers LoadStringW under Wine (SetThreadUILanguage does not there).
void UseLanguage(LANGID language);

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_UI_UNITTESTS_UI_TEST_SUPPORT_H_
