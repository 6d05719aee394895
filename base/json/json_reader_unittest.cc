#include "base/json/json_reader.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "base/json/json_parser.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using namespace std::string_view_literals;

void AppendQuoted(std::string_view text, std::string* out) {
  out->push_back('"');
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
      out->append(escaped);
    } else {
      out->push_back(c);
    }
  }
  out->push_back('"');
}

// A compact, unambiguous picture of a tree, so that expected results read
// as one line: i:5 is an integer, d:5 a double, s:"..." a string with every
// byte outside printable ASCII as \xHH, {"k"=v,...} and [v,...] containers.
std::string Describe(const Value& value) {
  std::string out;
  switch (value.GetType()) {
    case Value::TYPE_NULL:
      return "null";
    case Value::TYPE_BOOLEAN: {
      bool b = false;
      value.GetAsBoolean(&b);
      return b ? "true" : "false";
    }
    case Value::TYPE_INTEGER: {
      int i = 0;
      value.GetAsInteger(&i);
      return "i:" + std::to_string(i);
    }
    case Value::TYPE_DOUBLE: {
      double d = 0;
      value.GetAsDouble(&d);
      char text[40];
      std::snprintf(text, sizeof(text), "d:%.17g", d);
      return text;
    }
    case Value::TYPE_STRING: {
      std::string s;
      value.GetAsString(&s);
      out = "s:";
      AppendQuoted(s, &out);
      return out;
    }
    case Value::TYPE_BINARY:
      return "binary";
    case Value::TYPE_DICTIONARY: {
      const DictionaryValue* dictionary = nullptr;
      value.GetAsDictionary(&dictionary);
      out = "{";
      for (const auto& entry : *dictionary) {
        if (out.size() > 1)
          out += ",";
        AppendQuoted(entry.first, &out);
        out += "=" + Describe(*entry.second);
      }
      return out + "}";
    }
    case Value::TYPE_LIST: {
      const ListValue* list = nullptr;
      value.GetAsList(&list);
      out = "[";
      for (const auto& element : *list) {
        if (out.size() > 1)
          out += ",";
        out += Describe(*element);
      }
      return out + "]";
    }
  }
  return "?";
}

struct ReadCase {
  std::string_view input;
  int options;
  // Describe() of the result, or null when the read must fail.
  const char* expected;
  int error_code = 0;
  const char* error_message = "";
};

constexpr int kStrict = JSON_PARSE_RFC;
constexpr int kTrailing = JSON_ALLOW_TRAILING_COMMAS;

