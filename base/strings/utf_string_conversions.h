// Conversions between UTF-8 and UTF-16. Portable (no system calls): invalid
// input is replaced with U+FFFD, so the conversions never fail.
#ifndef BASE_STRINGS_UTF_STRING_CONVERSIONS_H_
#define BASE_STRINGS_UTF_STRING_CONVERSIONS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/strings/string16.h"

namespace base {

string16 UTF8ToUTF16(std::string_view utf8);
std::string UTF16ToUTF8(std::basic_string_view<char16> utf16);

// Decodes the UTF-8 sequence at |*pos| and advances past it. False for a
// truncated, malformed or overlong sequence, a surrogate or anything above
// U+10FFFF; |*pos| is then unchanged.
bool ReadUTF8CodePoint(std::string_view in, size_t* pos, uint32_t* code_point);

// Appends the UTF-8 encoding of one code point (which must be valid).
void AppendUTF8CodePoint(uint32_t code_point, std::string* out);

// True for a code point that is a Unicode scalar value and not a
// noncharacter (U+FDD0..U+FDEF or one ending in FFFE/FFFF).
bool IsValidCharacter(uint32_t code_point);

// ASCII-only helpers used by switch and path handling.
std::string ASCIIToLower(std::string_view text);
bool IsStringASCII(std::basic_string_view<char16> text);

}  // namespace base

#endif  // BASE_STRINGS_UTF_STRING_CONVERSIONS_H_
