#include "base/win/system_library.h"

#include <windows.h>

#include <string>

namespace base {
namespace win {

void* GetSystemFunction(const wchar_t* dll_name, const char* function) {
  // LOAD_LIBRARY_SEARCH_SYSTEM32 needs KB2533623 on Windows 7; without it the
  // call fails with ERROR_INVALID_PARAMETER and the full path is used.
  HMODULE module = ::LoadLibraryExW(dll_name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module) {
    wchar_t path[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
      return nullptr;
    std::wstring full_path(path, length);
    full_path += L'\\';
    full_path += dll_name;
    module = ::LoadLibraryW(full_path.c_str());
  }
  if (!module)
    return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(module, function));
}

}  // namespace win
}  // namespace base
