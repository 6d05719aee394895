#include "base/test/temp_dir.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "base/files/file_util.h"

namespace base {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  FilePath temp;
  if (!GetTempDir(&temp))
    return;
  const std::wstring name = L"vulmo_base_test_" +
                            std::to_wstring(::GetCurrentProcessId()) + L"_" +
                            std::to_wstring(counter++);
  const FilePath candidate = temp.Append(name);
  (void)DeleteFile(candidate, true);  // Left over from a killed run.
  if (CreateDirectory(candidate))
    path_ = candidate;
}

TempDir::~TempDir() {
  if (!path_.empty())
    (void)DeleteFile(path_, true);
}

bool WriteTextFile(const FilePath& path, const std::string& contents) {
  return WriteToFile(path, contents.data(), static_cast<int>(contents.size())) ==
         static_cast<int>(contents.size());
}

std::string ReadTextFile(const FilePath& path, bool* ok) {
  std::string contents;
  const bool read = ReadFileToString(path, &contents);
  if (ok)
    *ok = read;
  return contents;
}

}  // namespace base
