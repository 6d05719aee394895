// A fresh directory under the user's temporary directory for one test,
// removed with its contents when the object goes away.
#ifndef BASE_TEST_TEMP_DIR_H_
#define BASE_TEST_TEMP_DIR_H_

#include <string>

#include "base/files/file_path.h"

namespace base {

class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  // Empty when the directory could not be created.
  const FilePath& path() const { return path_; }

 private:
  FilePath path_;
};

// Test helpers on whole files.
bool WriteTextFile(const FilePath& path, const std::string& contents);
// The file's bytes; |ok| (if given) tells whether it could be read.
std::string ReadTextFile(const FilePath& path, bool* ok = nullptr);

}  // namespace base

#endif  // BASE_TEST_TEMP_DIR_H_
