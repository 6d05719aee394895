#include "base/files/file_util.h"

#include <shellapi.h>
#include <stdlib.h>

#include <string>

#include "base/win/scoped_handle.h"
#include "base/win/system_library.h"

namespace base {
namespace {

// The system calls below take fixed 260-character buffers.
constexpr size_t kMaxPathLength = MAX_PATH;

// SHFileOperationW's documented results for a missing source on some
// systems, besides ERROR_FILE_NOT_FOUND: DE_INVALIDFILES and a path whose
// parent is missing.
constexpr int kShellPathNotFound = 0x7C;
constexpr int kShellInvalidFiles = 0x402;

using SHFileOperationFunction = int(WINAPI*)(LPSHFILEOPSTRUCTW);

// Sets the error a system call would give for the over-long path.
bool IsTooLong(const FilePath& path) {
  if (path.value().size() < kMaxPathLength)
    return false;
  ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return true;
}

bool HasWildcard(const FilePath& path) {
  return path.value().find_first_of(L"*?") != FilePath::StringType::npos;
}

bool IsDirectoryAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The runtime library's absolute form of |path|, or empty.
FilePath MakeAbsolute(const FilePath& path) {
  wchar_t buffer[kMaxPathLength];
  if (!_wfullpath(buffer, path.value().c_str(), kMaxPathLength))
    return FilePath();
  return FilePath(buffer);
}

wchar_t FoldCase(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Whether |inner| is |outer| or lies below it (whole components only; file
// names compare case-insensitively, ASCII letters are enough for this).
bool IsSameOrInside(const FilePath& outer, const FilePath& inner) {
  FilePath outer_path = outer;
  outer_path.StripTrailingSeparators();
  const FilePath::StringType& a = outer_path.value();
  const FilePath::StringType& b = inner.value();
  if (b.size() < a.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const bool both_separators =
        FilePath::IsSeparator(a[i]) && FilePath::IsSeparator(b[i]);
    if (!both_separators && FoldCase(a[i]) != FoldCase(b[i]))
      return false;
  }
  return b.size() == a.size() || FilePath::IsSeparator(b[a.size()]) ||
         (!a.empty() && FilePath::IsSeparator(a.back()));
}

bool CreateDirectoryIfMissing(const FilePath& path) {
  if (DirectoryExists(path))
    return true;
  return ::CreateDirectoryW(path.value().c_str(), nullptr) != 0;
}

bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Copies the tree at |from| to |to| (used by Move across volumes). Stops at
// the first failure; a reparse point (junction, symbolic link) in the tree is
// one. The walk is depth-first in directory listing order.
bool CopyDirectoryTree(const FilePath& from, const FilePath& to) {
  if (IsTooLong(from) || IsTooLong(to))
    return false;
  const FilePath absolute_from = MakeAbsolute(from);
  const FilePath absolute_to = MakeAbsolute(to);
  if (absolute_from.empty() || absolute_to.empty())
    return false;
  // Copying a tree into itself would never end.
  if (IsSameOrInside(absolute_from, absolute_to)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // A junction or symbolic link leads into another tree, which Move would
  // then delete as part of the source: never walk through one.
  if (IsReparsePoint(::GetFileAttributesW(from.value().c_str()))) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  if (!CreateDirectoryIfMissing(to))
    return false;

  WIN32_FIND_DATAW find_data;
  HANDLE find = ::FindFirstFileW(from.Append(L"*").value().c_str(), &find_data);
  if (find == INVALID_HANDLE_VALUE)
    return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  bool ok = true;
  do {
    const std::wstring name = find_data.cFileName;
    if (name == FilePath::kCurrentDirectory || name == FilePath::kParentDirectory)
      continue;
    const FilePath source = from.Append(name);
    const FilePath target = to.Append(name);
    if (IsReparsePoint(find_data.dwFileAttributes)) {
      ::SetLastError(ERROR_CANT_ACCESS_FILE);
      ok = false;
    } else if (find_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = CopyDirectoryTree(source, target);
    } else {
      ok = CopyFile(source, target);
    }
  } while (ok && ::FindNextFileW(find, &find_data));
  const DWORD error = ::GetLastError();
  ::FindClose(find);
  if (ok && error != ERROR_NO_MORE_FILES) {
    ::SetLastError(error);
    return false;
  }
  ::SetLastError(error);
  return ok;
}

// One all-or-nothing WriteFile on an opened handle.
int WriteAll(HANDLE file, const char* data, int size) {
  DWORD written = 0;
  if (!::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr))
    return -1;
  if (written != static_cast<DWORD>(size)) {
    ::SetLastError(ERROR_WRITE_FAULT);
    return -1;
  }
  return size;
}

}  // namespace

bool PathExists(const FilePath& path) {
  return ::GetFileAttributesW(path.value().c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool DirectoryExists(const FilePath& path) {
  return IsDirectoryAttributes(::GetFileAttributesW(path.value().c_str()));
}

bool CreateDirectory(const FilePath& full_path) {
  const DWORD attributes = ::GetFileAttributesW(full_path.value().c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (IsDirectoryAttributes(attributes))
      return true;
    ::SetLastError(ERROR_ALREADY_EXISTS);  // A file has that name.
    return false;
  }
  const FilePath parent = full_path.DirName();
  if (parent == full_path) {
    ::SetLastError(ERROR_PATH_NOT_FOUND);  // A root that does not exist.
    return false;
  }
  if (!CreateDirectory(parent))
    return false;
  if (::CreateDirectoryW(full_path.value().c_str(), nullptr))
    return true;
  // Another process may have created it in between.
  const DWORD error = ::GetLastError();
  if (error == ERROR_ALREADY_EXISTS && DirectoryExists(full_path))
    return true;
  ::SetLastError(error);
  return false;
}

bool DeleteFile(const FilePath& path, bool recursive) {
  if (IsTooLong(path))
    return false;
  if (path.empty())
    return true;
  if (HasWildcard(path)) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }

  if (!recursive) {
    if (DirectoryExists(path))
      return ::RemoveDirectoryW(path.value().c_str()) != 0;
    if (::DeleteFileW(path.value().c_str()))
      return true;
  }

  static const SHFileOperationFunction file_operation =
      win::GetSystemFunctionAs<SHFileOperationFunction>(L"shell32.dll",
                                                        "SHFileOperationW");
  if (!file_operation)
    return false;

  // The shell takes a list of paths ended by an empty one.
  wchar_t double_terminated[kMaxPathLength + 1] = {};
  path.value().copy(double_terminated, path.value().size());

  SHFILEOPSTRUCTW operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = double_terminated;
  operation.fFlags = FOF_NOERRORUI | FOF_SILENT | FOF_NOCONFIRMATION;
  if (!recursive)
    operation.fFlags |= FOF_NORECURSION | FOF_FILESONLY;
  const int result = file_operation(&operation);
  if (operation.fAnyOperationsAborted)
    return false;
  return result == 0 || result == ERROR_FILE_NOT_FOUND ||
         result == kShellPathNotFound || result == kShellInvalidFiles;
}

bool Move(const FilePath& from, const FilePath& to) {
  if (IsTooLong(from) || IsTooLong(to))
    return false;
  if (from.ReferencesParent() || to.ReferencesParent()) {
    ::SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  if (::MoveFileExW(from.value().c_str(), to.value().c_str(),
                    MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING)) {
    return true;
  }
  // MoveFileExW cannot move a directory to another volume.
  const DWORD move_error = ::GetLastError();
  if (DirectoryExists(from) && CopyDirectoryTree(from, to) &&
      DeleteFile(from, true)) {
    return true;
  }
  ::SetLastError(move_error);
  return false;
}

bool CopyFile(const FilePath& from, const FilePath& to) {
  if (IsTooLong(from) || IsTooLong(to))
    return false;
  if (!::CopyFileW(from.value().c_str(), to.value().c_str(), FALSE))
    return false;
  // A copy of a read-only file is read-only too; the caller will want to
  // replace or delete it later.
  const DWORD attributes = ::GetFileAttributesW(to.value().c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY)) {
    ::SetFileAttributesW(to.value().c_str(),
                         attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  return true;
}

int WriteToFile(const FilePath& path, const char* data, int size) {
  if (size < 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  win::ScopedFileHandle file(::CreateFileW(path.value().c_str(), GENERIC_WRITE,
                                           0, nullptr, CREATE_ALWAYS, 0,
                                           nullptr));
  if (!file.IsValid())
    return -1;
  return WriteAll(file.Get(), data, size);
}

bool ReadFileToString(const FilePath& path, std::string* contents) {
  contents->clear();
  win::ScopedFileHandle file(::CreateFileW(
      path.value().c_str(), GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid())
    return false;
  char buffer[65536];
  DWORD read = 0;
  while (::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) &&
         read > 0) {
    contents->append(buffer, read);
  }
  return true;
}

int AppendToFile(const FilePath& path, const char* data, int size) {
  if (size < 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  win::ScopedFileHandle file(::CreateFileW(path.value().c_str(),
                                           FILE_APPEND_DATA, 0, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid())
    return -1;
  return WriteAll(file.Get(), data, size);
}

bool GetTempDir(FilePath* path) {
  wchar_t buffer[kMaxPathLength];
  const DWORD length = ::GetTempPathW(kMaxPathLength, buffer);
  if (length == 0 || length >= kMaxPathLength)
    return false;
  *path = FilePath(FilePath::StringType(buffer, length));
  path->StripTrailingSeparators();
  return true;
}

bool GetFileInfo(const FilePath& path, FileInfo* info) {
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  if (!::GetFileAttributesExW(path.value().c_str(), GetFileExInfoStandard,
                              &attributes)) {
    return false;
  }
  ULARGE_INTEGER size;
  size.HighPart = attributes.nFileSizeHigh;
  size.LowPart = attributes.nFileSizeLow;
  info->size = static_cast<int64_t>(size.QuadPart);
  info->is_directory =
      (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->last_modified = Time::FromFileTime(attributes.ftLastWriteTime);
  info->last_accessed = Time::FromFileTime(attributes.ftLastAccessTime);
  info->creation_time = Time::FromFileTime(attributes.ftCreationTime);
  return true;
}

}  // namespace base
