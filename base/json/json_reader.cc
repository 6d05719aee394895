#include "base/json/json_reader.h"

#include "base/json/json_parser.h"
#include "base/values.h"

namespace base {

const char JSONReader::kInvalidEscape[] = "Invalid escape sequence.";
const char JSONReader::kSyntaxError[] = "Syntax error.";
const char JSONReader::kUnexpectedToken[] = "Unexpected token.";
const char JSONReader::kTrailingComma[] = "Trailing comma not allowed.";
const char JSONReader::kTooMuchNesting[] = "Too much nesting.";
const char JSONReader::kUnexpectedDataAfterRoot[] =
    "Unexpected data after root element.";
const char JSONReader::kUnsupportedEncoding[] =
    "Unsupported encoding. JSON must be UTF-8.";
const char JSONReader::kUnquotedDictionaryKey[] =
    "Dictionary keys must be quoted.";

JSONReader::JSONReader(int options) : options_(options) {}

JSONReader::~JSONReader() = default;

// static
std::unique_ptr<Value> JSONReader::Read(std::string_view json,
                                        int options,
                                        int* error_code_out,
                                        std::string* error_msg_out) {
  JSONReader reader(options);
  std::unique_ptr<Value> root = reader.ReadToValue(json);
  if (error_code_out)
    *error_code_out = reader.error_code();
  if (error_msg_out)
    *error_msg_out = reader.GetErrorMessage();
  return root;
}

// static
std::string JSONReader::ErrorCodeToString(JsonParseError error_code) {
  switch (error_code) {
    case JSON_INVALID_ESCAPE:
      return kInvalidEscape;
    case JSON_SYNTAX_ERROR:
      return kSyntaxError;
    case JSON_UNEXPECTED_TOKEN:
      return kUnexpectedToken;
    case JSON_TRAILING_COMMA:
      return kTrailingComma;
    case JSON_TOO_MUCH_NESTING:
      return kTooMuchNesting;
    case JSON_UNEXPECTED_DATA_AFTER_ROOT:
      return kUnexpectedDataAfterRoot;
    case JSON_UNSUPPORTED_ENCODING:
      return kUnsupportedEncoding;
    case JSON_UNQUOTED_DICTIONARY_KEY:
      return kUnquotedDictionaryKey;
    default:
      return std::string();
  }
}

std::unique_ptr<Value> JSONReader::ReadToValue(std::string_view json) {
  internal::JSONParser parser(options_);
  std::unique_ptr<Value> root = parser.Parse(json);
  error_code_ = parser.error_code();
  error_line_ = parser.error_line();
  error_column_ = parser.error_column();
  return root;
}

std::string JSONReader::GetErrorMessage() const {
  if (error_code_ == JSON_NO_ERROR)
    return std::string();
  return internal::JSONParser::FormatErrorMessage(
      error_line_, error_column_, ErrorCodeToString(error_code_));
}

}  // namespace base
