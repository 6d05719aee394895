// Well-known paths by key, each computed once per process and cached.
//
//   base::FilePath temp;
//   if (base::PathService::Get(base::DIR_TEMP, &temp)) ...
//
// Safe from any thread: the cache and the provider list are under one lock.
#ifndef BASE_FILES_PATH_SERVICE_H_
#define BASE_FILES_PATH_SERVICE_H_

namespace base {

class FilePath;

enum BasePathKey {
  PATH_START = 0,
  DIR_CURRENT = 1,  // The current directory; never cached.
  DIR_TEMP = 4,     // The user's temporary directory.
  FILE_EXE = 6,     // The program file of the process.
  PATH_END = 7,
};

class PathService {
 public:
  // Answers |key| into |result|, returning false when the provider cannot
  // or no provider knows the key.
  using ProviderFunc = bool (*)(int key, FilePath* result);

  PathService() = delete;

  // A result that references ".." is made absolute before it is cached.
  [[nodiscard]] static bool Get(int key, FilePath* result);

  // Adds a provider for keys in [key_start, key_end). Providers registered
  // later are asked first; the built-in one answers DIR_TEMP and FILE_EXE.
  static void RegisterProvider(ProviderFunc provider, int key_start,
                               int key_end);
};

}  // namespace base

#endif  // BASE_FILES_PATH_SERVICE_H_