const ReadCase kReadCases[] = {
    // Roots of every kind.
    {"{}"sv, kStrict, "{}"},
    {"[]"sv, kStrict, "[]"},
    {"5"sv, kStrict, "i:5"},
    {"\"abc\""sv, kStrict, "s:\"abc\""},
    {"true"sv, kStrict, "true"},
    {"false"sv, kStrict, "false"},
    {"null"sv, kStrict, "null"},
    {" \t\r\n[ 1 , 2 ]\r\n"sv, kStrict, "[i:1,i:2]"},
    {"{\"b\":1,\"a\":[true,null,false],\"c\":{\"d\":\"e\",\"\":[]}}"sv, kStrict,
     "{\"a\"=[true,null,false],\"b\"=i:1,\"c\"={\"\"=[],\"d\"=s:\"e\"}}"},
    // One value per key, the last one wins; keys are stored literally.
    {"{\"a\":1,\"a\":[2]}"sv, kStrict, "{\"a\"=[i:2]}"},
    {"{\"a.b\":1}"sv, kStrict, "{\"a.b\"=i:1}"},

    // Numbers: 32-bit integers stay integers, everything else is a double.
    {"0"sv, kStrict, "i:0"},
    {"-0"sv, kStrict, "i:0"},
    {"2147483647"sv, kStrict, "i:2147483647"},
    {"-2147483648"sv, kStrict, "i:-2147483648"},
    {"2147483648"sv, kStrict, "d:2147483648"},
    {"-2147483649"sv, kStrict, "d:-2147483649"},
    {"12345678901234567890"sv, kStrict, "d:1.2345678901234567e+19"},
    {"1.5"sv, kStrict, "d:1.5"},
    {"1.0"sv, kStrict, "d:1"},
    {"-0.25e2"sv, kStrict, "d:-25"},
    {"1E+2"sv, kStrict, "d:100"},
    {"25e-1"sv, kStrict, "d:2.5"},
    {"1.7976931348623157e308"sv, kStrict, "d:1.7976931348623157e+308"},
    {"1e-400"sv, kStrict, "d:0"},  // Underflows to zero, which is finite.
    {"[1e400]"sv, kStrict, nullptr, 2, "Line: 1, column: 2, Syntax error."},
    {"-1e400"sv, kStrict, nullptr, 2, "Line: 1, column: 1, Syntax error."},
    {"01"sv, kStrict, nullptr, 2, "Line: 1, column: 2, Syntax error."},
    {"-01"sv, kStrict, nullptr, 2, "Line: 1, column: 3, Syntax error."},
    {"-"sv, kStrict, nullptr, 2, "Line: 1, column: 2, Syntax error."},
    {"1."sv, kStrict, nullptr, 2, "Line: 1, column: 3, Syntax error."},
    {"1e"sv, kStrict, nullptr, 2, "Line: 1, column: 3, Syntax error."},
    {"1e+"sv, kStrict, nullptr, 2, "Line: 1, column: 4, Syntax error."},
    {".5"sv, kStrict, nullptr, 3, "Line: 1, column: 1, Unexpected token."},
    {"+1"sv, kStrict, nullptr, 3, "Line: 1, column: 1, Unexpected token."},
    // A number must be followed by ',', ']', '}' or the end.
    {"5x"sv, kStrict, nullptr, 2, "Line: 1, column: 2, Syntax error."},
    {"[1 x]"sv, kStrict, nullptr, 2, "Line: 1, column: 4, Syntax error."},
    {"1.5.3"sv, kStrict, nullptr, 2, "Line: 1, column: 4, Syntax error."},

    // Literals are exact and lower case.
    {"tru"sv, kStrict, nullptr, 2, "Line: 1, column: 1, Syntax error."},
    {"[nul]"sv, kStrict, nullptr, 2, "Line: 1, column: 2, Syntax error."},
    {"fals"sv, kStrict, nullptr, 2, "Line: 1, column: 1, Syntax error."},
    {"True"sv, kStrict, nullptr, 3, "Line: 1, column: 1, Unexpected token."},

    // Structure errors.
    {""sv, kStrict, nullptr, 3, "Line: 1, column: 1, Unexpected token."},
    {"  "sv, kStrict, nullptr, 3, "Line: 1, column: 3, Unexpected token."},
    {"{a:1}"sv, kStrict, nullptr, 8,
     "Line: 1, column: 2, Dictionary keys must be quoted."},
    {"{1:1}"sv, kStrict, nullptr, 8,
     "Line: 1, column: 2, Dictionary keys must be quoted."},
    {"{"sv, kStrict, nullptr, 8,
     "Line: 1, column: 2, Dictionary keys must be quoted."},
    {"{\"a\" 1}"sv, kStrict, nullptr, 2, "Line: 1, column: 6, Syntax error."},
    {"{\"a\":1 \"b\":2}"sv, kStrict, nullptr, 2,
     "Line: 1, column: 8, Syntax error."},
    {"{\"a\":1]"sv, kStrict, nullptr, 2, "Line: 1, column: 7, Syntax error."},
    {"{\"a\":1"sv, kStrict, nullptr, 2, "Line: 1, column: 7, Syntax error."},
    {"{\"a\":"sv, kStrict, nullptr, 3, "Line: 1, column: 6, Unexpected token."},
    {"[1 2]"sv, kStrict, nullptr, 2, "Line: 1, column: 4, Syntax error."},
    {"[1"sv, kStrict, nullptr, 2, "Line: 1, column: 3, Syntax error."},
    {"[1,,2]"sv, kStrict, nullptr, 3, "Line: 1, column: 4, Unexpected token."},
    {"[,]"sv, kStrict, nullptr, 3, "Line: 1, column: 2, Unexpected token."},
    {"[}"sv, kStrict, nullptr, 3, "Line: 1, column: 2, Unexpected token."},
    {"\xFF"sv, kStrict, nullptr, 3, "Line: 1, column: 1, Unexpected token."},

    // Trailing commas: rejected strictly, accepted with the option.
    {"{\"a\":1,}"sv, kStrict, nullptr, 4,
     "Line: 1, column: 8, Trailing comma not allowed."},
    {"[1,]"sv, kStrict, nullptr, 4,
     "Line: 1, column: 4, Trailing comma not allowed."},
    {"[1, /* c */ ]"sv, kStrict, nullptr, 4,
     "Line: 1, column: 13, Trailing comma not allowed."},
    {"{\"a\":1,}"sv, kTrailing, "{\"a\"=i:1}"},
    {"[1,]"sv, kTrailing, "[i:1]"},
    {"{\"a\":[1,],}"sv, kTrailing, "{\"a\"=[i:1]}"},
    {"[1,,]"sv, kTrailing, nullptr, 3, "Line: 1, column: 4, Unexpected token."},
    {"[,]"sv, kTrailing, nullptr, 3, "Line: 1, column: 2, Unexpected token."},
    {"{,}"sv, kTrailing, nullptr, 8,
     "Line: 1, column: 2, Dictionary keys must be quoted."},
    // The detach option does not change what is read.
    {"{\"a\":[1]}"sv, JSON_DETACHABLE_CHILDREN, "{\"a\"=[i:1]}"},

    // Byte-order mark: skipped at the very start only.
    {"\xEF\xBB\xBF{\"a\":1}"sv, kStrict, "{\"a\"=i:1}"},
    {"\xEF\xBB\xBF{\"a\":1,}"sv, kStrict, nullptr, 4,
     "Line: 1, column: 8, Trailing comma not allowed."},
    {" \xEF\xBB\xBF{}"sv, kStrict, nullptr, 3,
     "Line: 1, column: 2, Unexpected token."},

    // After the root: one stray character is tolerated, two are not.
    {"{\"a\":1}x"sv, kStrict, "{\"a\"=i:1}"},
    {"{\"a\":1} x /* c */ \n"sv, kStrict, "{\"a\"=i:1}"},
    {"\"a\"}"sv, kStrict, "s:\"a\""},
    {"[]\0"sv, kStrict, "[]"},
    {"{\"a\":1}xy"sv, kStrict, nullptr, 6,
     "Line: 1, column: 9, Unexpected data after root element."},
    {"{} x y"sv, kStrict, nullptr, 6,
     "Line: 1, column: 6, Unexpected data after root element."},
    {"[][]"sv, kStrict, nullptr, 6,
     "Line: 1, column: 4, Unexpected data after root element."},

    // Comments between any two tokens.
    {"// lead\n{ /* a */ \"a\" /* b */ : /* c */ [1, // x\r 2] /**/ } // end"sv,
     kStrict, "{\"a\"=[i:1,i:2]}"},
    {"/* a\n * b */ 7 /***/"sv, kStrict, "i:7"},
    // An unclosed block comment is not a comment.
    {"/* open [1]"sv, kStrict, nullptr, 3,
     "Line: 1, column: 1, Unexpected token."},
    {"[1] /* open"sv, kStrict, nullptr, 6,
     "Line: 1, column: 6, Unexpected data after root element."},
    {"[1 / 2]"sv, kStrict, nullptr, 2, "Line: 1, column: 4, Syntax error."},

    // Strings: escapes.
    {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\v\""sv, kStrict,
     "s:\"\\x22\\x5C/\\x08\\x0C\\x0A\\x0D\\x09\\x0B\""},
    {"\"\\u00e9\""sv, kStrict, "s:\"\\xC3\\xA9\""},
    {"\"\\u0041\\u20AC\""sv, kStrict, "s:\"A\\xE2\\x82\\xAC\""},
    {"\"\\ud83d\\ude00\""sv, kStrict, "s:\"\\xF0\\x9F\\x98\\x80\""},
    {"\"\\uDBFF\\uDFFF\""sv, kStrict, "s:\"\\xF4\\x8F\\xBF\\xBF\""},
    {"\"\\u0000\""sv, kStrict, "s:\"\\x00\""},
    {"\"\\x41\""sv, kStrict, "s:\"A\""},
    {"\"\\xe9\\x7F\""sv, kStrict, "s:\"\\xC3\\xA9\\x7F\""},
    {"\"\\q\""sv, kStrict, nullptr, 1,
     "Line: 1, column: 2, Invalid escape sequence."},
    {"\"ab\\'\""sv, kStrict, nullptr, 1,
     "Line: 1, column: 4, Invalid escape sequence."},
    {"\"\\u12\""sv, kStrict, nullptr, 1,
     "Line: 1, column: 2, Invalid escape sequence."},
    {"\"\\u12G4\""sv, kStrict, nullptr, 1,
     "Line: 1, column: 2, Invalid escape sequence."},
    {"\"\\x4\""sv, kStrict, nullptr, 1,
     "Line: 1, column: 2, Invalid escape sequence."},
    {"\"\\ud800\""sv, kStrict, nullptr, 1,
     "Line: 1, column: 2, Invalid escape sequence."},
    {"\"\\ud800\\u0041\""sv, kStrict, nullptr, 1,
     "Line: 1, column: 2, Invalid escape sequence."},
    {"\"\\ud800\\n\""sv, kStrict, nullptr, 1,
     "Line: 1, column: 2, Invalid escape sequence."},
    {"\"\\ude00\""sv, kStrict, nullptr, 1,
     "Line: 1, column: 2, Invalid escape sequence."},
    // The text ends inside a string.
    {"\"abc"sv, kStrict, nullptr, 2, "Line: 1, column: 5, Syntax error."},
    {"\"abc\\"sv, kStrict, nullptr, 2, "Line: 1, column: 6, Syntax error."},
    {"\"\\u12"sv, kStrict, nullptr, 2, "Line: 1, column: 6, Syntax error."},
    {"[\"\\ud800"sv, kStrict, nullptr, 2, "Line: 1, column: 9, Syntax error."},

    // Strings: raw bytes must be UTF-8 of valid characters; control
    // characters pass as they are.
    {"\"a\tb\x01\n\""sv, kStrict, "s:\"a\\x09b\\x01\\x0A\""},
    {"\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""sv, kStrict,
     "s:\"\\xC3\\xA9\\xE2\\x82\\xAC\\xF0\\x9F\\x98\\x80\""},
    {"\"\xEF\xB7\x8F\xEF\xB7\xB0\""sv, kStrict,  // U+FDCF, U+FDF0
     "s:\"\\xEF\\xB7\\x8F\\xEF\\xB7\\xB0\""},
    {"\"\xEF\xBF\xBD\""sv, kStrict, "s:\"\\xEF\\xBF\\xBD\""},  // U+FFFD
    {"\"\xC3\""sv, kStrict, nullptr, 7,
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"\"ab\xC3"sv, kStrict, nullptr, 7,
     "Line: 1, column: 4, Unsupported encoding. JSON must be UTF-8."},
    {"\"\xA9\""sv, kStrict, nullptr, 7,
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"\"\xC0\x80\""sv, kStrict, nullptr, 7,  // Overlong NUL.
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"\"\xE0\x80\xAF\""sv, kStrict, nullptr, 7,  // Overlong '/'.
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"\"\xED\xA0\x80\""sv, kStrict, nullptr, 7,  // U+D800
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"\"\xED\xBF\xBF\""sv, kStrict, nullptr, 7,  // U+DFFF
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"\"\xEF\xB7\x90\""sv, kStrict, nullptr, 7,  // U+FDD0
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"\"\xEF\xB7\xAF\""sv, kStrict, nullptr, 7,  // U+FDEF
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"\"\xEF\xBF\xBE\""sv, kStrict, nullptr, 7,  // U+FFFE
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"\"\xEF\xBF\xBF\""sv, kStrict, nullptr, 7,  // U+FFFF
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"\"\xF0\x9F\xBF\xBE\""sv, kStrict, nullptr, 7,  // U+1FFFE
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"\"\xF4\x8F\xBF\xBF\""sv, kStrict, nullptr, 7,  // U+10FFFF
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"\"\xF4\x90\x80\x80\""sv, kStrict, nullptr, 7,  // Above U+10FFFF.
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"\"\xFF\""sv, kStrict, nullptr, 7,
     "Line: 1, column: 2, Unsupported encoding. JSON must be UTF-8."},
    {"{\"k\xED\xA0\x80\":1}"sv, kStrict, nullptr, 7,  // Keys too.
     "Line: 1, column: 4, Unsupported encoding. JSON must be UTF-8."},

    // Positions: CR, LF and CR LF each end one line; columns count bytes.
    {"{\n  \"a\": 1,\n  b: 2\n}"sv, kStrict, nullptr, 8,
     "Line: 3, column: 3, Dictionary keys must be quoted."},
    {"[\r\n1,\r\n\r\n x]"sv, kStrict, nullptr, 3,
     "Line: 4, column: 2, Unexpected token."},
    {"[\r\r1,\n\n\"\\q\"]"sv, kStrict, nullptr, 1,
     "Line: 5, column: 2, Invalid escape sequence."},
    {"[\"a\nb\", x]"sv, kStrict, nullptr, 3,
     "Line: 2, column: 5, Unexpected token."},
    {"// one\n/* two\nthree */ [1,]"sv, kStrict, nullptr, 4,
     "Line: 3, column: 13, Trailing comma not allowed."},
};

