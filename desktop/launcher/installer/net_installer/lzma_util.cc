#include "desktop/launcher/installer/net_installer/lzma_util.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/launcher/installer/net_installer/extraction_observer.h"

#include "7z.h"
#include "7zCrc.h"

namespace vulmo {
namespace net_installer {
namespace {

// The look-ahead reader's buffer. Exact mode never reads beyond what the
// decoder asks for, so this only bounds the size of one read.
constexpr size_t kLookBufferSize = 16384;

// The decoder's block cache starts empty.
constexpr UInt32 kNoBlock = 0xFFFFFFFF;

void* AllocateBlock(ISzAllocPtr, size_t size) {
  return size == 0 ? nullptr : std::malloc(size);
}

void FreeBlock(ISzAllocPtr, void* address) {
  std::free(address);
}

// One pair serves as both the main and the temporary allocator.
const ISzAlloc kAllocator = {AllocateBlock, FreeBlock};

// The decoder's seekable input over the open archive file. |vt| comes first
// so that the decoder's interface pointer is also a pointer to this record.
struct FileInStream {
  ISeekInStream vt;
  HANDLE file;
};

const FileInStream* FromInterface(ISeekInStreamPtr stream) {
  return reinterpret_cast<const FileInStream*>(stream);
}

SRes ReadArchive(ISeekInStreamPtr stream, void* buffer, size_t* size) {
  if (*size == 0)
    return SZ_OK;
  const HANDLE file = FromInterface(stream)->file;
  Byte* out = static_cast<Byte*>(buffer);
  size_t done = 0;
  while (done < *size) {
    const size_t rest = *size - done;
    const DWORD ask =
        rest > 0x80000000u ? 0x80000000u : static_cast<DWORD>(rest);
    DWORD got = 0;
    if (!::ReadFile(file, out + done, ask, &got, nullptr)) {
      // The decoder sees the data come up short and fails on its own.
      *size = done;
      return SZ_OK;
    }
    if (got == 0)
      return SZ_ERROR_READ;  // End of file before the request was filled.
    done += got;
  }
  return SZ_OK;
}

SRes SeekArchive(ISeekInStreamPtr stream, Int64* position, ESzSeek origin) {
  DWORD method;
  switch (origin) {
    case SZ_SEEK_SET:
      method = FILE_BEGIN;
      break;
    case SZ_SEEK_CUR:
      method = FILE_CURRENT;
      break;
    case SZ_SEEK_END:
      method = FILE_END;
      break;
    default:
      return SZ_ERROR_PARAM;
  }
  const UInt64 distance = static_cast<UInt64>(*position);
  LONG high = static_cast<LONG>(distance >> 32);
  // 0xFFFFFFFF is also a valid low half; only the error code tells apart.
  ::SetLastError(NO_ERROR);
  const DWORD low =
      ::SetFilePointer(FromInterface(stream)->file,
                       static_cast<LONG>(distance & 0xFFFFFFFF), &high, method);
  if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR)
    return SZ_ERROR_FAIL;
  *position = static_cast<Int64>(
      (static_cast<UInt64>(static_cast<DWORD>(high)) << 32) | low);
  return SZ_OK;
}

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 and the console's CONIN$ and
// CONOUT$, in any letter case, alone or before an extension ("nul.txt"), and
// with trailing spaces ("con .txt").
bool IsDeviceName(const std::wstring& component) {
  std::wstring base = component.substr(0, component.find(L'.'));
  base.erase(base.find_last_not_of(L' ') + 1);
  for (wchar_t& c : base) {
    if (c >= L'a' && c <= L'z')
      c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" ||
      base == L"CONIN$" || base == L"CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 ||
                              base.compare(0, 3, L"LPT") == 0) &&
         base[3] >= L'1' && base[3] <= L'9';
}

// Releases the decoder's database and its block cache on every path.
class ArchiveDatabase {
 public:
  ArchiveDatabase() { SzArEx_Init(&db_); }
  ArchiveDatabase(const ArchiveDatabase&) = delete;
  ArchiveDatabase& operator=(const ArchiveDatabase&) = delete;
  ~ArchiveDatabase() {
    ISzAlloc_Free(&kAllocator, out_buffer);
    SzArEx_Free(&db_, &kAllocator);
  }

