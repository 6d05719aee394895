// Unpacks a 7z archive into a directory through the LZMA SDK's 7z decoder.
//
// Threading: one object is used by one thread at a time (the extraction
// worker). The observer is called on that thread; the cancel flag is the only
// value another thread may touch while ExtractArchive runs.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_LZMA_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_LZMA_UTIL_H_

#include <atomic>
#include <set>
#include <string>

#include "base/win/scoped_handle.h"

namespace base {
class FilePath;
}

namespace vulmo {
namespace net_installer {

class ExtractionObserver;

class LzmaUtil {
 public:
  // Result of ExtractArchive for any archive-level failure (no archive open,
  // unreadable archive, damaged item, item without a name).
  static constexpr DWORD kArchiveError = 6;
  // An item name that would leave the output directory (rooted, drive or UNC
  // prefix, a ".." component, a component of only dots and spaces, a device
  // name) or that holds a character file names cannot hold. The extraction
  // stops before anything is written for that item.
  static constexpr DWORD kUnsafeItemName = ERROR_INVALID_NAME;
  // A write that wrote less than asked without a platform error code.
  static constexpr DWORD kShortWrite = ERROR_WRITE_FAULT;
  // The cancel flag was set; extraction stopped before the next item.
  static constexpr DWORD kCancelled = ERROR_CANCELLED;

  LzmaUtil();
  LzmaUtil(const LzmaUtil&) = delete;
  LzmaUtil& operator=(const LzmaUtil&) = delete;
  ~LzmaUtil();

  // Not owned; may be null. Must outlive ExtractArchive.
  void SetObserver(ExtractionObserver* observer) { observer_ = observer; }
  // Not owned; may be null. When another thread sets it, extraction stops
  // before the next item with kCancelled.
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

  // Closes any open archive, then opens |archive_path| for reading.
  // Returns 0, or the platform's error code.
  [[nodiscard]] DWORD OpenArchive(const std::wstring& archive_path);

  // Writes every item of the open archive below |output_directory|, in
  // archive order. Returns 0; kArchiveError; kUnsafeItemName; kCancelled;
  // or the platform's error code of a failed output-file operation
  // (kShortWrite when a short write has none). Items written before a
  // failure stay on disk.
  [[nodiscard]] DWORD ExtractArchive(const std::wstring& output_directory);

  void CloseArchive();

  // True when |name| (as stored in an archive) stays below the directory it
  // is appended to. A reserved device name (CON, NUL, COM1, ... with any
  // extension) does not: the platform opens the device instead of a file.
  static bool IsSafeItemName(const std::wstring& name);
  // True when |name| holds none of the characters Windows does not allow in
  // file names (control characters, < > " | ? *); CreateFileW would fail
  // on them anyway, with kUnsafeItemName's code.
  static bool HasOnlyValidCharacters(const std::wstring& name);

 private:
  // Creates |path| and its missing ancestors once per object. A failure is
  // not reported: it shows as the failure to create a file inside.
  void EnsureDirectory(const base::FilePath& path);

  base::win::ScopedFileHandle archive_file_;
  // Compared by code units: one directory in two letter cases is two entries.
  std::set<std::wstring> ensured_directories_;
  ExtractionObserver* observer_ = nullptr;
  const std::atomic<bool>* cancel_ = nullptr;
};

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_LZMA_UTIL_H_