// Shown in test names and failures. Only characters that are safe in a test
// runner's listing pass as they are; everything else appears as %HH.
void PrintTo(const ReadCase& c, std::ostream* os) {
  std::string shown;
  for (char ch : c.input) {
    const unsigned char byte = static_cast<unsigned char>(ch);
    if ((byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
        (byte >= 'A' && byte <= 'Z') ||
        std::string_view("{}:,.+-_/* ").find(ch) != std::string_view::npos) {
      shown.push_back(ch);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof(escaped), "%%%02X", byte);
      shown += escaped;
    }
  }
  if (shown.size() > 60)
    shown = shown.substr(0, 57) + "...";
  *os << "input " << shown << " options " << c.options;
}

class JSONReaderTableTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(JSONReaderTableTest, ReadsOrFailsAsExpected) {
  const ReadCase& c = GetParam();
  int error_code = -1;
  std::string error_message = "untouched";
  std::unique_ptr<Value> root =
      JSONReader::Read(c.input, c.options, &error_code, &error_message);
  if (c.expected) {
    ASSERT_TRUE(root) << "error: " << error_message;
    EXPECT_EQ(c.expected, Describe(*root));
    EXPECT_EQ(JSONReader::JSON_NO_ERROR, error_code);
    EXPECT_EQ("", error_message);
  } else {
    EXPECT_FALSE(root) << Describe(*root);
    EXPECT_EQ(c.error_code, error_code);
    EXPECT_EQ(c.error_message, error_message);
  }
}

