// Synchronous file-system operations on UTF-16 paths. Each reports failure by
// its result and leaves the thread's last-error value as the failing system
// call set it.
//
// <windows.h> is included on purpose: it renames CreateDirectory, DeleteFile
// and CopyFile to their W forms, and every user of these functions must see
// the same names or the link fails.
#ifndef BASE_FILES_FILE_UTIL_H_
#define BASE_FILES_FILE_UTIL_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/files/file_path.h"
#include "base/time/time.h"

namespace base {

struct FileInfo {
  int64_t size = 0;
  bool is_directory = false;
  Time last_modified;
  Time last_accessed;
  Time creation_time;
};

// True when GetFileAttributesW succeeds for |path|.
bool PathExists(const FilePath& path);
// True when |path| exists and is a directory.
bool DirectoryExists(const FilePath& path);

// Creates |full_path| and every missing ancestor. Succeeds when the
// directory already exists; fails when a file has that name.
[[nodiscard]] bool CreateDirectory(const FilePath& full_path);

// Deletes a file or, with |recursive|, a whole tree. A path that does not
// exist counts as deleted. Refuses paths of 260 characters or more and paths
// holding wildcards (the shell would expand them).
[[nodiscard]] bool DeleteFile(const FilePath& path, bool recursive);

// Moves a file or directory, replacing an existing file at |to|; across
// volumes a directory is copied and then deleted. Refuses paths that
// reference ".." or are 260 characters or longer.
[[nodiscard]] bool Move(const FilePath& from, const FilePath& to);

// Copies one file over |to| and clears the copy's read-only attribute.
[[nodiscard]] bool CopyFile(const FilePath& from, const FilePath& to);

// Writes |size| bytes in one call, replacing the file. Returns the byte
// count, or -1 when the file cannot be opened or not everything was written.
int WriteToFile(const FilePath& path, const char* data, int size);
// As WriteToFile, but appends to a file that must already exist.
int AppendToFile(const FilePath& path, const char* data, int size);
// Reads the whole file into |contents| (emptied first), sharing it with
// writers, so that a file another process appends to can be read.
[[nodiscard]] bool ReadFileToString(const FilePath& path, std::string* contents);

// The user's temporary directory without a trailing separator.
[[nodiscard]] bool GetTempDir(FilePath* path);

[[nodiscard]] bool GetFileInfo(const FilePath& path, FileInfo* info);

}  // namespace base

#endif  // BASE_FILES_FILE_UTIL_H_
