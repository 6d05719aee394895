// Run-time lookup of functions in system DLLs that are loaded on first use
// (shell32 and friends). The DLL is loaded from the system directory only,
// so a DLL planted beside the program (a downloads folder) is never used.
#ifndef BASE_WIN_SYSTEM_LIBRARY_H_
#define BASE_WIN_SYSTEM_LIBRARY_H_

namespace base {
namespace win {

// Returns the address of |function| in the system DLL |dll_name|, or null.
// The DLL stays loaded for the life of the process.
void* GetSystemFunction(const wchar_t* dll_name, const char* function);

template <typename FunctionType>
FunctionType GetSystemFunctionAs(const wchar_t* dll_name, const char* function) {
  return reinterpret_cast<FunctionType>(GetSystemFunction(dll_name, function));
}

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SYSTEM_LIBRARY_H_
