#include "base/log_stream.h"

#include "base/strings/utf_string_conversions.h"

namespace base {

LogStream& LogStream::operator<<(std::string_view text) {
  text_.append(text.data(), text.size());
  return *this;
}

LogStream& LogStream::operator<<(const char* text) {
  return *this << std::string_view(text ? text : "(null)");
}

LogStream& LogStream::operator<<(std::wstring_view text) {
#if defined(_WIN32)
  text_ += UTF16ToUTF8(text);
#else
  for (wchar_t c : text)
    AppendUTF8CodePoint(static_cast<uint32_t>(c), &text_);
#endif
  return *this;
}

LogStream& LogStream::operator<<(const wchar_t* text) {
  return *this << std::wstring_view(text ? text : L"(null)");
}

LogStream& LogStream::operator<<(char c) {
  text_.push_back(c);
  return *this;
}

LogStream& LogStream::operator<<(bool value) {
  return *this << (value ? "true" : "false");
}

LogStream& LogStream::operator<<(const void* pointer) {
  // By hand: the C library's formatted output would add tens of kilobytes
  // to the program for this one use.
  static const char kHexDigits[] = "0123456789abcdef";
  uintptr_t value = reinterpret_cast<uintptr_t>(pointer);
  char digits[2 * sizeof(void*)];
  int count = 0;
  do {
    digits[count++] = kHexDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  text_ += "0x";
  while (count > 0)
    text_.push_back(digits[--count]);
  return *this;
}

LogStream& LogStream::AppendSigned(long long value) {
  if (value < 0) {
    text_.push_back('-');
    return AppendUnsigned(0ull - static_cast<unsigned long long>(value));
  }
  return AppendUnsigned(static_cast<unsigned long long>(value));
}

LogStream& LogStream::AppendUnsigned(unsigned long long value) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0)
    text_.push_back(digits[--count]);
  return *this;
}

}  // namespace base
