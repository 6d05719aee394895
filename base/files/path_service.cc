#include "base/files/path_service.h"

#include <windows.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/synchronization/lock.h"

namespace base {
namespace {

constexpr DWORD kPathBufferLength = MAX_PATH;

bool BasePathProvider(int key, FilePath* result) {
  switch (key) {
    case DIR_TEMP:
      return GetTempDir(result);
    case FILE_EXE: {
      wchar_t buffer[kPathBufferLength];
      const DWORD length =
          ::GetModuleFileNameW(nullptr, buffer, kPathBufferLength);
      // A full buffer means the name was cut: no path is better than a
      // wrong one.
      if (length == 0 || length >= kPathBufferLength)
        return false;
      *result = FilePath(FilePath::StringType(buffer, length));
      return true;
    }
    default:
      return false;
  }
}

struct Provider {
  PathService::ProviderFunc func;
  int key_start;
  int key_end;
};

// The critical section is re-entrant, so a provider may ask for another key.
struct PathData {
  PathData() { providers.push_back({&BasePathProvider, PATH_START, PATH_END}); }
  Lock lock;
  std::vector<Provider> providers;  // Asked from the back.
  std::map<int, FilePath> cache;
};

// Never freed: paths may be asked for until the end of the process.
PathData& GetPathData() {
  static PathData* data = new PathData();
  return *data;
}

bool GetCurrentDirectoryPath(FilePath* result) {
  const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
  if (needed == 0)
    return false;
  std::wstring buffer(needed, L'\0');
  const DWORD length = ::GetCurrentDirectoryW(needed, &buffer[0]);
  if (length == 0 || length >= needed)
    return false;
  buffer.resize(length);
  *result = FilePath(buffer);
  return true;
}

}  // namespace

// static
bool PathService::Get(int key, FilePath* result) {
  if (key == DIR_CURRENT)
    return GetCurrentDirectoryPath(result);

  PathData& data = GetPathData();
  AutoLock auto_lock(data.lock);
  bool found = false;
  const auto cached = data.cache.find(key);
  if (cached != data.cache.end()) {
    *result = cached->second;
    found = true;
  }
  if (!found) {
    FilePath path;
    for (auto it = data.providers.rbegin(); it != data.providers.rend(); ++it) {
      if (key >= it->key_start && key < it->key_end && it->func(key, &path)) {
        found = true;
        break;
      }
    }
    if (found && path.ReferencesParent()) {
      wchar_t absolute[kPathBufferLength];
      found = _wfullpath(absolute, path.value().c_str(), kPathBufferLength) &&
              absolute[0];
      if (found)
        path = FilePath(absolute);
    }
    if (found) {
      data.cache[key] = path;
      *result = path;
    }
  }
  return found;
}

// static
void PathService::RegisterProvider(ProviderFunc provider, int key_start,
                                   int key_end) {
  PathData& data = GetPathData();
  AutoLock auto_lock(data.lock);
  data.providers.push_back({provider, key_start, key_end});
}

}  // namespace base
