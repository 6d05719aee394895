#include "base/strings/utf_string_conversions.h"

#include <cstdint>

namespace base {
namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

}  // namespace

bool ReadUTF8CodePoint(std::string_view in, size_t* pos, uint32_t* code_point) {
  const unsigned char lead = static_cast<unsigned char>(in[*pos]);
  if (lead < 0x80) {
    *code_point = lead;
    ++*pos;
    return true;
  }
  size_t trail_count;
  uint32_t value;
  uint32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail_count = 1;
    value = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    trail_count = 2;
    value = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail_count = 3;
    value = lead & 0x07;
    minimum = 0x10000;
  } else {
    return false;
  }
  if (in.size() - *pos - 1 < trail_count)
    return false;
  for (size_t i = 1; i <= trail_count; ++i) {
    const unsigned char trail = static_cast<unsigned char>(in[*pos + i]);
    if ((trail & 0xC0) != 0x80)
      return false;
    value = (value << 6) | (trail & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF ||
      (value >= 0xD800 && value <= 0xDFFF)) {
    return false;
  }
  *code_point = value;
  *pos += 1 + trail_count;
  return true;
}

string16 UTF8ToUTF16(std::string_view utf8) {
  string16 out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    uint32_t cp;
    if (!ReadUTF8CodePoint(utf8, &pos, &cp)) {
      cp = kReplacementCharacter;
      ++pos;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16>(cp));
    }
  }
  return out;
}

void AppendUTF8CodePoint(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string UTF16ToUTF8(std::basic_string_view<char16> utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    uint32_t unit = static_cast<uint16_t>(utf16[i]);
    uint32_t cp = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size()) {
      const uint32_t next = static_cast<uint16_t>(utf16[i + 1]);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        cp = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
        ++i;
      }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF)
      cp = kReplacementCharacter;  // An unpaired surrogate.
    AppendUTF8CodePoint(cp, &out);
  }
  return out;
}

bool IsValidCharacter(uint32_t cp) {
  return cp < 0xD800 || (cp >= 0xE000 && cp < 0xFDD0) ||
         (cp > 0xFDEF && cp <= 0x10FFFF && (cp & 0xFFFE) != 0xFFFE);
}

std::string ASCIIToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool IsStringASCII(std::basic_string_view<char16> text) {
  for (char16 c : text) {
    if (static_cast<uint32_t>(c) > 0x7F)
      return false;
  }
  return true;
}

}  // namespace base
