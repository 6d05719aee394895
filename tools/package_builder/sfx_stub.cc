// The self-extractor header of a Vulmo installer package: a small Windows
// program followed by a 7z archive (and, once signed, the signature).
//
// Vulmo NetInstaller never runs this program: it cuts the file at the first
// 7z signature and unpacks the rest itself. That is why this program must not
// contain the signature bytes anywhere, not even as a constant: the signature
// it looks for is put together at run time (build_package.sh checks the
// built file).
//
//   sfx_stub                          explains what the file is (exit 1)
//   sfx_stub --extract-archive OUT    writes the embedded archive to OUT
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

// The 7z signature, stored inverted so that the program holds no copy of it.
volatile unsigned char kInvertedSignature[6] = {0xC8, 0x85, 0x43,
                                                0x50, 0xD8, 0xE3};

// Returns the offset of the first signature in |data|, or |size|.
size_t FindArchive(const unsigned char* data, size_t size) {
  unsigned char signature[6];
  for (int i = 0; i < 6; ++i)
    signature[i] = static_cast<unsigned char>(~kInvertedSignature[i]);
  for (size_t i = 0; i + 6 <= size; ++i) {
    if (data[i] == signature[0] && std::memcmp(data + i, signature, 6) == 0)
      return i;
  }
  return size;
}

// The end of the data before the certificate table (the whole file when the
// file is not signed).
size_t EndOfContent(const unsigned char* data, size_t size) {
  if (size < 0x40)
    return size;
  DWORD pe = 0;
  std::memcpy(&pe, data + 0x3C, 4);
  if (pe > size || size - pe < 24 + 2)
    return size;
  WORD magic = 0;
  std::memcpy(&magic, data + pe + 24, 2);
  const size_t entry = pe + 24 + (magic == 0x20B ? 112 : 96) + 4 * 8;
  if (entry + 8 > size)
    return size;
  DWORD table = 0;
  std::memcpy(&table, data + entry, 4);
  return table != 0 && table < size ? table : size;
}

int Extract(const wchar_t* target) {
  wchar_t self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return 1;
  HANDLE file = ::CreateFileW(self, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 1;
  LARGE_INTEGER size;
  HANDLE mapping = nullptr;
  const unsigned char* data = nullptr;
  if (::GetFileSizeEx(file, &size) && size.QuadPart > 0)
    mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping)
    data = static_cast<const unsigned char*>(
        ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  int result = 1;
  if (data) {
    const size_t total = static_cast<size_t>(size.QuadPart);
    const size_t end = EndOfContent(data, total);
    const size_t start = FindArchive(data, end);
    if (start == end) {
      std::fprintf(stderr, "No archive found in this package.\n");
    } else {
      HANDLE out = ::CreateFileW(target, GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        const DWORD count = static_cast<DWORD>(end - start);
        if (::WriteFile(out, data + start, count, &written, nullptr) &&
            written == count) {
          result = 0;
        }
        ::CloseHandle(out);
      }
      if (result != 0)
        std::fprintf(stderr, "Cannot write the archive.\n");
    }
    ::UnmapViewOfFile(data);
  }
  if (mapping)
    ::CloseHandle(mapping);
  ::CloseHandle(file);
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"--extract-archive") == 0)
    return Extract(argv[2]);
  std::fprintf(stderr,
               "This is a Vulmo installer package. It is unpacked and run by "
               "Vulmo NetInstaller.\n"
               "To look inside: %ls --extract-archive <out.7z>\n",
               argc > 0 ? argv[0] : L"package.exe");
  return 1;
}
