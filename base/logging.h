// Process-wide diagnostic log.
//
//   LOG(INFO) << "Downloaded " << size << " bytes";
//   VLOG(1) << "Detail";                 // only with --v=1 or --vmodule
//   PLOG(ERROR) << "Could not open";     // appends ": <system error text>"
//   CHECK(condition);                    // ends the process with exit code 1
//
// A statement whose level is off evaluates none of its stream operands.
// Any thread may log; only the file write is serialised (a named mutex shared
// with other processes writing the same file, or a critical section).
#ifndef BASE_LOGGING_H_
#define BASE_LOGGING_H_

#include <cstdint>
#include <string>

#include "base/log_stream.h"

namespace logging {

using LogSeverity = int;
constexpr LogSeverity LOG_VERBOSE = -1;
constexpr LogSeverity LOG_INFO = 0;
constexpr LogSeverity LOG_WARNING = 1;
constexpr LogSeverity LOG_ERROR = 2;
constexpr LogSeverity LOG_FATAL = 3;

enum LoggingDestination : uint32_t {
  LOG_NONE = 0,
  LOG_TO_FILE = 1 << 0,
  LOG_TO_SYSTEM_DEBUG_LOG = 1 << 1,
};

enum LogLockingState { LOCK_LOG_FILE = 0, DONT_LOCK_LOG_FILE = 1 };
enum OldFileDeletionState { DELETE_OLD_LOG_FILE = 0, APPEND_TO_OLD_LOG_FILE = 1 };

struct LoggingSettings {
  uint32_t logging_dest = LOG_TO_FILE;
  const wchar_t* log_file = nullptr;  // Null: "debug.log" beside the program.
  LogLockingState lock_log = LOCK_LOG_FILE;
  OldFileDeletionState delete_old = APPEND_TO_OLD_LOG_FILE;
};

// Reads "v" and "vmodule" from the process command line, then opens the log.
// False only when neither the path nor ".\debug.log" can be opened.
bool InitLogging(const LoggingSettings& settings);

int GetMinLogLevel();
int GetVlogLevelHelper(const char* file, size_t length_with_nul);
template <size_t N>
int GetVlogLevel(const char (&file)[N]) {
  return GetVlogLevelHelper(file, N);
}

using SystemErrorCode = unsigned long;
SystemErrorCode GetLastSystemErrorCode();
// "<text> (0x<code>)", or "Error (0x..) while retrieving error. (0x<code>)".
std::string SystemErrorCodeToString(SystemErrorCode error_code);
// The system text with whitespace collapsed (runs holding a line break go).
std::string CollapseErrorText(const std::string& text);

const char* LogSeverityName(LogSeverity severity);

// One log statement: the prefix is written at construction, the line at
// destruction. The caller's last system error code is preserved.
class LogMessage {
 public:
  LogMessage(const char* file, int line, LogSeverity severity);
  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;
  ~LogMessage();

  base::LogStream& stream() { return stream_; }

 protected:
  const LogSeverity severity_;

 private:
  void WritePrefix(const char* file, int line);

  base::LogStream stream_;
  size_t message_start_ = 0;
  const SystemErrorCode last_error_;
};

// Appends ": " and the text of |error| when the statement ends.
class Win32ErrorLogMessage {
 public:
  Win32ErrorLogMessage(const char* file, int line, LogSeverity severity,
                       SystemErrorCode error);
  ~Win32ErrorLogMessage();
  base::LogStream& stream() { return message_.stream(); }

 private:
  LogMessage message_;
  const SystemErrorCode error_;
};

// Ends the process with exit code 1 after writing |message| (if not empty).
[[noreturn]] void TerminateAfterFatal();

// Turns "stream" into void, so the ternary in LAZY_STREAM type-checks.
class LogMessageVoidify {
 public:
  void operator&(base::LogStream&) {}
};

}  // namespace logging

#define LAZY_STREAM(stream, condition) \
  !(condition) ? (void)0 : ::logging::LogMessageVoidify() & (stream)

#define LOG_SEVERITY_INFO ::logging::LOG_INFO
#define LOG_SEVERITY_WARNING ::logging::LOG_WARNING
#define LOG_SEVERITY_ERROR ::logging::LOG_ERROR
#define LOG_SEVERITY_FATAL ::logging::LOG_FATAL
// <wingdi.h> defines ERROR as 0, which nested macros expand before pasting.
#define LOG_SEVERITY_0 ::logging::LOG_ERROR

// FATAL is never filtered: it must always end the process.
#define LOG_IS_ON(severity)                        \
  (LOG_SEVERITY_##severity >= ::logging::LOG_FATAL || \
   LOG_SEVERITY_##severity >= ::logging::GetMinLogLevel())
#define VLOG_IS_ON(level) ((level) <= ::logging::GetVlogLevel(__FILE__))

#define LOG(severity)                                                       \
  LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, LOG_SEVERITY_##severity) \
                  .stream(),                                                \
              LOG_IS_ON(severity))

#define VLOG(level)                                                     \
  LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, -(level)).stream(), \
              VLOG_IS_ON(level))

#define PLOG(severity)                                                    \
  LAZY_STREAM(::logging::Win32ErrorLogMessage(                            \
                  __FILE__, __LINE__, LOG_SEVERITY_##severity,            \
                  ::logging::GetLastSystemErrorCode())                    \
                  .stream(),                                              \
              LOG_IS_ON(severity))

// A failed check writes "Check failed: <condition>. " at FATAL severity and
// ends the process with exit code 1. Always on, also in release builds.
#define CHECK(condition)                                                  \
  LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, ::logging::LOG_FATAL) \
                  .stream() << "Check failed: " #condition ". ",          \
              !(condition))

#ifndef NDEBUG
#define DCHECK(condition) CHECK(condition)
#else
#define DCHECK(condition) LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, \
                              ::logging::LOG_FATAL).stream(), false && (condition))
#endif

#define NOTREACHED() CHECK(false)

#endif  // BASE_LOGGING_H_
