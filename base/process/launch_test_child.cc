// A child program for the launcher's tests. Switches, each optional:
//   --argv-file=PATH       write every argument (argv[0] first), one per line,
//                          as UTF-8
//   --startup-file=PATH    write "<dwFlags> <wShowWindow>" of its start-up info
//   --write-handle=HANDLE  write "inherited" to HANDLE (decimal); exit 1 if
//                          that fails
//   --print=TEXT           write TEXT to standard output
//   --sleep-ms=N           sleep N ms before exiting
//   --exit-code=N          exit with N (default 0)
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* prefix,
                std::wstring* rest) {
  const std::wstring p(prefix);
  if (text.compare(0, p.size(), p) != 0)
    return false;
  *rest = text.substr(p.size());
  return true;
}

std::string ToUtf8(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(),
                                         static_cast<int>(text.size()), nullptr,
                                         0, nullptr, nullptr);
  std::string out(size, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                        &out[0], size, nullptr, nullptr);
  return out;
}

void WriteFileText(const std::wstring& path, const std::string& text) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    ::ExitProcess(100);
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
  ::CloseHandle(file);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv)
    return 101;
  int exit_code = 0;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    std::wstring value;
    if (StartsWith(arg, L"--argv-file=", &value)) {
      std::string text;
      for (int j = 0; j < argc; ++j)
        text += ToUtf8(argv[j]) + "\n";
      WriteFileText(value, text);
    } else if (StartsWith(arg, L"--startup-file=", &value)) {
      STARTUPINFOW startup_info = {};
      startup_info.cb = sizeof(startup_info);
      ::GetStartupInfoW(&startup_info);
      WriteFileText(value, std::to_string(startup_info.dwFlags) + " " +
                               std::to_string(startup_info.wShowWindow));
    } else if (StartsWith(arg, L"--write-handle=", &value)) {
      HANDLE handle = reinterpret_cast<HANDLE>(
          static_cast<uintptr_t>(std::wcstoull(value.c_str(), nullptr, 10)));
      static const char kText[] = "inherited";
      DWORD written = 0;
      if (!::WriteFile(handle, kText, sizeof(kText) - 1, &written, nullptr))
        exit_code = 1;
    } else if (StartsWith(arg, L"--print=", &value)) {
      const std::string text = ToUtf8(value);
      DWORD written = 0;
      ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
                  static_cast<DWORD>(text.size()), &written, nullptr);
    } else if (StartsWith(arg, L"--sleep-ms=", &value)) {
      ::Sleep(static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10)));
    } else if (StartsWith(arg, L"--exit-code=", &value)) {
      exit_code = static_cast<int>(std::wcstol(value.c_str(), nullptr, 10));
    }
  }
  ::LocalFree(argv);
  return exit_code;
}
