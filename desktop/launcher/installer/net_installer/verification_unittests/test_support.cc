#include "desktop/launcher/installer/net_installer/verification_unittests/test_support.h"

#include <cstdlib>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"

namespace vulmo {
namespace net_installer {
namespace {

std::wstring Backslashes(std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'/')
      c = L'\\';
  }
  return path;
}

}  // namespace

std::wstring FixturePath(const std::wstring& relative) {
  const wchar_t* root = _wgetenv(L"VULMO_VERIFICATION_FIXTURES");
  if (!root || !*root)
    return std::wstring();
  return Backslashes(std::wstring(root) + L"/" + relative);
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  (void)base::ReadFileToString(base::FilePath(path), &bytes);
  return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  base::win::ScopedFileHandle file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file.IsValid() &&
         ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                     &written, nullptr) &&
         written == bytes.size();
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void VerificationTest::SetUp() {
  ASSERT_FALSE(FixturePath(L"").empty())
      << "VULMO_VERIFICATION_FIXTURES is not set: run through ctest, which "
         "makes the fixtures first (test verification_fixtures)";
  ASSERT_TRUE(IsDirectory(FixturePath(L"signed")))
      << "fixtures missing: run the ctest test verification_fixtures";
  const ::testing::TestInfo* info =
      ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/')
      c = '_';
  }
  scratch_ = FixturePath(L"scratch/" + base::UTF8ToUTF16(name));
  ASSERT_TRUE(base::DeleteFile(base::FilePath(scratch_), true));
  ASSERT_TRUE(base::CreateDirectory(base::FilePath(scratch_)));

  log_path_ = Scratch(L"test.log");
  logging::LoggingSettings settings;
  settings.logging_dest = logging::LOG_TO_FILE;
  settings.log_file = log_path_.c_str();
  settings.lock_log = logging::DONT_LOCK_LOG_FILE;
  settings.delete_old = logging::DELETE_OLD_LOG_FILE;
  ASSERT_TRUE(logging::InitLogging(settings));
}

void VerificationTest::TearDown() {
  // Keep the folder of a failed test for a look at what was written.
  if (!HasFailure() && !scratch_.empty()) {
    // Point the log elsewhere first: an open log file cannot be deleted.
    const std::wstring parking = FixturePath(L"scratch/parked.log");
    logging::LoggingSettings settings;
    settings.log_file = parking.c_str();
    settings.lock_log = logging::DONT_LOCK_LOG_FILE;
    settings.delete_old = logging::APPEND_TO_OLD_LOG_FILE;
    logging::InitLogging(settings);
    EXPECT_TRUE(base::DeleteFile(base::FilePath(scratch_), true));
  }
}

std::wstring VerificationTest::Scratch(const std::wstring& relative) const {
  return Backslashes(scratch_ + L"/" + relative);
}

std::string VerificationTest::LogText() const {
  return ReadFileBytes(log_path_);
}

}  // namespace net_installer
}  // namespace vulmo