  CSzArEx* db() { return &db_; }

  // The solid-block cache: the decoded block stays here across items.
  UInt32 block_index = kNoBlock;
  Byte* out_buffer = nullptr;
  size_t out_buffer_size = 0;

 private:
  CSzArEx db_;
};

// Writes |size| bytes; one call unless the item exceeds what one call takes.
bool WriteAll(HANDLE file, const Byte* data, size_t size) {
  do {
    const DWORD ask =
        size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file, data, ask, &written, nullptr) || written != ask)
      return false;
    data += ask;
    size -= ask;
  } while (size > 0);
  return true;
}

}  // namespace

LzmaUtil::LzmaUtil() = default;

LzmaUtil::~LzmaUtil() {
  CloseArchive();
  ensured_directories_.clear();
}

DWORD LzmaUtil::OpenArchive(const std::wstring& archive_path) {
  CloseArchive();
  archive_file_.Set(::CreateFileW(archive_path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!archive_file_.IsValid())
    return ::GetLastError();
  return 0;
}

void LzmaUtil::CloseArchive() {
  archive_file_.Close();
}

// static
bool LzmaUtil::IsSafeItemName(const std::wstring& name) {
  // A leading separator roots the path (or starts a UNC or device path); a
  // colon is a drive letter or an alternate data stream.
  if (!name.empty() && IsSeparator(name[0]))
    return false;
  if (name.find(L':') != std::wstring::npos)
    return false;
  // Components of only dots and spaces: "..", and the forms that the
  // platform's trimming of trailing dots and spaces may turn into it.
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end]))
      ++end;
    const std::wstring component = name.substr(start, end - start);
    if (!component.empty() && component != L"." &&
        component.find_first_not_of(L". ") == std::wstring::npos) {
      return false;
    }
    if (IsDeviceName(component))
      return false;
    start = end + 1;
  }
  return true;
}

// static
bool LzmaUtil::HasOnlyValidCharacters(const std::wstring& name) {
  for (const wchar_t c : name) {
    if (c < 32 || std::wcschr(L"<>\"|?*", c))
      return false;
  }
  return true;
}

void LzmaUtil::EnsureDirectory(const base::FilePath& path) {
  if (ensured_directories_.count(path.value()))
    return;
  if (base::CreateDirectory(path))
    ensured_directories_.insert(path.value());
}

