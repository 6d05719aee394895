#include "base/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// The platform's own splitting, as a child process would see its words.
std::vector<std::wstring> SplitLikeChild(const std::wstring& command_line) {
  int count = 0;
  LPWSTR* words = ::CommandLineToArgvW(command_line.c_str(), &count);
  std::vector<std::wstring> result;
  for (int i = 0; i < count; ++i)
    result.push_back(words[i]);
  ::LocalFree(words);
  return result;
}

struct ParseCase {
  const wchar_t* command_line;
  // name=value pairs, and "name" for switches without value.
  std::vector<std::pair<std::string, std::wstring>> switches;
  std::vector<std::wstring> args;
};

TEST(CommandLineTest, ParsesSwitchesAndArguments) {
  const ParseCase kCases[] = {
      // All three prefixes; a bare prefix is an argument.
      {L"prog --a -b /c - / --",
       {{"a", L""}, {"b", L""}, {"c", L""}},
       {L"-", L"/", L"--"}},
      // Names are lower-cased; the last of a repeated switch wins.
      {L"prog --Silent /SILENT --Lang=fr -LANG=de",
       {{"silent", L""}, {"lang", L"de"}},
       {}},
      // Empty value, a value holding '=', values keep their case.
      {L"prog --language= --a=b=c /Language=De",
       {{"language", L"De"}, {"a", L"b=c"}},
       {}},
      // After "--" everything is an argument, "--" included.
      {L"prog --x arg -- --y /z", {{"x", L""}}, {L"arg", L"--", L"--y", L"/z"}},
      // Switches after arguments are still switches.
      {L"prog first --late=1 second", {{"late", L"1"}}, {L"first", L"second"}},
      // Platform unquoting, surrounding whitespace trimmed.
      {L"  \"C:\\Program Files\\p.exe\" \"--path=C:\\a b\\\\\" \"x y\"  ",
       {{"path", L"C:\\a b\\"}},
       {L"x y"}},
  };
  for (const ParseCase& test : kCases) {
    SCOPED_TRACE(test.command_line);
    CommandLine command_line(FilePath(L""));
    command_line.ParseFromString(test.command_line);
    EXPECT_EQ(test.switches.size(), command_line.GetSwitches().size());
    for (const auto& expected : test.switches) {
      EXPECT_TRUE(command_line.HasSwitch(expected.first)) << expected.first;
      EXPECT_EQ(expected.second, command_line.GetSwitchValueNative(expected.first));
    }
    EXPECT_EQ(test.args, command_line.GetArgs());
  }
}

TEST(CommandLineTest, LookupIgnoresCaseAndAbsentSwitchesAreEmpty) {
  CommandLine command_line(FilePath(L"prog"));
  command_line.ParseFromString(L"prog --Internal-Server --value=\x00e9t\x00e9");
  EXPECT_TRUE(command_line.HasSwitch("INTERNAL-server"));
  EXPECT_FALSE(command_line.HasSwitch("internal"));
  EXPECT_EQ(L"", command_line.GetSwitchValueNative("missing"));
  EXPECT_EQ(L"\x00e9t\x00e9", command_line.GetSwitchValueNative("value"));
  // A value outside ASCII does not read as ASCII.
  EXPECT_EQ("", command_line.GetSwitchValueASCII("value"));
}

TEST(CommandLineTest, EmptyCommandLineLeavesAnEmptyProgram) {
  CommandLine command_line(FilePath(L"prog"));
  command_line.ParseFromString(L" \t ");
  EXPECT_EQ(L"", command_line.GetProgram());
  EXPECT_TRUE(command_line.GetSwitches().empty());
  EXPECT_TRUE(command_line.GetArgs().empty());
}

TEST(CommandLineTest, RebuildsSwitchesBeforeArguments) {
  CommandLine command_line(FilePath(L"installer.exe"));
  command_line.AppendArg(L"first");
  command_line.AppendSwitch("Install");
  command_line.AppendSwitchNative("welcome-url", L"https://x/");
  command_line.AppendArg(L"second");
  command_line.AppendSwitchPath("dir", FilePath(L"C:\\d"));
  EXPECT_EQ(L"installer.exe --install --welcome-url=https://x/ "
            L"--dir=\"C:\\d\" first second",
            command_line.GetCommandLineString());
}

TEST(CommandLineTest, RebuildKeepsTheWrittenPrefixInLowerCase) {
  CommandLine command_line(FilePath(L"prog"));
  command_line.ParseFromString(L"prog /Language=de -V=1 --SILENT");
  EXPECT_EQ(L"/language=de -v=1 --silent", command_line.GetArgumentsString());
  EXPECT_EQ(L"de", command_line.GetSwitchValueNative("language"));
}

TEST(CommandLineTest, RepeatedSwitchIsRebuiltTwiceAndReadsTheLastValue) {
  CommandLine command_line(FilePath(L"prog"));
  command_line.ParseFromString(L"prog --v=1 --v=2");
  EXPECT_EQ(L"2", command_line.GetSwitchValueNative("v"));
  EXPECT_EQ(L"--v=1 --v=2", command_line.GetArgumentsString());
}

TEST(CommandLineTest, EmptyArgumentDoesNotSurviveARebuild) {
  CommandLine command_line(FilePath(L"prog"));
  command_line.ParseFromString(L"prog a \"\" b");
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"", L"b"}), command_line.GetArgs());
  EXPECT_EQ((std::vector<std::wstring>{L"prog", L"a", L"b"}),
            SplitLikeChild(command_line.GetCommandLineString()));
}

