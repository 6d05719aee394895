// Decimal text of unsigned numbers. Written by hand: the C++ library's
// wide-string conversion goes through the C library's formatted output,
// which would add tens of kilobytes to the program.
#ifndef BASE_STRINGS_NUMBER_CONVERSIONS_H_
#define BASE_STRINGS_NUMBER_CONVERSIONS_H_

#include <cstdint>
#include <string>

namespace base {

// At least |min_digits| digits, with leading zeros.
std::wstring NumberToWString(uint64_t value, size_t min_digits = 1);

}  // namespace base

#endif  // BASE_STRINGS_NUMBER_CONVERSIONS_H_
