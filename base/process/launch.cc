#include "base/process/launch.h"

#include <userenv.h>

#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/win/system_library.h"
#include "base/win/windows_version.h"

namespace base {
namespace {

// Time KillProcess waits for a terminated process to go away.
constexpr DWORD kKillWaitMs = 60000;

// Looked up at run time: these exist from Windows Vista on only.
using InitializeProcThreadAttributeListFunction =
    BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, PSIZE_T);
using UpdateProcThreadAttributeFunction =
    BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID, SIZE_T,
                  PVOID, PSIZE_T);
using DeleteProcThreadAttributeListFunction =
    VOID(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST);

// userenv is loaded on first use from the system directory rather than
// linked, so that a planted DLL beside the program is never picked up.
using CreateEnvironmentBlockFunction = BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL);
using DestroyEnvironmentBlockFunction = BOOL(WINAPI*)(LPVOID);

// An attribute list naming the only handles a child may inherit.
class HandleListAttribute {
 public:
  HandleListAttribute() = default;
  HandleListAttribute(const HandleListAttribute&) = delete;
  HandleListAttribute& operator=(const HandleListAttribute&) = delete;
  ~HandleListAttribute() {
    if (initialized_)
      delete_list_(list());
  }

  [[nodiscard]] bool Init(std::vector<HANDLE>* handles) {
    HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    if (!kernel32)
      return false;
    // Through void (*)(), the type compilers accept as "any function", so
    // the casts from FARPROC's placeholder signature are not flagged.
    using AnyFunction = void (*)();
    auto initialize_list =
        reinterpret_cast<InitializeProcThreadAttributeListFunction>(
            reinterpret_cast<AnyFunction>(::GetProcAddress(
                kernel32, "InitializeProcThreadAttributeList")));
    auto update_attribute = reinterpret_cast<UpdateProcThreadAttributeFunction>(
        reinterpret_cast<AnyFunction>(
            ::GetProcAddress(kernel32, "UpdateProcThreadAttribute")));
    delete_list_ = reinterpret_cast<DeleteProcThreadAttributeListFunction>(
        reinterpret_cast<AnyFunction>(
            ::GetProcAddress(kernel32, "DeleteProcThreadAttributeList")));
    if (!initialize_list || !update_attribute || !delete_list_)
      return false;

    SIZE_T size = 0;
    // Asks for the size only; fails with ERROR_INSUFFICIENT_BUFFER.
    initialize_list(nullptr, 1, 0, &size);
    if (size == 0)
      return false;
    buffer_ = std::make_unique<char[]>(size);
    if (!initialize_list(list(), 1, 0, &size))
      return false;
    initialized_ = true;
    // The list refers to |handles|' storage, which outlives the launch.
    return update_attribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                            handles->data(), handles->size() * sizeof(HANDLE),
                            nullptr, nullptr) != FALSE;
  }

  LPPROC_THREAD_ATTRIBUTE_LIST list() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.get());
  }

 private:
  std::unique_ptr<char[]> buffer_;
  DeleteProcThreadAttributeListFunction delete_list_ = nullptr;
  bool initialized_ = false;
};

// The environment block of a user token, destroyed with the object.
class UserEnvironment {
 public:
  UserEnvironment() = default;
  UserEnvironment(const UserEnvironment&) = delete;
  UserEnvironment& operator=(const UserEnvironment&) = delete;
  ~UserEnvironment() {
    if (block_ && destroy_block_)
      destroy_block_(block_);
  }

  [[nodiscard]] bool Init(HANDLE token) {
    auto create_block =
        win::GetSystemFunctionAs<CreateEnvironmentBlockFunction>(
            L"userenv.dll", "CreateEnvironmentBlock");
    destroy_block_ = win::GetSystemFunctionAs<DestroyEnvironmentBlockFunction>(
        L"userenv.dll", "DestroyEnvironmentBlock");
    if (!create_block || !destroy_block_)
      return false;
    // The user's own environment, not a copy of ours.
    return create_block(&block_, token, FALSE) != FALSE;
  }

