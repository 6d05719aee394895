#include "base/logging.h"

#include <windows.h>

#include <regex>
#include <string>

#include "base/files/file_util.h"
#include "base/test/temp_dir.h"
#include "gtest/gtest.h"

namespace logging {
namespace {

// Points logging at a fresh file for one test; afterwards at the null
// device, so the process keeps no file of the test directory open.
class LogFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_dir_.path().empty());
    log_path_ = temp_dir_.path().Append(L"net_installer.log");
  }

  void TearDown() override {
    LoggingSettings settings;
    settings.log_file = L"NUL";
    settings.lock_log = DONT_LOCK_LOG_FILE;
    InitLogging(settings);
  }

  bool Init(OldFileDeletionState old_file) {
    LoggingSettings settings;
    settings.logging_dest = LOG_TO_FILE;
    settings.log_file = log_path_.value().c_str();
    settings.lock_log = LOCK_LOG_FILE;
    settings.delete_old = old_file;
    return InitLogging(settings);
  }

  std::string ReadLog() { return base::ReadTextFile(log_path_); }

  base::TempDir temp_dir_;
  base::FilePath log_path_;
};

TEST_F(LogFileTest, LinesCarryTimestampSeverityFileAndLine) {
  ASSERT_TRUE(Init(DELETE_OLD_LOG_FILE));
  const int info_line = __LINE__ + 1;
  LOG(INFO) << "Downloaded " << 42 << " bytes";
  LOG(WARNING) << "careful";
  LOG(ERROR) << "broken";
  VLOG(1) << "hidden verbose one";
  VLOG(2) << "hidden verbose two";

  const std::string log = ReadLog();
  const std::string prefix = R"(\[(\d\d)(\d\d)/(\d\d)(\d\d)(\d\d):)";
  const std::regex expected(
      prefix + R"(INFO:logging_unittest\.cc\()" + std::to_string(info_line) +
      R"(\)\] Downloaded 42 bytes\n)" +
      prefix + R"(WARNING:logging_unittest\.cc\(\d+\)\] careful\n)" +
      prefix + R"(ERROR:logging_unittest\.cc\(\d+\)\] broken\n)");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(log, match, expected)) << log;
  // Month, day, hour, minute and second are plausible values.
  EXPECT_GE(std::stoi(match[1]), 1);
  EXPECT_LE(std::stoi(match[1]), 12);
  EXPECT_GE(std::stoi(match[2]), 1);
  EXPECT_LE(std::stoi(match[2]), 31);
  EXPECT_LE(std::stoi(match[3]), 23);
  EXPECT_LE(std::stoi(match[4]), 59);
  EXPECT_LE(std::stoi(match[5]), 60);
  EXPECT_EQ(std::string::npos, log.find('\r'));
}

TEST_F(LogFileTest, DeleteOldStartsAFreshFileAndAppendKeepsIt) {
  ASSERT_TRUE(base::WriteTextFile(log_path_, "previous run\n"));
  ASSERT_TRUE(Init(APPEND_TO_OLD_LOG_FILE));
  LOG(INFO) << "second run";
  std::string log = ReadLog();
  EXPECT_EQ(0u, log.find("previous run\n"));
  EXPECT_NE(std::string::npos, log.find("] second run\n"));

  ASSERT_TRUE(Init(DELETE_OLD_LOG_FILE));
  LOG(INFO) << "third run";
  log = ReadLog();
  EXPECT_EQ(std::string::npos, log.find("previous run"));
  EXPECT_EQ(std::string::npos, log.find("second run"));
  EXPECT_NE(std::string::npos, log.find("] third run\n"));
}

TEST_F(LogFileTest, WideTextIsWrittenAsUtf8) {
  ASSERT_TRUE(Init(DELETE_OLD_LOG_FILE));
  LOG(INFO) << L"Gr\x00fc\x00df" L"e " << std::wstring(L"\x65e5\x672c");
  EXPECT_NE(std::string::npos,
            ReadLog().find("] Gr\xc3\xbc\xc3\x9f" "e \xe6\x97\xa5\xe6\x9c\xac\n"));
}

TEST_F(LogFileTest, SystemErrorMessageAppendsTheErrorText) {
  ASSERT_TRUE(Init(DELETE_OLD_LOG_FILE));
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  PLOG(ERROR) << "CreateFile failed";
  const std::string log = ReadLog();
  const std::string expected_tail =
      "] CreateFile failed: " + SystemErrorCodeToString(ERROR_FILE_NOT_FOUND) + "\n";
  ASSERT_GE(log.size(), expected_tail.size());
  EXPECT_EQ(expected_tail, log.substr(log.size() - expected_tail.size()));
}

