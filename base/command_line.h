// The program's command line: switches ("--name=value", "-name", "/name")
// and arguments, and the command line of a child process, quoted so that the
// child's CommandLineToArgvW splits it back into the same words.
//
// The process-wide instance is built on the main thread before any other
// thread starts and is only read afterwards.
#ifndef BASE_COMMAND_LINE_H_
#define BASE_COMMAND_LINE_H_

#include <map>
#include <string>
#include <vector>

namespace base {

class FilePath;

class CommandLine {
 public:
  using StringType = std::wstring;
  using SwitchMap = std::map<std::string, StringType>;

  // Program path only (trimmed of whitespace); no switches.
  explicit CommandLine(const StringType& program);
  explicit CommandLine(const FilePath& program);

  // Parses GetCommandLineW() into the process-wide instance. False (and no
  // change) when it already exists.
  static bool Init();
  // The process-wide instance, or null before Init().
  static CommandLine* ForCurrentProcess();

  // Replaces everything with the parse of |command_line| (platform quoting).
  void ParseFromString(const StringType& command_line);

  // |name| without prefix, compared case-insensitively.
  bool HasSwitch(const std::string& name) const;
  StringType GetSwitchValueNative(const std::string& name) const;
  // Empty when absent or when the value holds any non-ASCII unit.
  std::string GetSwitchValueASCII(const std::string& name) const;

  void AppendSwitch(const std::string& name);
  void AppendSwitchNative(const std::string& name, const StringType& value);
  void AppendSwitchPath(const std::string& name, const FilePath& path);
  void AppendArg(const StringType& argument);
  // Copies |other|'s switches and arguments (and its program if asked).
  void AppendArguments(const CommandLine& other, bool include_program);

  StringType GetProgram() const { return argv_[0]; }
  const std::vector<StringType>& argv() const { return argv_; }
  const SwitchMap& GetSwitches() const { return switches_; }
  std::vector<StringType> GetArgs() const;

  // The quoted program, then the arguments text (for CreateProcessW).
  StringType GetCommandLineString() const;
  // Everything after the program, each word quoted as needed.
  StringType GetArgumentsString() const;

  // Quotes one word for CommandLineToArgvW.
  static StringType QuoteForCommandLineToArgvW(const StringType& word);

 private:
  CommandLine();
  void Reset();
  void AppendSwitchText(const std::string& switch_text, const StringType& value);

  std::vector<StringType> argv_;
  SwitchMap switches_;
  size_t begin_args_ = 1;
};

}  // namespace base

#endif  // BASE_COMMAND_LINE_H_
