#include "base/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include "base/files/file_path.h"
#include "base/win/system_library.h"

namespace base {
namespace {

// Tried in this order; the first is also added to names without a prefix.
const wchar_t* const kSwitchPrefixes[] = {L"--", L"-", L"/"};
constexpr wchar_t kSwitchTerminator[] = L"--";
constexpr wchar_t kSwitchValueSeparator = L'=';

CommandLine* g_current_process_command_line = nullptr;

bool IsWhitespace(wchar_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::wstring TrimWhitespace(const std::wstring& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsWhitespace(text[begin]))
    ++begin;
  while (end > begin && IsWhitespace(text[end - 1]))
    --end;
  return text.substr(begin, end - begin);
}

template <typename StringT>
size_t GetSwitchPrefixLength(const StringT& text) {
  for (const wchar_t* prefix : kSwitchPrefixes) {
    const size_t length = wcslen(prefix);
    if (text.size() < length)
      continue;
    bool same = true;
    for (size_t i = 0; i < length && same; ++i)
      same = static_cast<wchar_t>(text[i]) == prefix[i];
    if (same)
      return length;
  }
  return 0;
}

// A word is a switch when it begins with a prefix and has more after it.
bool IsSwitch(const std::wstring& word, std::wstring* switch_text,
              std::wstring* value) {
  const size_t prefix_length = GetSwitchPrefixLength(word);
  if (prefix_length == 0 || prefix_length == word.size())
    return false;
  const size_t equals = word.find(kSwitchValueSeparator);
  *switch_text = word.substr(0, equals);
  *value = equals == std::wstring::npos ? std::wstring() : word.substr(equals + 1);
  return true;
}

std::string LowBytes(const std::wstring& text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (wchar_t c : text)
    narrow.push_back(static_cast<char>(c & 0xFF));
  return narrow;
}

std::string ToLowerASCII(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::vector<std::wstring> SplitWithShell(const std::wstring& text) {
  using SplitFunction = LPWSTR*(WINAPI*)(LPCWSTR, int*);
  static const SplitFunction split = base::win::GetSystemFunctionAs<SplitFunction>(
      L"shell32.dll", "CommandLineToArgvW");
  std::vector<std::wstring> words;
  int count = 0;
  LPWSTR* args = split ? split(text.c_str(), &count) : nullptr;
  for (int i = 0; i < count; ++i)
    words.push_back(args[i]);
  if (args)
    ::LocalFree(args);
  return words;
}

}  // namespace

CommandLine::CommandLine() : argv_(1) {}

CommandLine::CommandLine(const StringType& program)
    : argv_(1, TrimWhitespace(program)) {}

CommandLine::CommandLine(const FilePath& program)
    : CommandLine(program.value()) {}

bool CommandLine::Init() {
  if (g_current_process_command_line)
    return false;
  g_current_process_command_line = new CommandLine();
  g_current_process_command_line->ParseFromString(::GetCommandLineW());
  return true;
}

CommandLine* CommandLine::ForCurrentProcess() {
  return g_current_process_command_line;
}

void CommandLine::Reset() {
  argv_.assign(1, StringType());
  switches_.clear();
  begin_args_ = 1;
}

void CommandLine::ParseFromString(const StringType& command_line) {
  Reset();
  const StringType text = TrimWhitespace(command_line);
  if (text.empty())
    return;
  const std::vector<StringType> words = SplitWithShell(text);
  if (words.empty())
    return;
  argv_[0] = TrimWhitespace(words[0]);
  bool parse_switches = true;
  for (size_t i = 1; i < words.size(); ++i) {
    const StringType word = TrimWhitespace(words[i]);
    parse_switches &= word != kSwitchTerminator;
    StringType switch_text, value;
    if (parse_switches && IsSwitch(word, &switch_text, &value))
      AppendSwitchText(LowBytes(switch_text), value);
    else
      AppendArg(word);
  }
}

bool CommandLine::HasSwitch(const std::string& name) const {
  return switches_.count(ToLowerASCII(name)) != 0;
}

CommandLine::StringType CommandLine::GetSwitchValueNative(
    const std::string& name) const {
  const auto it = switches_.find(ToLowerASCII(name));
  return it == switches_.end() ? StringType() : it->second;
}

std::string CommandLine::GetSwitchValueASCII(const std::string& name) const {
  const StringType value = GetSwitchValueNative(name);
  std::string ascii;
  for (wchar_t c : value) {
    if (c > 0x7F)
      return std::string();
    ascii.push_back(static_cast<char>(c));
  }
  return ascii;
}

void CommandLine::AppendSwitch(const std::string& name) {
  AppendSwitchText(name, StringType());
}

void CommandLine::AppendSwitchNative(const std::string& name,
                                     const StringType& value) {
  AppendSwitchText(name, value);
}

void CommandLine::AppendSwitchPath(const std::string& name,
                                   const FilePath& path) {
  AppendSwitchText(name, path.value());
}

void CommandLine::AppendSwitchText(const std::string& switch_text,
                                   const StringType& value) {
  const std::string lower = ToLowerASCII(switch_text);
  const size_t prefix_length = GetSwitchPrefixLength(lower);
  switches_[lower.substr(prefix_length)] = value;

  // Each byte is one UTF-16 unit (the low byte it was taken from): widen
  // through unsigned char, or bytes of 0x80 and above would sign-extend.
  StringType argv_text;
  argv_text.reserve(lower.size());
  for (const char c : lower)
    argv_text.push_back(static_cast<unsigned char>(c));
  if (prefix_length == 0)
    argv_text.insert(0, kSwitchPrefixes[0]);
  if (!value.empty())
    argv_text += kSwitchValueSeparator + value;
  argv_.insert(argv_.begin() + begin_args_, argv_text);
  ++begin_args_;
}

void CommandLine::AppendArg(const StringType& argument) {
  argv_.push_back(argument);
}

void CommandLine::AppendArguments(const CommandLine& other,
                                  bool include_program) {
  if (include_program)
    argv_[0] = other.argv_[0];
  for (size_t i = 1; i < other.argv_.size(); ++i) {
    StringType switch_text, value;
    if (i < other.begin_args_ && IsSwitch(other.argv_[i], &switch_text, &value))
      AppendSwitchText(LowBytes(switch_text), value);
    else
      AppendArg(other.argv_[i]);
  }
}

std::vector<CommandLine::StringType> CommandLine::GetArgs() const {
  return std::vector<StringType>(argv_.begin() + begin_args_, argv_.end());
}

CommandLine::StringType CommandLine::GetCommandLineString() const {
  StringType text = QuoteForCommandLineToArgvW(argv_[0]);
  const StringType arguments = GetArgumentsString();
  if (!arguments.empty())
    text += L' ' + arguments;
  return text;
}

CommandLine::StringType CommandLine::GetArgumentsString() const {
  StringType text;
  bool parse_switches = true;
  for (size_t i = 1; i < argv_.size(); ++i) {
    const StringType& word = argv_[i];
    parse_switches &= word != kSwitchTerminator;
    if (i > 1)
      text += L' ';
    StringType switch_text, value;
    if (parse_switches && IsSwitch(word, &switch_text, &value)) {
      text += switch_text;
      if (!value.empty())
        text += kSwitchValueSeparator + QuoteForCommandLineToArgvW(value);
    } else {
      text += QuoteForCommandLineToArgvW(word);
    }
  }
  return text;
}

CommandLine::StringType CommandLine::QuoteForCommandLineToArgvW(
    const StringType& word) {
  // CommandLineToArgvW also splits at tabs, so they need quotes as well.
  if (word.find_first_of(L" \t\\\"") == StringType::npos)
    return word;
  StringType quoted = L"\"";
  for (size_t i = 0; i < word.size(); ++i) {
    if (word[i] == L'\\') {
      const size_t run_start = i;
      while (i < word.size() && word[i] == L'\\')
        ++i;
      const size_t run_length = i - run_start;
      const bool before_quote_or_end = i == word.size() || word[i] == L'"';
      quoted.append(before_quote_or_end ? run_length * 2 : run_length, L'\\');
      if (i == word.size())
        break;
    }
    if (word[i] == L'"')
      quoted += L"\\\"";
    else
      quoted += word[i];
  }
  quoted += L'"';
  return quoted;
}

}  // namespace base
