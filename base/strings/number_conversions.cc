#include "base/strings/number_conversions.h"

namespace base {

std::wstring NumberToWString(uint64_t value, size_t min_digits) {
  wchar_t digits[32];
  size_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0 || count < min_digits);
  std::wstring text;
  text.reserve(count);
  while (count > 0)
    text.push_back(digits[--count]);
  return text;
}

}  // namespace base
