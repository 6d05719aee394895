// The recursive-descent parser behind JSONReader. Not for direct use.
#ifndef BASE_JSON_JSON_PARSER_H_
#define BASE_JSON_JSON_PARSER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/json/json_reader.h"

namespace base {

class Value;

namespace internal {

// One parse of one text. The input is borrowed for the duration of Parse()
// only: the returned tree owns copies of everything it holds.
//
// Recursion happens only when a container opens, so the stack depth is
// bounded by JSONReader::kStackMaxDepth whatever the input; strings, numbers,
// comments and whitespace are consumed in loops. Every byte is looked at a
// bounded number of times, so parsing is linear in the input length.
class JSONParser {
 public:
  explicit JSONParser(int options);
  ~JSONParser();

  JSONParser(const JSONParser&) = delete;
  JSONParser& operator=(const JSONParser&) = delete;

  // Returns the root value, or null with the error accessors set.
  std::unique_ptr<Value> Parse(std::string_view input);

  JSONReader::JsonParseError error_code() const { return error_code_; }
  int error_line() const { return error_line_; }
  int error_column() const { return error_column_; }

  // "Line: %i, column: %i, <description>", or |description| alone when both
  // |line| and |column| are 0.
  static std::string FormatErrorMessage(int line,
                                        int column,
                                        const std::string& description);

 private:
  bool AtEnd() const { return pos_ >= input_.size(); }
  char Peek() const { return input_[pos_]; }

  // Skips spaces, tabs, line breaks and complete comments. A "/*" without a
  // closing "*/" is not a comment and is left in place.
  void SkipWhitespaceAndComments();

  // |depth| is the number of containers open around the value.
  std::unique_ptr<Value> ParseValue(int depth);
  // Where a container stands after its opening or after one of its elements.
  enum class ContainerStep { kNextElement, kClosed, kFailed };
  // Checks the nesting limit and consumes the opening bracket; kClosed for an
  // empty container.
  ContainerStep OpenContainer(int depth, char close);
  // Consumes the ',' or |close| after an element (a ',' directly before
  // |close| only with JSON_ALLOW_TRAILING_COMMAS).
  ContainerStep ConsumeElementEnd(char close);
  std::unique_ptr<Value> ParseDictionary(int depth);
  std::unique_ptr<Value> ParseList(int depth);
  std::unique_ptr<Value> ParseNumber();
  std::unique_ptr<Value> ParseLiteral();

  // At a double quote: appends the decoded string to |out| as UTF-8.
  bool ParseString(std::string* out);
  // At a backslash inside a string.
  bool ParseEscape(std::string* out);
  // Reads |digits| hex digits of the escape that began at |escape_start|.
  bool ReadHexDigits(int digits, size_t escape_start, uint32_t* value);

  // Records the first failure, at byte |offset| of the input.
  void ReportError(JSONReader::JsonParseError code, size_t offset);

  const int options_;
  std::string_view input_;
  size_t pos_ = 0;
  // Where columns of the first line start counting (after a byte-order mark).
  size_t first_line_start_ = 0;
  // A search for "*/" from here on is known to fail; keeps repeated looks at
  // one unterminated comment from costing more than one scan.
  size_t comment_end_missing_from_ = std::string_view::npos;

  JSONReader::JsonParseError error_code_ = JSONReader::JSON_NO_ERROR;
  int error_line_ = 0;
  int error_column_ = 0;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_JSON_JSON_PARSER_H_
