#include "base/threading/simple_thread.h"

#include <windows.h>

#include "base/logging.h"
#include "base/threading/thread_name_registry.h"
#include "base/win/windows_version.h"

namespace base {
namespace {

// The exception a debugger watches for to name a thread.
constexpr DWORD kVCThreadNameException = 0x406D1388;

#pragma pack(push, 8)
struct THREADNAME_INFO {
  DWORD dwType;      // Must be 0x1000.
  LPCSTR szName;     // Pointer to the name (in the user's address space).
  DWORD dwThreadID;  // Thread id (-1 = caller thread).
  DWORD dwFlags;     // Reserved, must be zero.
};
#pragma pack(pop)

void NameThreadInDebugger(const std::string& name, DWORD thread_id) {
  if (!::IsDebuggerPresent())
    return;
#if defined(_MSC_VER)
  THREADNAME_INFO info = {0x1000, name.c_str(), thread_id, 0};
  __try {
    ::RaiseException(kVCThreadNameException, 0, sizeof(info) / sizeof(ULONG_PTR),
                     reinterpret_cast<ULONG_PTR*>(&info));
  } __except (EXCEPTION_CONTINUE_EXECUTION) {
  }
#else
  // Without structured exception handling nothing would catch the
  // exception once the debugger passes it on, so the thread stays unnamed
  // in the debugger; the registry still has the name.
  (void)name;
  (void)thread_id;
  (void)kVCThreadNameException;
#endif
}

DWORD WINAPI ThreadFunc(void* param) {
  // Holding a real handle keeps the thread object, and with it the id that
  // the name registry refers to, alive until the entry has returned.
  HANDLE own_handle = nullptr;
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(),
                    ::GetCurrentProcess(), &own_handle, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  const DWORD thread_id = ::GetCurrentThreadId();
  static_cast<SimpleThread*>(param)->ThreadMain();
  // |param| may be gone now: the owner can return from Join() at any time
  // after Run() ended.
  ThreadNameRegistry::GetInstance()->RemoveName(thread_id);
  if (own_handle)
    CHECK(::CloseHandle(own_handle));
  return 0;
}

}  // namespace

SimpleThread::SimpleThread(const std::string& name_prefix, size_t stack_size)
    : name_prefix_(name_prefix), name_(name_prefix), stack_size_(stack_size) {}

SimpleThread::~SimpleThread() {
  // A thread still running would call into a destroyed object. Joining here
  // is a last resort: the derived part is already gone, so owners join first.
  Join();
}

void SimpleThread::ThreadMain() {
  tid_ = ::GetCurrentThreadId();
  name_.push_back('/');
  name_ += std::to_string(tid_);
  ThreadNameRegistry::GetInstance()->SetName(tid_, name_);
  NameThreadInDebugger(name_, tid_);
  // Start() reads the id and name once this is signalled.
  ::SetEvent(started_event_.Get());
  Run();
}

bool SimpleThread::Start() {
  if (HasBeenStarted()) {
    LOG(ERROR) << "Tried to start thread " << name_ << " twice";
    return false;
  }
  started_event_.Set(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!started_event_.IsValid()) {
    PLOG(ERROR) << "CreateEvent failed for thread " << name_prefix_;
    return false;
  }
  DWORD flags = 0;
  SIZE_T stack_size = 0;
  if (stack_size_ && win::GetVersion() >= win::VERSION_XP) {
    flags = STACK_SIZE_PARAM_IS_A_RESERVATION;
    stack_size = stack_size_;
  }
  thread_.Set(::CreateThread(nullptr, stack_size, &ThreadFunc, this, flags,
                             nullptr));
  if (!thread_.IsValid()) {
    // No thread exists to signal the event: waiting would never end.
    PLOG(ERROR) << "CreateThread failed for thread " << name_prefix_;
    started_event_.Close();
    return false;
  }
  const DWORD wait = ::WaitForSingleObject(started_event_.Get(), INFINITE);
  CHECK(wait == WAIT_OBJECT_0);
  started_event_.Close();
  return true;
}

void SimpleThread::Join() {
  if (!thread_.IsValid())
    return;
  const DWORD result = ::WaitForSingleObject(thread_.Get(), INFINITE);
  CHECK(result == WAIT_OBJECT_0);
  CHECK(::CloseHandle(thread_.Take()));
  joined_ = true;
}

}  // namespace base
