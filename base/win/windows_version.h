// The operating system's version, read once per process.
#ifndef BASE_WIN_WINDOWS_VERSION_H_
#define BASE_WIN_WINDOWS_VERSION_H_

namespace base {
namespace win {

// Ordered: callers compare with at-least tests.
enum Version {
  VERSION_PRE_XP = 0,  // Below 5.1.
  VERSION_XP = 1,
  VERSION_SERVER_2003 = 2,  // 5.2 and later 5.x.
  VERSION_VISTA = 3,
  VERSION_WIN7 = 4,
  VERSION_WIN8 = 5,
  VERSION_WIN8_1 = 6,  // 6.3 and later 6.x.
  VERSION_WIN_LAST = 7,  // Major version above 6.
};

// Maps a major.minor pair to the coarse code above.
Version MajorMinorToVersion(int major, int minor);

class OSInfo {
 public:
  struct VersionNumber {
    int major = 0;
    int minor = 0;
    int build = 0;
  };
  struct ServicePack {
    int major = 0;
    int minor = 0;
  };
  enum WindowsArchitecture { X86_ARCHITECTURE, X64_ARCHITECTURE, IA64_ARCHITECTURE, OTHER_ARCHITECTURE };
  enum WOW64Status { WOW64_DISABLED, WOW64_ENABLED, WOW64_UNKNOWN };
  enum Edition { EDITION_UNKNOWN, EDITION_WORKSTATION, EDITION_SERVER };

  // The process-wide record, created on first use; safe from any thread.
  static const OSInfo* GetInstance();

  Version version() const { return version_; }
  VersionNumber version_number() const { return version_number_; }
  ServicePack service_pack() const { return service_pack_; }
  WindowsArchitecture architecture() const { return architecture_; }
  int processors() const { return processors_; }
  unsigned long allocation_granularity() const { return allocation_granularity_; }
  WOW64Status wow64_status() const { return wow64_status_; }
  Edition edition() const { return edition_; }

 private:
  OSInfo();

  Version version_ = VERSION_PRE_XP;
  VersionNumber version_number_;
  ServicePack service_pack_;
  WindowsArchitecture architecture_ = OTHER_ARCHITECTURE;
  int processors_ = 0;
  unsigned long allocation_granularity_ = 0;
  WOW64Status wow64_status_ = WOW64_UNKNOWN;
  Edition edition_ = EDITION_UNKNOWN;
};

Version GetVersion();

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_WINDOWS_VERSION_H_
