// A read-only view of a whole file. Empty files and files over 2^31 - 1
// bytes are refused. The view is unmapped and the file closed on destruction.
#ifndef BASE_FILES_MEMORY_MAPPED_FILE_H_
#define BASE_FILES_MEMORY_MAPPED_FILE_H_

#include <cstddef>
#include <cstdint>

#include "base/win/scoped_handle.h"

namespace base {

class FilePath;

class MemoryMappedFile {
 public:
  MemoryMappedFile() = default;
  MemoryMappedFile(const MemoryMappedFile&) = delete;
  MemoryMappedFile& operator=(const MemoryMappedFile&) = delete;
  ~MemoryMappedFile();

  // Opens and maps |path|. Fails when this object already holds a mapping.
  [[nodiscard]] bool Initialize(const FilePath& path);

  const uint8_t* data() const { return data_; }
  size_t length() const { return length_; }
  bool IsValid() const { return data_ != nullptr; }

 private:
  bool MapFileToMemory();
  void CloseHandles();

  win::ScopedFileHandle file_;
  win::ScopedHandle file_mapping_;
  const uint8_t* data_ = nullptr;
  size_t length_ = 0;
};

}  // namespace base

#endif  // BASE_FILES_MEMORY_MAPPED_FILE_H_
