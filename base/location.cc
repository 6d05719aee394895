#include "base/location.h"

#if defined(_MSC_VER)
#include <intrin.h>
#endif

namespace base {

#if defined(_MSC_VER)
__declspec(noinline)
#endif
const void* GetProgramCounter() {
#if defined(_MSC_VER)
  return _ReturnAddress();
#elif defined(__GNUC__)
  return __builtin_extract_return_addr(__builtin_return_address(0));
#else
  return nullptr;
#endif
}

}  // namespace base
