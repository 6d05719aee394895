// A small text builder behind the log statements: the standard streams would
// pull locales and iostreams into the program for a job this simple.
#ifndef BASE_LOG_STREAM_H_
#define BASE_LOG_STREAM_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace base {

class LogStream {
 public:
  LogStream() = default;
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;

  LogStream& operator<<(std::string_view text);
  LogStream& operator<<(const char* text);
  LogStream& operator<<(const std::string& text) { return *this << std::string_view(text); }
  // Wide text is written as UTF-8.
  LogStream& operator<<(std::wstring_view text);
  LogStream& operator<<(const wchar_t* text);
  LogStream& operator<<(const std::wstring& text) { return *this << std::wstring_view(text); }
  LogStream& operator<<(char c);
  LogStream& operator<<(bool value);
  LogStream& operator<<(int value) { return AppendSigned(value); }
  LogStream& operator<<(long value) { return AppendSigned(value); }
  LogStream& operator<<(long long value) { return AppendSigned(value); }
  LogStream& operator<<(unsigned value) { return AppendUnsigned(value); }
  LogStream& operator<<(unsigned long value) { return AppendUnsigned(value); }
  LogStream& operator<<(unsigned long long value) { return AppendUnsigned(value); }
  // Pointers and handles print as 0x followed by lowercase hexadecimal.
  LogStream& operator<<(const void* pointer);

  std::string& str() { return text_; }

 private:
  LogStream& AppendSigned(long long value);
  LogStream& AppendUnsigned(unsigned long long value);

  std::string text_;
};

}  // namespace base

#endif  // BASE_LOG_STREAM_H_