DWORD LzmaUtil::ExtractArchive(const std::wstring& output_directory) {
  if (!archive_file_.IsValid())
    return kArchiveError;

  FileInStream archive_stream;
  archive_stream.vt.Read = ReadArchive;
  archive_stream.vt.Seek = SeekArchive;
  archive_stream.file = archive_file_.Get();

  std::unique_ptr<Byte[]> look_buffer(new Byte[kLookBufferSize]);
  CLookToRead2 look_stream;
  LookToRead2_CreateVTable(&look_stream, False);
  look_stream.buf = look_buffer.get();
  look_stream.bufSize = kLookBufferSize;
  look_stream.realStream = &archive_stream.vt;
  LookToRead2_INIT(&look_stream);

  CrcGenerateTable();

  // The decoder takes the stream's current position as the archive's start,
  // and an earlier extraction leaves it elsewhere.
  if (::SetFilePointer(archive_file_.Get(), 0, nullptr, FILE_BEGIN) ==
      INVALID_SET_FILE_POINTER) {
    const DWORD error = ::GetLastError();
    LOG(ERROR) << "Error returned by SetFilePointer: " << error;
    return kArchiveError;
  }

  ArchiveDatabase archive;
  CSzArEx* db = archive.db();
  const SRes open_result =
      SzArEx_Open(db, &look_stream.vt, &kAllocator, &kAllocator);
  if (open_result != SZ_OK) {
    LOG(ERROR) << "Error returned by SzArchiveOpen: " << open_result;
    return kArchiveError;
  }

  if (observer_)
    observer_->SetProgressRange(db->NumFiles);

  const base::FilePath output(output_directory);
  for (UInt32 i = 0; i < db->NumFiles; ++i) {
    if (cancel_ && cancel_->load()) {
      LOG(INFO) << "Extraction cancelled";
      return kCancelled;
    }
    if (observer_)
      observer_->SetProgress(i);

    size_t offset = 0;
    size_t item_size = 0;
    const SRes extract_result =
        SzArEx_Extract(db, &look_stream.vt, i, &archive.block_index,
                       &archive.out_buffer, &archive.out_buffer_size, &offset,
                       &item_size, &kAllocator, &kAllocator);
    if (extract_result != SZ_OK) {
      LOG(ERROR) << "Error returned by SzExtract: " << extract_result;
      return kArchiveError;
    }

    const size_t name_length = SzArEx_GetFileNameUtf16(db, i, nullptr);
    if (name_length == 0) {
      LOG(ERROR) << "Couldn't get file name";
      return kArchiveError;
    }
    std::unique_ptr<UInt16[]> name_buffer(new UInt16[name_length]());
    SzArEx_GetFileNameUtf16(db, i, name_buffer.get());
    std::wstring name(name_length - 1, L'\0');
    for (size_t c = 0; c + 1 < name_length; ++c)
      name[c] = static_cast<wchar_t>(name_buffer[c]);

    // The package has passed its checksum and signature checks, but an item
    // name must still not reach outside the output directory.
    if (!IsSafeItemName(name)) {
      LOG(ERROR) << "Refusing item name outside the output directory: " << name;
      return kUnsafeItemName;
    }
    if (!HasOnlyValidCharacters(name)) {
      LOG(ERROR) << "Refusing item name with a character file names cannot "
                    "hold: "
                 << name;
      return kUnsafeItemName;
    }

    const base::FilePath full_path = output.Append(name);
    if (SzArEx_IsDir(db, i)) {
      EnsureDirectory(full_path);
      continue;
    }
    EnsureDirectory(full_path.DirName());

    base::win::ScopedFileHandle file(
        ::CreateFileW(full_path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
      const DWORD error = ::GetLastError();
      LOG(ERROR) << "Error returned by CreateFile: " << error;
      return error;
    }

    // An empty item may come from an empty block, which has no buffer.
    static const Byte kNoData = 0;
    const Byte* data =
        archive.out_buffer ? archive.out_buffer + offset : &kNoData;
    if (!WriteAll(file.Get(), data, item_size)) {
      const DWORD error = ::GetLastError();
      file.Close();
      LOG(ERROR) << "Error returned by WriteFile: " << error;
      return error != 0 ? error : kShortWrite;
    }

    if (SzBitWithVals_Check(&db->MTime, i)) {
      const CNtfsFileTime& stored = db->MTime.Vals[i];
      FILETIME modified;
      modified.dwLowDateTime = stored.Low;
      modified.dwHighDateTime = stored.High;
      if (!::SetFileTime(file.Get(), nullptr, nullptr, &modified)) {
        const DWORD error = ::GetLastError();
        file.Close();
        LOG(ERROR) << "Error returned by SetFileTime: " << error;
        return error;
      }
    }

    if (!::CloseHandle(file.Take())) {
      const DWORD error = ::GetLastError();
      LOG(ERROR) << "Error returned by CloseHandle: " << error;
      return error;
    }
  }
  return 0;
}

}  // namespace net_installer
}  // namespace vulmo