TEST_F(LogFileTest, UnopenableLogPathFailsInitialisation) {
  const base::FilePath missing_dir = temp_dir_.path().Append(L"missing");
  // The fallback ".\debug.log" must not be openable either: make the current
  // directory one in which a file of that name is a directory.
  ASSERT_TRUE(base::CreateDirectory(temp_dir_.path().Append(L"debug.log")));
  wchar_t previous[MAX_PATH];
  ASSERT_NE(0u, ::GetCurrentDirectoryW(MAX_PATH, previous));
  ASSERT_TRUE(::SetCurrentDirectoryW(temp_dir_.path().value().c_str()));
  const std::wstring path = missing_dir.Append(L"x.log").value();
  LoggingSettings settings;
  settings.log_file = path.c_str();
  settings.lock_log = DONT_LOCK_LOG_FILE;
  EXPECT_FALSE(InitLogging(settings));
  LOG(INFO) << "dropped";  // Must not crash with no file open.
  ::SetCurrentDirectoryW(previous);
}

TEST_F(LogFileTest, LastErrorSurvivesALogStatement) {
  ASSERT_TRUE(Init(DELETE_OLD_LOG_FILE));
  const DWORD kCodes[] = {ERROR_ACCESS_DENIED, 12029, 0};
  for (DWORD code : kCodes) {
    ::SetLastError(code);
    LOG(INFO) << "something that calls the system";
    EXPECT_EQ(code, ::GetLastError());
    ::SetLastError(code);
    PLOG(WARNING) << "and with error text";
    EXPECT_EQ(code, ::GetLastError());
  }
}

TEST_F(LogFileTest, DisabledStatementsEvaluateNothing) {
  ASSERT_TRUE(Init(DELETE_OLD_LOG_FILE));
  int evaluated = 0;
  auto count = [&evaluated] { return ++evaluated; };
  VLOG(1) << count();
  VLOG(2) << count();
  EXPECT_EQ(0, evaluated);
  LOG(INFO) << "counted " << count();
  EXPECT_EQ(1, evaluated);
  EXPECT_NE(std::string::npos, ReadLog().find("] counted 1\n"));
}

TEST(LoggingTest, SeverityNames) {
  EXPECT_STREQ("INFO", LogSeverityName(LOG_INFO));
  EXPECT_STREQ("WARNING", LogSeverityName(LOG_WARNING));
  EXPECT_STREQ("ERROR", LogSeverityName(LOG_ERROR));
  EXPECT_STREQ("FATAL", LogSeverityName(LOG_FATAL));
  EXPECT_STREQ("UNKNOWN", LogSeverityName(4));
  EXPECT_STREQ("VERBOSE", LogSeverityName(-1));
}

TEST(LoggingTest, VerboseIsOffByDefault) {
  EXPECT_EQ(0, GetMinLogLevel());
  EXPECT_EQ(0, GetVlogLevel(__FILE__));
  EXPECT_FALSE(VLOG_IS_ON(1));
}

TEST(SystemErrorTextTest, KnownCodeEndsWithItsHexValue) {
  const std::string text = SystemErrorCodeToString(ERROR_FILE_NOT_FOUND);
  ASSERT_GT(text.size(), 6u);
  EXPECT_EQ(" (0x2)", text.substr(text.size() - 6));
  EXPECT_NE(' ', text[0]);
  EXPECT_EQ(std::string::npos, text.find_first_of("\r\n"));
  EXPECT_EQ(" (0x7B)", SystemErrorCodeToString(ERROR_INVALID_NAME).substr(
                           SystemErrorCodeToString(ERROR_INVALID_NAME).size() - 7));
}

TEST(SystemErrorTextTest, UnknownCodeReportsTheLookupFailure) {
  const std::string text = SystemErrorCodeToString(0x2FFFFFFF);
  EXPECT_EQ(0u, text.find("Error (0x")) << text;
  EXPECT_NE(std::string::npos, text.find(") while retrieving error. (0x2FFFFFFF)"))
      << text;
}

TEST(SystemErrorTextTest, WhitespaceIsCollapsed) {
  const struct {
    const char* input;
    const char* expected;
  } kCases[] = {
      {"  File not found.\r\n", "File not found."},
      {"one  two\tthree", "one two three"},
      {"line one\r\nline two", "line oneline two"},
      {"a \n b", "ab"},
      {"", ""},
      {" \t\r\n", ""},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.input);
    EXPECT_EQ(test.expected, CollapseErrorText(test.input));
  }
}

