// Shared pieces of the verification tests: where the fixtures are, a scratch
// folder per test, and the log lines a test produced.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_VERIFICATION_UNITTESTS_TEST_SUPPORT_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_VERIFICATION_UNITTESTS_TEST_SUPPORT_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {

// The fixture folder made by make_fixtures.sh (from the environment), joined
// with |relative| ('/' separated). Empty when the environment does not say.
std::wstring FixturePath(const std::wstring& relative);

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);

// Every test gets an empty folder of its own (removed afterwards) and a log
// file inside it that receives this process's log lines.
class VerificationTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // |scratch_| joined with |relative|.
  std::wstring Scratch(const std::wstring& relative) const;
  // Everything logged since SetUp.
  std::string LogText() const;

  std::wstring scratch_;

 private:
  std::wstring log_path_;
};

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_VERIFICATION_UNITTESTS_TEST_SUPPORT_H_
