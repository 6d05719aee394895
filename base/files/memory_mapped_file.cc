#include "base/files/memory_mapped_file.h"

#include <windows.h>

#include "base/files/file_path.h"

namespace base {
namespace {

constexpr LONGLONG kMaxMappedLength = 0x7FFFFFFF;

}  // namespace

MemoryMappedFile::~MemoryMappedFile() {
  CloseHandles();
}

bool MemoryMappedFile::Initialize(const FilePath& path) {
  if (IsValid())
    return false;
  file_.Set(::CreateFileW(path.value().c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_.IsValid() || !MapFileToMemory()) {
    CloseHandles();
    return false;
  }
  return true;
}

bool MemoryMappedFile::MapFileToMemory() {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file_.Get(), &size))
    return false;
  // A mapping of zero bytes is an error to the system; larger files than
  // this are not read by the program and would overflow int-sized offsets.
  if (size.QuadPart <= 0 || size.QuadPart > kMaxMappedLength) {
    ::SetLastError(ERROR_FILE_INVALID);
    return false;
  }
  file_mapping_.Set(::CreateFileMappingW(file_.Get(), nullptr, PAGE_READONLY,
                                         0, 0, nullptr));
  if (!file_mapping_.IsValid())
    return false;
  data_ = static_cast<const uint8_t*>(::MapViewOfFile(
      file_mapping_.Get(), FILE_MAP_READ, 0, 0,
      static_cast<SIZE_T>(size.QuadPart)));
  if (!data_)
    return false;
  length_ = static_cast<size_t>(size.QuadPart);
  return true;
}

void MemoryMappedFile::CloseHandles() {
  if (data_)
    ::UnmapViewOfFile(data_);
  data_ = nullptr;
  length_ = 0;
  file_mapping_.Close();
  file_.Close();
}

}  // namespace base