TEST(CommandLineTest, QuotingRoundTripsThroughThePlatformSplitter) {
  const wchar_t* const kWords[] = {
      L"plain",
      L"with blank",
      L"C:\\dir\\",          // Trailing backslash, no blank.
      L"C:\\my dir\\",       // Trailing backslash inside quotes.
      L"say \"hi\"",
      L"\\\"",               // Backslash before a quote.
      L"a\\\\\"b",           // Two backslashes before a quote.
      L"back\\slash",
      L"tab\there",          // The splitter also breaks at tabs.
      L"\\\\server\\share",
      L"--looks-like=a switch",
      L"\x00fc\x00f1\x00ee c\x00f6d\x00e9",
  };
  CommandLine command_line(FilePath(L"C:\\Program Files\\Vulmo\\installer.exe"));
  std::vector<std::wstring> expected = {command_line.GetProgram()};
  command_line.AppendArg(L"--");  // Keeps switch-like words as arguments.
  expected.push_back(L"--");
  for (const wchar_t* word : kWords) {
    command_line.AppendArg(word);
    expected.push_back(word);
  }
  EXPECT_EQ(expected, SplitLikeChild(command_line.GetCommandLineString()));
}

TEST(CommandLineTest, SwitchValuesRoundTripThroughThePlatformSplitter) {
  const wchar_t* const kValues[] = {L"C:\\Temp\\", L"a \"b\" c", L"x\\y z",
                                    L"tab\tvalue", L"=", L"\\\\"};
  CommandLine command_line(FilePath(L"prog.exe"));
  for (const wchar_t* value : kValues)
    command_line.AppendSwitchNative("value", value);
  const std::vector<std::wstring> words =
      SplitLikeChild(command_line.GetCommandLineString());
  ASSERT_EQ(std::size(kValues) + 1, words.size());
  for (size_t i = 0; i < std::size(kValues); ++i)
    EXPECT_EQ(std::wstring(L"--value=") + kValues[i], words[i + 1]);

  // And the child parses its words back into the same switch value.
  CommandLine child(FilePath(L""));
  child.ParseFromString(command_line.GetCommandLineString());
  EXPECT_EQ(kValues[std::size(kValues) - 1], child.GetSwitchValueNative("value"));
}

TEST(CommandLineTest, AppendArgumentsCopiesSwitchesAndArguments) {
  CommandLine own(FilePath(L"net_installer.exe"));
  own.ParseFromString(L"net_installer.exe /Language=de --silent extra -- --not-a-switch");
  CommandLine child(FilePath(L"installer.exe"));
  child.AppendSwitch("install");
  child.AppendArguments(own, false);
  EXPECT_EQ(L"installer.exe", child.GetProgram());
  EXPECT_EQ(L"de", child.GetSwitchValueNative("language"));
  EXPECT_TRUE(child.HasSwitch("silent"));
  EXPECT_FALSE(child.HasSwitch("not-a-switch"));
  EXPECT_EQ(L"installer.exe --install /language=de --silent extra -- --not-a-switch",
            child.GetCommandLineString());

  CommandLine with_program(FilePath(L"other.exe"));
  with_program.AppendArguments(own, true);
  EXPECT_EQ(L"net_installer.exe", with_program.GetProgram());
}

// Switch names travel as one byte per unit: units up to U+00FF (Latin-1)
// must come back unchanged in the rebuilt text and in a child's parse.
TEST(CommandLineTest, NonAsciiSwitchNamesAndValuesSurviveARebuild) {
  CommandLine own(FilePath(L"net_installer.exe"));
  own.ParseFromString(
      L"net_installer.exe --Caf\u00E9=1 /\u00FCber=\u65E5\u672C "
      L"-na\u00EFve=\u00E9t\u00E9 \u00FFend");
  EXPECT_EQ(L"1", own.GetSwitchValueNative("caf\xE9"));
  CommandLine child(FilePath(L"installer.exe"));
  child.AppendArguments(own, false);
  const std::wstring rebuilt = child.GetCommandLineString();
  EXPECT_EQ(L"installer.exe --caf\u00E9=1 /\u00FCber=\u65E5\u672C "
            L"-na\u00EFve=\u00E9t\u00E9 \u00FFend",
            rebuilt);
  CommandLine parsed(FilePath(L""));
  parsed.ParseFromString(rebuilt);
  EXPECT_EQ(L"1", parsed.GetSwitchValueNative("caf\xE9"));
  EXPECT_EQ(L"\u65E5\u672C", parsed.GetSwitchValueNative("\xFC" "ber"));
  EXPECT_EQ(L"\u00E9t\u00E9", parsed.GetSwitchValueNative("na\xEF" "ve"));
  EXPECT_EQ(std::vector<std::wstring>{L"\u00FFend"}, parsed.GetArgs());
}

TEST(CommandLineTest, ProgramIsTrimmedAndQuotedWhenItHasABlank) {
  CommandLine command_line(FilePath(L"  C:\\Program Files\\p.exe\t"));
  EXPECT_EQ(L"C:\\Program Files\\p.exe", command_line.GetProgram());
  EXPECT_EQ(L"\"C:\\Program Files\\p.exe\"", command_line.GetCommandLineString());
}

TEST(CommandLineTest, InitParsesTheProcessOnceOnly) {
  // The first Init of this process happens here (gtest_main does not call it).
  ASSERT_TRUE(CommandLine::Init());
  CommandLine* current = CommandLine::ForCurrentProcess();
  ASSERT_NE(nullptr, current);
  EXPECT_FALSE(current->GetProgram().empty());
  const std::wstring before = current->GetCommandLineString();
  EXPECT_FALSE(CommandLine::Init());
  EXPECT_EQ(current, CommandLine::ForCurrentProcess());
  EXPECT_EQ(before, current->GetCommandLineString());
}

}  // namespace
}  // namespace base