std::string CaseName(const ::testing::TestParamInfo<ReadCase>& info) {
  return "Row" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Grammar,
                         JSONReaderTableTest,
                         ::testing::ValuesIn(kReadCases),
                         CaseName);

std::string Nested(int depth, std::string_view open, std::string_view close) {
  std::string text;
  for (int i = 0; i < depth; ++i)
    text += open;
  for (int i = 0; i < depth; ++i)
    text += close;
  return text;
}

TEST(JSONReaderTest, NestingLimitIs99Containers) {
  std::unique_ptr<Value> root = JSONReader::Read(Nested(99, "[", "]"));
  ASSERT_TRUE(root);
  int depth = 0;
  for (const Value* v = root.get(); v; ++depth) {
    const ListValue* list = nullptr;
    ASSERT_TRUE(v->GetAsList(&list));
    v = list->Get(0);
  }
  EXPECT_EQ(99, depth);

  int error_code = 0;
  std::string error_message;
  EXPECT_FALSE(JSONReader::Read(Nested(100, "[", "]"), JSON_PARSE_RFC,
                                &error_code, &error_message));
  EXPECT_EQ(JSONReader::JSON_TOO_MUCH_NESTING, error_code);
  EXPECT_EQ("Line: 1, column: 100, Too much nesting.", error_message);

  // Dictionaries and lists count alike.
  EXPECT_TRUE(JSONReader::Read(Nested(49, "{\"a\":[", "]}") + ""));
  EXPECT_TRUE(JSONReader::Read("[" + Nested(49, "{\"a\":[", "]}") + "]"));
  EXPECT_FALSE(JSONReader::Read("[" + Nested(50, "{\"a\":[", "]}") + "]",
                                JSON_PARSE_RFC, &error_code));
  EXPECT_EQ(JSONReader::JSON_TOO_MUCH_NESTING, error_code);
}

