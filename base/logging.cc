#include "base/logging.h"

#include <windows.h>

#include <memory>

#include "base/command_line.h"
#include "base/vlog.h"

namespace logging {
namespace {

constexpr wchar_t kDefaultLogName[] = L"debug.log";
constexpr wchar_t kFallbackLogPath[] = L".\\debug.log";

// Process-wide state, created on first use and never freed: messages may be
// written until the very end of the process.
struct LoggingState {
  uint32_t destination = LOG_TO_FILE;
  int min_log_level = 0;
  std::unique_ptr<VlogInfo> vlog_info;

  std::wstring log_path;  // Empty until set or first defaulted.
  HANDLE log_file = nullptr;

  LogLockingState lock_mode = LOCK_LOG_FILE;
  bool lock_initialized = false;
  HANDLE mutex = nullptr;
  CRITICAL_SECTION critical_section;
};

LoggingState& State() {
  static LoggingState* state = new LoggingState();
  return *state;
}

std::wstring DefaultLogPath() {
  wchar_t module_path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, module_path, MAX_PATH);
  std::wstring path(module_path, length);
  const size_t last_separator = path.rfind(L'\\');
  path.resize(last_separator == std::wstring::npos ? 0 : last_separator + 1);
  return path + kDefaultLogName;
}

const std::wstring& LogPath(LoggingState& state) {
  if (state.log_path.empty())
    state.log_path = DefaultLogPath();
  return state.log_path;
}

void InitializeLock(LoggingState& state, LogLockingState mode,
                    const wchar_t* path) {
  if (state.lock_initialized)
    return;
  if (mode == DONT_LOCK_LOG_FILE) {
    ::InitializeCriticalSection(&state.critical_section);
  } else {
    // Named objects may not contain '\' after their namespace prefix.
    std::wstring name = path ? path : DefaultLogPath();
    for (wchar_t& c : name) {
      if (c == L'\\')
        c = L'/';
    }
    state.mutex = ::CreateMutexW(nullptr, FALSE, (L"Global\\" + name).c_str());
    if (!state.mutex)
      return;  // Tried again before the next write.
  }
  state.lock_mode = mode;
  state.lock_initialized = true;
}

void Lock(LoggingState& state) {
  if (!state.lock_initialized)
    return;
  if (state.lock_mode == DONT_LOCK_LOG_FILE)
    ::EnterCriticalSection(&state.critical_section);
  else
    ::WaitForSingleObject(state.mutex, INFINITE);
}

void Unlock(LoggingState& state) {
  if (!state.lock_initialized)
    return;
  if (state.lock_mode == DONT_LOCK_LOG_FILE)
    ::LeaveCriticalSection(&state.critical_section);
  else
    ::ReleaseMutex(state.mutex);
}

HANDLE OpenForAppend(const wchar_t* path) {
  HANDLE file = ::CreateFileW(path, GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// Opens the log file if it is not open yet; called under the lock.
bool EnsureLogFileOpen(LoggingState& state) {
  if (state.log_file)
    return true;
  state.log_file = OpenForAppend(LogPath(state).c_str());
  if (!state.log_file)
    state.log_file = OpenForAppend(kFallbackLogPath);
  if (!state.log_file)
    return false;
  ::SetFilePointer(state.log_file, 0, nullptr, FILE_END);
  return true;
}

std::string NarrowSwitch(const base::CommandLine& command_line,
                         const char* name) {
  return command_line.GetSwitchValueASCII(name);
}

void InitVerboseSettings(LoggingState& state) {
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  if (!command_line ||
      (!command_line->HasSwitch("v") && !command_line->HasSwitch("vmodule"))) {
    return;
  }
  state.vlog_info = std::make_unique<VlogInfo>(
      NarrowSwitch(*command_line, "v"), NarrowSwitch(*command_line, "vmodule"),
      &state.min_log_level);
}

void WriteToStandardError(const std::string& line) {
  HANDLE error_handle = ::GetStdHandle(STD_ERROR_HANDLE);
  if (!error_handle || error_handle == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  ::WriteFile(error_handle, line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
  ::FlushFileBuffers(error_handle);
}

void WriteToLogFile(LoggingState& state, const std::string& line) {
  InitializeLock(state, LOCK_LOG_FILE, nullptr);
  Lock(state);
  if (EnsureLogFileOpen(state)) {
    ::SetFilePointer(state.log_file, 0, nullptr, FILE_END);
    DWORD written = 0;
    ::WriteFile(state.log_file, line.data(), static_cast<DWORD>(line.size()),
                &written, nullptr);
  }
  Unlock(state);
}

void AppendTwoDigits(base::LogStream& stream, int value) {
  stream << static_cast<char>('0' + value / 10 % 10)
         << static_cast<char>('0' + value % 10);
}

}  // namespace

bool InitLogging(const LoggingSettings& settings) {
  LoggingState& state = State();
  InitVerboseSettings(state);

  state.destination = settings.logging_dest;
  if (!(state.destination & LOG_TO_FILE))
    return true;

  InitializeLock(state, settings.lock_log, settings.log_file);
  Lock(state);
  if (state.log_file) {
    ::CloseHandle(state.log_file);
    state.log_file = nullptr;
  }
  state.log_path = settings.log_file ? settings.log_file : DefaultLogPath();
  if (settings.delete_old == DELETE_OLD_LOG_FILE)
    ::DeleteFileW(state.log_path.c_str());
  const bool opened = EnsureLogFileOpen(state);
  Unlock(state);
  return opened;
}

int GetMinLogLevel() {
  return State().min_log_level;
}

int GetVlogLevelHelper(const char* file, size_t length_with_nul) {
  LoggingState& state = State();
  if (state.vlog_info) {
    return state.vlog_info->GetVlogLevel(
        std::string_view(file, length_with_nul - 1));
  }
  return -state.min_log_level > -1 ? -state.min_log_level : -1;
}

SystemErrorCode GetLastSystemErrorCode() {
  return ::GetLastError();
}

std::string CollapseErrorText(const std::string& text) {
  auto is_space = [](char c) {
    return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' ||
           c == ' ';
  };
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (!is_space(text[i])) {
      out.push_back(text[i++]);
      continue;
    }
    bool has_line_break = false;
    const size_t run_start = i;
    while (i < text.size() && is_space(text[i])) {
      has_line_break |= text[i] == '\n' || text[i] == '\r';
      ++i;
    }
    const bool leading = run_start == 0;
    const bool trailing = i == text.size();
    if (!leading && !trailing && !has_line_break)
      out.push_back(' ');
  }
  return out;
}

std::string SystemErrorCodeToString(SystemErrorCode error_code) {
  char buffer[256];
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error_code, 0, buffer, sizeof(buffer), nullptr);
  char code_text[64];
  if (length) {
    wsprintfA(code_text, " (0x%lX)", error_code);
    return CollapseErrorText(std::string(buffer, length)) + code_text;
  }
  wsprintfA(code_text, "Error (0x%lX) while retrieving error. (0x%lX)",
            ::GetLastError(), error_code);
  return code_text;
}

const char* LogSeverityName(LogSeverity severity) {
  static const char* const kNames[] = {"INFO", "WARNING", "ERROR", "FATAL"};
  if (severity >= 0 && severity < 4)
    return kNames[severity];
  return severity < 0 ? "VERBOSE" : "UNKNOWN";
}

LogMessage::LogMessage(const char* file, int line, LogSeverity severity)
    : severity_(severity), last_error_(::GetLastError()) {
  WritePrefix(file, line);
}

void LogMessage::WritePrefix(const char* file, int line) {
  const char* base_name = file;
  for (const char* p = file; *p; ++p) {
    if (*p == '\\' || *p == '/')
      base_name = p + 1;
  }
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  stream_ << '[';
  AppendTwoDigits(stream_, now.wMonth);
  AppendTwoDigits(stream_, now.wDay);
  stream_ << '/';
  AppendTwoDigits(stream_, now.wHour);
  AppendTwoDigits(stream_, now.wMinute);
  AppendTwoDigits(stream_, now.wSecond);
  stream_ << ':' << LogSeverityName(severity_);
  if (severity_ < 0)
    stream_ << -severity_;
  stream_ << ':' << base_name << '(' << line << ")] ";
  message_start_ = stream_.str().size();
}

LogMessage::~LogMessage() {
  LoggingState& state = State();
  std::string& line = stream_.str();
  line.push_back('\n');

  if (state.destination & LOG_TO_SYSTEM_DEBUG_LOG)
    ::OutputDebugStringA(line.c_str());
  else if (severity_ >= LOG_ERROR)
    WriteToStandardError(line);

  if (state.destination & LOG_TO_FILE)
    WriteToLogFile(state, line);

  if (severity_ == LOG_FATAL)
    TerminateAfterFatal();
  ::SetLastError(last_error_);
}

Win32ErrorLogMessage::Win32ErrorLogMessage(const char* file, int line,
                                           LogSeverity severity,
                                           SystemErrorCode error)
    : message_(file, line, severity), error_(error) {}

Win32ErrorLogMessage::~Win32ErrorLogMessage() {
  message_.stream() << ": " << SystemErrorCodeToString(error_);
}

void TerminateAfterFatal() {
  // End at once: no at-exit work may run on a state that failed a check.
  ::TerminateProcess(::GetCurrentProcess(), 1);
  ::ExitProcess(1);
}

}  // namespace logging