  void* block() const { return block_; }

 private:
  void* block_ = nullptr;
  DestroyEnvironmentBlockFunction destroy_block_ = nullptr;
};

}  // namespace

bool LaunchProcess(const CommandLine& cmdline, const LaunchOptions& options,
                   win::ScopedHandle* process_handle) {
  if (process_handle)
    process_handle->Close();

  STARTUPINFOEXW startup_info_ex = {};
  STARTUPINFOW& startup_info = startup_info_ex.StartupInfo;
  startup_info.cb = sizeof(startup_info);
  startup_info.dwFlags = STARTF_USESHOWWINDOW;
  startup_info.wShowWindow = options.start_hidden ? SW_HIDE : SW_SHOW;
  // Writable storage for the empty desktop name.
  wchar_t empty_desktop[] = L"";
  if (options.empty_desktop_name)
    startup_info.lpDesktop = empty_desktop;

  DWORD flags = 0;
  bool inherit_handles = options.inherit_handles;
  HandleListAttribute handle_list;
  if (options.handles_to_inherit) {
    if (options.handles_to_inherit->empty()) {
      inherit_handles = false;
    } else {
      if (win::GetVersion() < win::VERSION_VISTA)
        return false;
      if (!handle_list.Init(options.handles_to_inherit))
        return false;
      inherit_handles = true;
      flags |= EXTENDED_STARTUPINFO_PRESENT;
      startup_info.cb = sizeof(startup_info_ex);
      startup_info_ex.lpAttributeList = handle_list.list();
    }
  }

  if (options.stdin_handle || options.stdout_handle || options.stderr_handle) {
    startup_info.dwFlags |= STARTF_USESTDHANDLES;
    startup_info.hStdInput = options.stdin_handle;
    startup_info.hStdOutput = options.stdout_handle;
    startup_info.hStdError = options.stderr_handle;
  }

  if (options.job_handle) {
    // Suspended until it is in the job, so it cannot start a grandchild
    // outside it; outside our own job, so that it can join the new one.
    flags |= CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB;
  }
  if (options.force_breakaway_from_job)
    flags |= CREATE_BREAKAWAY_FROM_JOB;

  // CreateProcess may write into the command line buffer.
  std::wstring command_line = cmdline.GetCommandLineString();
  PROCESS_INFORMATION process_info = {};
  if (options.as_user) {
    UserEnvironment environment;
    if (!environment.Init(options.as_user))
      return false;
    if (!::CreateProcessAsUserW(options.as_user, nullptr, &command_line[0],
                                nullptr, nullptr, inherit_handles,
                                flags | CREATE_UNICODE_ENVIRONMENT,
                                environment.block(), nullptr, &startup_info,
                                &process_info)) {
      return false;
    }
  } else {
    if (!::CreateProcessW(nullptr, &command_line[0], nullptr, nullptr,
                          inherit_handles, flags, nullptr, nullptr,
                          &startup_info, &process_info)) {
      return false;
    }
  }
  win::ScopedHandle process(process_info.hProcess);
  win::ScopedHandle thread(process_info.hThread);

  if (options.job_handle) {
    if (!::AssignProcessToJobObject(options.job_handle, process.Get())) {
      KillProcess(process.Get(), 1, true);
      return false;
    }
    // A child left suspended would never run nor end: treat it as a failed
    // launch rather than hand out a process that waits forever.
    if (::ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
      KillProcess(process.Get(), 1, true);
      return false;
    }
  }

  if (options.wait)
    ::WaitForSingleObject(process.Get(), INFINITE);

  if (process_handle)
    process_handle->Set(process.Take());
  return true;
}

bool KillProcess(HANDLE process, int exit_code, bool wait) {
  const bool terminated =
      ::TerminateProcess(process, static_cast<UINT>(exit_code)) != FALSE;
  if (terminated && wait)
    ::WaitForSingleObject(process, kKillWaitMs);
  return terminated;
}

}  // namespace base