// Inputs that would exhaust the stack of a parser that recursed per byte or
// per token: they must fail (or succeed) cleanly.
TEST(JSONReaderTest, HostileInputsNeitherRecurseNorCrash) {
  int error_code = 0;
  EXPECT_FALSE(JSONReader::Read(std::string(1000000, '['), JSON_PARSE_RFC,
                                &error_code));
  EXPECT_EQ(JSONReader::JSON_TOO_MUCH_NESTING, error_code);
  EXPECT_FALSE(JSONReader::Read(std::string(1000000, '{'), JSON_PARSE_RFC,
                                &error_code));
  EXPECT_EQ(JSONReader::JSON_UNQUOTED_DICTIONARY_KEY, error_code);
  EXPECT_FALSE(JSONReader::Read("[" + std::string(1000000, '-'),
                                JSON_PARSE_RFC, &error_code));
  EXPECT_EQ(JSONReader::JSON_SYNTAX_ERROR, error_code);

  std::string many_comments;
  for (int i = 0; i < 100000; ++i)
    many_comments += "/**/";
  EXPECT_TRUE(JSONReader::Read(many_comments + "1" + many_comments));
  // An unclosed comment is searched for once, not once per look at it.
  EXPECT_FALSE(JSONReader::Read("[1] x /*" + std::string(1000000, '*'),
                                JSON_PARSE_RFC, &error_code));
  EXPECT_EQ(JSONReader::JSON_UNEXPECTED_DATA_AFTER_ROOT, error_code);

  const std::string long_text(4 * 1024 * 1024, 'x');
  std::unique_ptr<Value> root = JSONReader::Read("\"" + long_text + "\"");
  ASSERT_TRUE(root);
  std::string text;
  ASSERT_TRUE(root->GetAsString(&text));
  EXPECT_EQ(long_text, text);

  // A million-digit number is a (finite) double, or too large: never a hang.
  root = JSONReader::Read("0." + std::string(1000000, '1'));
  double d = 0;
  ASSERT_TRUE(root && root->GetAsDouble(&d));
  EXPECT_NEAR(0.1111111111111111, d, 1e-15);
  EXPECT_FALSE(JSONReader::Read(std::string(1000000, '9')));
}

