// A UTF-16 string type that is the platform's wide string on Windows, so the
// same portable code (JSON, text conversion) also builds natively elsewhere.
#ifndef BASE_STRINGS_STRING16_H_
#define BASE_STRINGS_STRING16_H_

#include <string>

namespace base {

#if defined(_WIN32)
using char16 = wchar_t;
using string16 = std::wstring;
#define BASE_UTF16(literal) L##literal
#else
using char16 = char16_t;
using string16 = std::u16string;
#define BASE_UTF16(literal) u##literal
#endif

}  // namespace base

#endif  // BASE_STRINGS_STRING16_H_
