// Reads JSON text into an owned Value tree.
//
// The reader is strict: the text must be UTF-8, numbers must be finite, at
// most 99 containers may nest, and anything after the root value beyond one
// stray character is rejected. Beyond plain JSON it accepts a leading UTF-8
// byte-order mark, // and /* */ comments between tokens, and the string
// escapes \v and \xHH.
//
// Failure returns null; the error code, its text and the line and column of
// the first failure are available to the caller. The reader never recurses
// except into nested containers (bounded by the nesting limit) and takes time
// linear in the length of its input. It calls no operating-system function.
#ifndef BASE_JSON_JSON_READER_H_
#define BASE_JSON_JSON_READER_H_

#include <memory>
#include <string>
#include <string_view>

namespace base {

class Value;

// Option bits.
enum JSONParserOptions {
  // Strict parsing: what the installer uses.
  JSON_PARSE_RFC = 0,
  // Accept one comma right before a closing ']' or '}'.
  JSON_ALLOW_TRAILING_COMMAS = 1 << 0,
  // Children may be detached from the tree without copying. The tree never
  // refers back into the input text, so this reader behaves the same with or
  // without it; the bit is accepted for callers that pass it.
  JSON_DETACHABLE_CHILDREN = 1 << 1,
};

class JSONReader {
 public:
  // Stable codes: they are part of the interface.
  enum JsonParseError {
    JSON_NO_ERROR = 0,
    JSON_INVALID_ESCAPE = 1,
    JSON_SYNTAX_ERROR = 2,
    JSON_UNEXPECTED_TOKEN = 3,
    JSON_TRAILING_COMMA = 4,
    JSON_TOO_MUCH_NESTING = 5,
    JSON_UNEXPECTED_DATA_AFTER_ROOT = 6,
    JSON_UNSUPPORTED_ENCODING = 7,
    JSON_UNQUOTED_DICTIONARY_KEY = 8,
    JSON_PARSE_ERROR_COUNT
  };

  // Texts of the error codes, as they appear in error messages.
  static const char kInvalidEscape[];
  static const char kSyntaxError[];
  static const char kUnexpectedToken[];
  static const char kTrailingComma[];
  static const char kTooMuchNesting[];
  static const char kUnexpectedDataAfterRoot[];
  static const char kUnsupportedEncoding[];
  static const char kUnquotedDictionaryKey[];

  // Containers may nest this deep; opening one more fails.
  static constexpr int kStackMaxDepth = 99;

  // |options| is a combination of JSONParserOptions bits.
  explicit JSONReader(int options = JSON_PARSE_RFC);
  ~JSONReader();

  JSONReader(const JSONReader&) = delete;
  JSONReader& operator=(const JSONReader&) = delete;

  // Reads |json| (UTF-8). Returns the root or null. On return
  // |error_code_out| (if given) holds a JsonParseError and |error_msg_out|
  // (if given) the message of GetErrorMessage(); both describe "no error"
  // after a success (0 and an empty text).
  static std::unique_ptr<Value> Read(std::string_view json,
                                     int options = JSON_PARSE_RFC,
                                     int* error_code_out = nullptr,
                                     std::string* error_msg_out = nullptr);

  // The text of |error_code|; empty for JSON_NO_ERROR and unknown codes.
  static std::string ErrorCodeToString(JsonParseError error_code);

  // Reads |json| and remembers the outcome for the accessors below.
  std::unique_ptr<Value> ReadToValue(std::string_view json);

  JsonParseError error_code() const { return error_code_; }
  // 1-based position of the first failure, counted in bytes; 0 when none.
  int error_line() const { return error_line_; }
  int error_column() const { return error_column_; }
  // "Line: %i, column: %i, <text>", or the text alone when the line and the
  // column are both 0; empty when there was no error.
  std::string GetErrorMessage() const;

 private:
  const int options_;
  JsonParseError error_code_ = JSON_NO_ERROR;
  int error_line_ = 0;
  int error_column_ = 0;
};

}  // namespace base

#endif  // BASE_JSON_JSON_READER_H_