double ReadDouble(const std::string& text) {
  std::unique_ptr<Value> root = JSONReader::Read(text);
  double d = -1;
  EXPECT_TRUE(root && root->GetAsDouble(&d)) << text.substr(0, 60);
  return d;
}

// The decimal digits of 5^power.
std::string PowerOfFive(int power) {
  std::string digits = "1";
  for (int i = 0; i < power; ++i) {
    int carry = 0;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
      const int product = (*it - '0') * 5 + carry;
      *it = static_cast<char>('0' + product % 10);
      carry = product / 10;
    }
    if (carry)
      digits.insert(digits.begin(), static_cast<char>('0' + carry));
  }
  return digits;
}

// Numbers far longer than a double's precision still round as written: a
// tie rounds to even, and digits a thousand places on break the tie.
TEST(JSONReaderTest, LongNumbersRoundCorrectly) {
  const std::string zeros(1000, '0');
  // 1 + 2^-53, halfway between 1 and the next double.
  const std::string halfway_above_one =
      "1.00000000000000011102230246251565404236316680908203125";
  EXPECT_EQ(1.0, ReadDouble(halfway_above_one + zeros));
  EXPECT_EQ(std::nextafter(1.0, 2.0),
            ReadDouble(halfway_above_one + zeros + "1"));
  EXPECT_EQ(-std::nextafter(1.0, 2.0),
            ReadDouble("-" + halfway_above_one + zeros + "1"));

  // 2^-1075 = 5^1075 * 10^-1075 (752 digits), halfway between zero and the
  // smallest double.
  const std::string half_min = PowerOfFive(1075);
  EXPECT_EQ(0.0, ReadDouble(half_min + zeros + "e-2075"));
  EXPECT_EQ(std::numeric_limits<double>::denorm_min(),
            ReadDouble(half_min + zeros + "1e-2076"));

  // The exponent counts the digits before the point and the zeros after it.
  EXPECT_EQ(1.0 / 9, ReadDouble(std::string(20000, '1') + "e-20000"));
  EXPECT_EQ(-1.5, ReadDouble("-0." + zeros + "15" + zeros + "e1001"));
  EXPECT_EQ(0.0, ReadDouble("0." + zeros + "e99999999999999999999"));
  EXPECT_FALSE(JSONReader::Read(half_min + zeros + "e99999999999999999999"));
}

