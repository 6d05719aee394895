// package_check <archive.7z> <output folder>
//
// Unpacks a package's 7z archive with the installer's own extraction code
// (LzmaUtil over the LZMA SDK, as the installer links it), so that the
// package builder can refuse a package the installer could not unpack. On
// failure it names the item and why: a name the installer refuses, a
// compression method its decoder lacks, damaged data or a write failure.
// The installer's own log lines go to <output folder>.log.
// Exit codes: 0 unpacked, 1 refused, 2 usage.
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/net_installer/extraction_observer.h"
#include "desktop/launcher/installer/net_installer/lzma_util.h"

#include "7z.h"
#include "7zAlloc.h"
#include "7zCrc.h"
#include "7zFile.h"

namespace {

using vulmo::net_installer::LzmaUtil;

const ISzAlloc kAllocator = {SzAlloc, SzFree};

// Remembers which item the extraction reached, to describe a failure.
class ItemTracker : public vulmo::net_installer::ExtractionObserver {
 public:
  void SetProgressRange(uint32_t) override {}
  void SetProgress(uint32_t position) override { item = position; }

  uint32_t item = 0;
};

// 7z method ids, for naming them in messages only: which ones the installer
// decodes is decided by its decoder, not by this table.
const char* MethodName(UInt32 id) {
  switch (id) {
    case 0x00: return "Copy";
    case 0x03: return "Delta";
    case 0x04: case 0x03030103: return "BCJ";
    case 0x0303011B: return "BCJ2";
    case 0x05: case 0x03030205: return "PPC";
    case 0x06: case 0x03030401: return "IA64";
    case 0x07: case 0x03030501: return "ARM";
    case 0x08: case 0x03030701: return "ARMT";
    case 0x09: case 0x03030805: return "SPARC";
    case 0x0A: return "ARM64";
    case 0x0B: return "RISCV";
    case 0x21: return "LZMA2";
    case 0x030101: return "LZMA";
    case 0x030401: return "PPMd";
    case 0x040108: return "Deflate";
    case 0x040109: return "Deflate64";
    case 0x040202: return "BZip2";
    case 0x06F10701: return "7zAES";
    default: return nullptr;
  }
}

// The methods of the folder (solid block) holding |item|, e.g. "BCJ LZMA2".
std::string FolderMethods(const CSzArEx& db, UInt32 item) {
  const UInt32 folder = db.FileToFolder[item];
  if (folder == static_cast<UInt32>(-1))
    return "none (no data)";
  CSzData data;
  data.Data = db.db.CodersData + db.db.FoCodersOffsets[folder];
  data.Size = db.db.FoCodersOffsets[folder + 1] - db.db.FoCodersOffsets[folder];
  CSzFolder parsed;
  if (SzGetNextFolderItem(&parsed, &data) != SZ_OK)
    return "unreadable";
  std::string names;
  for (UInt32 c = 0; c < parsed.NumCoders; ++c) {
    const UInt32 id = parsed.Coders[c].MethodID;
    if (!names.empty())
      names += ' ';
    char hex[16];
    const char* name = MethodName(id);
    if (!name) {
      std::snprintf(hex, sizeof(hex), "id %lX", static_cast<unsigned long>(id));
      name = hex;
    }
    names += name;
  }
  return names;
}

std::string ItemName(const CSzArEx& db, UInt32 item) {
  const size_t length = SzArEx_GetFileNameUtf16(&db, item, nullptr);
  if (length == 0)
    return "(no name)";
  std::wstring name(length, L'\0');
  SzArEx_GetFileNameUtf16(&db, item, reinterpret_cast<UInt16*>(&name[0]));
  name.resize(length - 1);
  return base::UTF16ToUTF8(name);
}

// Reopens the archive with the decoder alone and says why |item| failed.
void DescribeFailure(const wchar_t* archive_path, UInt32 item, DWORD result) {
  CFileInStream file;
  FileInStream_CreateVTable(&file);
  if (InFile_OpenW(&file.file, archive_path) != 0) {
    std::fprintf(stderr, "package_check: cannot reopen the archive\n");
    return;
  }
  static Byte look_buffer[1 << 14];
  CLookToRead2 look;
  LookToRead2_CreateVTable(&look, False);
  look.buf = look_buffer;
  look.bufSize = sizeof(look_buffer);
  look.realStream = &file.vt;
  LookToRead2_INIT(&look);
  CrcGenerateTable();

  CSzArEx db;
  SzArEx_Init(&db);
  const SRes opened = SzArEx_Open(&db, &look.vt, &kAllocator, &kAllocator);
  if (opened != SZ_OK) {
    std::fprintf(stderr,
                 "package_check: the installer cannot open the archive "
                 "(decoder error %d)\n",
                 opened);
  } else if (result == LzmaUtil::kUnsafeItemName) {
    std::fprintf(stderr,
                 "package_check: the installer refuses the item name \"%s\" "
                 "(it leaves the installation folder or is no valid Windows "
                 "file name)\n",
                 ItemName(db, item).c_str());
  } else if (result != LzmaUtil::kArchiveError) {
    std::fprintf(stderr,
                 "package_check: writing \"%s\" failed with Windows error "
                 "%lu\n",
                 ItemName(db, item).c_str(), static_cast<unsigned long>(result));
  } else {
    UInt32 block = 0xFFFFFFFF;
    Byte* out = nullptr;
    size_t out_size = 0, offset = 0, size = 0;
    const SRes extracted = SzArEx_Extract(&db, &look.vt, item, &block, &out,
                                          &out_size, &offset, &size, &kAllocator,
                                          &kAllocator);
    ISzAlloc_Free(&kAllocator, out);
    const std::string name = ItemName(db, item);
    const std::string methods = FolderMethods(db, item);
    if (extracted == SZ_ERROR_UNSUPPORTED) {
      std::fprintf(stderr,
                   "package_check: the installer cannot decode \"%s\": "
                   "unsupported method (%s)\n",
                   name.c_str(), methods.c_str());
    } else {
      std::fprintf(stderr,
                   "package_check: the installer cannot decode \"%s\" "
                   "(methods %s, decoder error %d)\n",
                   name.c_str(), methods.c_str(), extracted);
    }
  }
  SzArEx_Free(&db, &kAllocator);
  File_Close(&file.file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: package_check ARCHIVE.7z OUTPUT_FOLDER\n");
    return 2;
  }
  const std::wstring log_path = std::wstring(argv[2]) + L".log";
  logging::LoggingSettings settings;
  settings.log_file = log_path.c_str();
  settings.delete_old = logging::DELETE_OLD_LOG_FILE;
  if (!logging::InitLogging(settings))
    std::fprintf(stderr, "package_check: cannot open the log file\n");

  LzmaUtil lzma;
  ItemTracker tracker;
  lzma.SetObserver(&tracker);
  DWORD result = lzma.OpenArchive(argv[1]);
  if (result != 0) {
    std::fprintf(stderr, "package_check: cannot open %s (Windows error %lu)\n",
                 base::UTF16ToUTF8(argv[1]).c_str(),
                 static_cast<unsigned long>(result));
    return 1;
  }
  result = lzma.ExtractArchive(argv[2]);
  lzma.CloseArchive();
  if (result == 0)
    return 0;
  DescribeFailure(argv[1], tracker.item, result);
  return 1;
}