// Starts the helper program, which initialises logging from its own command
// line into |log_path| and logs INFO, VERBOSE1 and VERBOSE2 lines; returns
// its exit code (or -1).
int RunLogChild(const base::FilePath& log_path, const std::wstring& switches) {
  wchar_t own_path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, own_path, MAX_PATH);
  const base::FilePath child =
      base::FilePath(std::wstring(own_path, length)).DirName().Append(L"log_child.exe");
  std::wstring command_line =
      L"\"" + child.value() + L"\" \"" + log_path.value() + L"\" " + switches;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(child.value().c_str(), &command_line[0], nullptr,
                        nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    ADD_FAILURE() << "cannot start " << child.value() << ": " << ::GetLastError();
    return -1;
  }
  const DWORD wait = ::WaitForSingleObject(process.hProcess, 30000);
  DWORD exit_code = static_cast<DWORD>(-1);
  if (wait == WAIT_OBJECT_0)
    ::GetExitCodeProcess(process.hProcess, &exit_code);
  else
    ::TerminateProcess(process.hProcess, 1);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), wait);
  return static_cast<int>(exit_code);
}

TEST(VerboseSwitchTest, SwitchesSelectVerboseLevels) {
  const struct {
    const wchar_t* switches;
    bool verbose1;
    bool verbose2;
  } kCases[] = {
      {L"", false, false},
      {L"--v=1", true, false},
      {L"--V=2", true, true},
      {L"--v=x", false, false},
      {L"--v=-4", false, false},  // Refused: INFO stays on.
      {L"--v=2x", false, false},
      {L"--vmodule=log_child=2", true, true},
      {L"--vmodule=log_chi?d=1", true, false},
      {L"--vmodule=other=2", false, false},
      {L"--vmodule=other=2 --v=1", true, false},
      {L"--vmodule=log_child=0 --v=2", false, false},  // The pattern wins.
      // A pattern with a separator is matched against the whole path.
      {L"--vmodule=*/test/log_child*=2", true, true},
      {L"--vmodule=*\\test\\log_child.cc=1", true, false},
      {L"--vmodule=*/other/log_child*=2", false, false},
  };
  base::TempDir temp_dir;
  ASSERT_FALSE(temp_dir.path().empty());
  const base::FilePath log_path = temp_dir.path().Append(L"child.log");
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.switches);
    ASSERT_EQ(0, RunLogChild(log_path, test.switches));
    const std::string log = base::ReadTextFile(log_path);
    // The child deletes the previous run's log: exactly one INFO line.
    const size_t info = log.find(":INFO:log_child.cc(");
    ASSERT_NE(std::string::npos, info) << log;
    EXPECT_EQ(std::string::npos, log.find(":INFO:", info + 1)) << log;
    EXPECT_EQ(test.verbose1,
              log.find(":VERBOSE1:log_child.cc(") != std::string::npos) << log;
    EXPECT_EQ(test.verbose2,
              log.find(":VERBOSE2:log_child.cc(") != std::string::npos) << log;
  }
}

TEST(FatalTest, FatalMessageAndFailedCheckEndTheProcessWithCode1) {
  const struct {
    const wchar_t* switch_name;
    const char* fatal_prefix;
    const char* expected_line;
  } kCases[] = {
      {L"--fatal", ":FATAL:log_child.cc(", "] fatal line\n"},
      {L"--check", ":FATAL:log_child.cc(", "] Check failed: args.size() > 5. \n"},
      // A negative "v" is refused: it cannot lift the minimum severity
      // above FATAL.
      {L"--fatal --v=-4", ":FATAL:log_child.cc(", "] fatal line\n"},
      {L"--check --v=-4", ":FATAL:log_child.cc(", "] Check failed: args.size() > 5. \n"},
      // An empty closure is refused where it is posted, naming the poster.
      {L"--post-null", ":FATAL:incoming_task_queue.cc(",
       "] Check failed: task. Null task posted from main ("},
  };
  base::TempDir temp_dir;
  ASSERT_FALSE(temp_dir.path().empty());
  const base::FilePath log_path = temp_dir.path().Append(L"fatal.log");
  const base::FilePath at_exit_marker = temp_dir.path().Append(L"fatal.log.atexit");
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.switch_name);
    EXPECT_EQ(1, RunLogChild(log_path, test.switch_name));
    const std::string log = base::ReadTextFile(log_path);
    const size_t fatal = log.find(test.fatal_prefix);
    ASSERT_NE(std::string::npos, fatal) << log;
    EXPECT_NE(std::string::npos, log.find(test.expected_line, fatal)) << log;
    // The process ended at once: no at-exit work ran.
    EXPECT_FALSE(base::PathExists(at_exit_marker));
  }
  // A normal end does run it (so the check above can fail).
  EXPECT_EQ(0, RunLogChild(log_path, L""));
  EXPECT_TRUE(base::PathExists(at_exit_marker));
}

}  // namespace
}  // namespace logging