TEST(JSONReaderTest, ErrorOutputsAreOptionalAndResetOnSuccess) {
  EXPECT_FALSE(JSONReader::Read("[1,]"));
  EXPECT_TRUE(JSONReader::Read("[1,]", JSON_ALLOW_TRAILING_COMMAS));

  int error_code = 0;
  EXPECT_FALSE(JSONReader::Read("[1,]", JSON_PARSE_RFC, &error_code));
  EXPECT_EQ(JSONReader::JSON_TRAILING_COMMA, error_code);
  std::string error_message;
  EXPECT_FALSE(
      JSONReader::Read("[1,]", JSON_PARSE_RFC, nullptr, &error_message));
  EXPECT_EQ("Line: 1, column: 4, Trailing comma not allowed.", error_message);

  EXPECT_TRUE(JSONReader::Read("[1]", JSON_PARSE_RFC, &error_code,
                               &error_message));
  EXPECT_EQ(0, error_code);
  EXPECT_EQ("", error_message);
}

TEST(JSONReaderTest, ReaderObjectKeepsTheLastOutcome) {
  JSONReader reader;
  EXPECT_FALSE(reader.ReadToValue("{\n\"a\" 1}"));
  EXPECT_EQ(JSONReader::JSON_SYNTAX_ERROR, reader.error_code());
  EXPECT_EQ(2, reader.error_line());
  EXPECT_EQ(5, reader.error_column());
  EXPECT_EQ("Line: 2, column: 5, Syntax error.", reader.GetErrorMessage());

  EXPECT_TRUE(reader.ReadToValue("{}"));
  EXPECT_EQ(JSONReader::JSON_NO_ERROR, reader.error_code());
  EXPECT_EQ(0, reader.error_line());
  EXPECT_EQ(0, reader.error_column());
  EXPECT_EQ("", reader.GetErrorMessage());
}

TEST(JSONReaderTest, MessageFormat) {
  EXPECT_EQ("Line: 12, column: 345, Syntax error.",
            internal::JSONParser::FormatErrorMessage(12, 345, "Syntax error."));
  EXPECT_EQ("Line: 0, column: 3, x",
            internal::JSONParser::FormatErrorMessage(0, 3, "x"));
  // Without a position the text stands alone.
  EXPECT_EQ("Syntax error.",
            internal::JSONParser::FormatErrorMessage(0, 0, "Syntax error."));
}

TEST(JSONReaderTest, ErrorTexts) {
  const struct {
    JSONReader::JsonParseError code;
    const char* text;
  } kTexts[] = {
      {JSONReader::JSON_NO_ERROR, ""},
      {JSONReader::JSON_INVALID_ESCAPE, "Invalid escape sequence."},
      {JSONReader::JSON_SYNTAX_ERROR, "Syntax error."},
      {JSONReader::JSON_UNEXPECTED_TOKEN, "Unexpected token."},
      {JSONReader::JSON_TRAILING_COMMA, "Trailing comma not allowed."},
      {JSONReader::JSON_TOO_MUCH_NESTING, "Too much nesting."},
      {JSONReader::JSON_UNEXPECTED_DATA_AFTER_ROOT,
       "Unexpected data after root element."},
      {JSONReader::JSON_UNSUPPORTED_ENCODING,
       "Unsupported encoding. JSON must be UTF-8."},
      {JSONReader::JSON_UNQUOTED_DICTIONARY_KEY,
       "Dictionary keys must be quoted."},
  };
  for (const auto& t : kTexts) {
    EXPECT_EQ(t.text, JSONReader::ErrorCodeToString(t.code)) << t.code;
  }
  EXPECT_EQ(9, JSONReader::JSON_PARSE_ERROR_COUNT);
}

}  // namespace
}  // namespace base
