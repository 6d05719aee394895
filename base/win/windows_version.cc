#include "base/win/windows_version.h"

#include <windows.h>

#include <atomic>

namespace base {
namespace win {
namespace {

OSInfo::WOW64Status GetWOW64Status() {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  // Through void (*)(), the type compilers accept as "any function", so the
  // cast from FARPROC's placeholder signature is not flagged.
  const auto is_wow64_process = reinterpret_cast<IsWow64ProcessFunction>(
      reinterpret_cast<void (*)()>(::GetProcAddress(
          ::GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
  if (!is_wow64_process)
    return OSInfo::WOW64_DISABLED;
  BOOL is_wow64 = FALSE;
  if (!is_wow64_process(::GetCurrentProcess(), &is_wow64))
    return OSInfo::WOW64_UNKNOWN;
  return is_wow64 ? OSInfo::WOW64_ENABLED : OSInfo::WOW64_DISABLED;
}

OSInfo::Edition GetEdition(const OSVERSIONINFOEXW& info) {
  if (info.dwMajorVersion == 6) {
    DWORD product_type = 0;
    ::GetProductInfo(info.dwMajorVersion, info.dwMinorVersion, 0, 0, &product_type);
    switch (product_type) {
      case PRODUCT_UNDEFINED:
        return OSInfo::EDITION_UNKNOWN;
      case PRODUCT_DATACENTER_SERVER:
      case PRODUCT_ENTERPRISE_SERVER:
      case PRODUCT_STANDARD_SERVER:
      case PRODUCT_WEB_SERVER:
        return OSInfo::EDITION_SERVER;
      default:
        return OSInfo::EDITION_WORKSTATION;
    }
  }
  if (info.dwMajorVersion == 5) {
    if (info.wProductType == VER_NT_WORKSTATION)
      return OSInfo::EDITION_WORKSTATION;
    if (info.wSuiteMask & (VER_SUITE_DATACENTER | VER_SUITE_ENTERPRISE))
      return OSInfo::EDITION_SERVER;
    return OSInfo::EDITION_SERVER;
  }
  return OSInfo::EDITION_UNKNOWN;
}

}  // namespace

Version MajorMinorToVersion(int major, int minor) {
  if (major < 5 || (major == 5 && minor == 0))
    return VERSION_PRE_XP;
  if (major == 5)
    return minor == 1 ? VERSION_XP : VERSION_SERVER_2003;
  if (major == 6) {
    switch (minor) {
      case 0: return VERSION_VISTA;
      case 1: return VERSION_WIN7;
      case 2: return VERSION_WIN8;
      default: return VERSION_WIN8_1;
    }
  }
  return VERSION_WIN_LAST;
}

OSInfo::OSInfo() {
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)  // GetVersionExW is deprecated but wanted.
#endif
  ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
  version_number_.major = static_cast<int>(info.dwMajorVersion);
  version_number_.minor = static_cast<int>(info.dwMinorVersion);
  version_number_.build = static_cast<int>(info.dwBuildNumber);
  version_ = MajorMinorToVersion(version_number_.major, version_number_.minor);
  service_pack_.major = info.wServicePackMajor;
  service_pack_.minor = info.wServicePackMinor;

  SYSTEM_INFO system_info = {};
  ::GetNativeSystemInfo(&system_info);
  switch (system_info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL: architecture_ = X86_ARCHITECTURE; break;
    case PROCESSOR_ARCHITECTURE_AMD64: architecture_ = X64_ARCHITECTURE; break;
    case PROCESSOR_ARCHITECTURE_IA64: architecture_ = IA64_ARCHITECTURE; break;
    default: architecture_ = OTHER_ARCHITECTURE; break;
  }
  processors_ = static_cast<int>(system_info.dwNumberOfProcessors);
  allocation_granularity_ = system_info.dwAllocationGranularity;
  wow64_status_ = GetWOW64Status();
  edition_ = GetEdition(info);
}

const OSInfo* OSInfo::GetInstance() {
  // Built lazily; a thread that loses the race discards its copy. The record
  // never changes afterwards and lives to the end of the process.
  static std::atomic<OSInfo*> instance{nullptr};
  OSInfo* existing = instance.load(std::memory_order_acquire);
  if (existing)
    return existing;
  OSInfo* created = new OSInfo();
  if (!instance.compare_exchange_strong(existing, created,
                                        std::memory_order_acq_rel)) {
    delete created;
    return existing;
  }
  return created;
}

Version GetVersion() {
  return OSInfo::GetInstance()->version();
}

}  // namespace win
}  // namespace base
