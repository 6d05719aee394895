// A stand-in for the real installer.exe inside test and demo packages. It
// records what it received (its command line, its words as the platform
// splits them, and the files beside it) as JSON to the file named by the
// environment variable VULMO_STANDIN_REPORT, then exits with the code in
// VULMO_STANDIN_EXIT_CODE (default 0). With VULMO_STANDIN_SHOW=1 it also
// shows what it received in a message box (the demo).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty())
    return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                         static_cast<int>(text.size()), nullptr,
                                         0, nullptr, nullptr);
  std::string out(size, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                        &out[0], size, nullptr, nullptr);
  return out;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::wstring GetEnv(const wchar_t* name) {
  wchar_t buffer[4096];
  const DWORD length = ::GetEnvironmentVariableW(name, buffer, 4096);
  return length > 0 && length < 4096 ? std::wstring(buffer, length) : std::wstring();
}

std::string ReadSmallFile(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return std::string();
  std::string content(64 * 1024, '\0');
  DWORD read = 0;
  ::ReadFile(file, &content[0], static_cast<DWORD>(content.size()), &read, nullptr);
  ::CloseHandle(file);
  content.resize(read);
  return content;
}

std::wstring ExeDirectory() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring directory(path, length);
  return directory.substr(0, directory.rfind(L'\\'));
}

// Files directly beside the program, with their sizes; the two files that
// the network installer writes are also recorded with their content.
std::string DescribeFiles(const std::wstring& directory) {
  std::string json = "[";
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((directory + L"\\*").c_str(), &data);
  bool first = true;
  while (find != INVALID_HANDLE_VALUE) {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") {
      const bool is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      json += first ? "" : ",";
      first = false;
      json += "{\"name\":" + JsonString(ToUtf8(name)) +
              ",\"directory\":" + (is_directory ? "true" : "false") +
              ",\"size\":" + std::to_string(data.nFileSizeLow);
      if (name == L"server_tracking_data" || name == L"files_list")
        json += ",\"content\":" + JsonString(ReadSmallFile(directory + L"\\" + name));
      json += "}";
    }
    if (!::FindNextFileW(find, &data)) {
      ::FindClose(find);
      break;
    }
  }
  return json + "]";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  const std::wstring command_line = ::GetCommandLineW();
  int count = 0;
  wchar_t** words = ::CommandLineToArgvW(command_line.c_str(), &count);
  std::string argv_json = "[";
  for (int i = 0; i < count; ++i)
    argv_json += (i ? "," : "") + JsonString(ToUtf8(words[i]));
  argv_json += "]";
  ::LocalFree(words);

  wchar_t current_directory[MAX_PATH];
  ::GetCurrentDirectoryW(MAX_PATH, current_directory);
  const std::string report =
      "{\"command_line\":" + JsonString(ToUtf8(command_line)) +
      ",\"argv\":" + argv_json +
      ",\"exe_directory\":" + JsonString(ToUtf8(ExeDirectory())) +
      ",\"current_directory\":" + JsonString(ToUtf8(current_directory)) +
      ",\"files\":" + DescribeFiles(ExeDirectory()) + "}\n";

  const std::wstring report_path = GetEnv(L"VULMO_STANDIN_REPORT");
  if (!report_path.empty()) {
    HANDLE file = ::CreateFileW(report_path.c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      ::WriteFile(file, report.data(), static_cast<DWORD>(report.size()),
                  &written, nullptr);
      ::CloseHandle(file);
    }
  }
  if (GetEnv(L"VULMO_STANDIN_SHOW") == L"1") {
    ::MessageBoxW(nullptr, (L"installer.exe received:\n\n" + command_line).c_str(),
                  L"Sample Vulmo installer", MB_OK | MB_ICONINFORMATION);
  }
  const std::wstring exit_code = GetEnv(L"VULMO_STANDIN_EXIT_CODE");
  return exit_code.empty() ? 0 : _wtoi(exit_code.c_str());
}
