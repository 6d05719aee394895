#include "base/json/json_parser.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <utility>

#include "base/strings/utf_string_conversions.h"
#include "base/values.h"

namespace base {
namespace internal {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr size_t kByteOrderMarkLength = 3;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool IsHighSurrogate(uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Significant digits handed to strtod. Some C libraries (mingw-w64's among
// them) take time quadratic in the digit count and misplace the exponent of
// very long mantissas, so longer numbers are shortened first.
//
// Every double, and every midpoint between neighbouring doubles (where the
// rounding changes, the overflow and underflow thresholds included), is
// M * 2^q with M < 2^54 and q >= -1075: an integer below 2^1025 (309 digits)
// or M * 5^-q / 10^-q, fewer than 768 significant decimal digits. Cut after
// N >= 768 digits, a number whose dropped digits are not all zero lies
// strictly between the cut value T and T + one unit in digit N. A point of
// at most N digits with the same leading digit position is a multiple of
// that unit, so none lies in between: the number and T followed by one
// more digit '1' round to the same double. If the dropped digits are all
// zero, T is the number itself.
constexpr size_t kMaxSignificantDigits = 800;

// 0.d * 10^e with a leading digit d > 0 lies in [10^(e-1), 10^e): beyond
// this exponent it overflows, below its negative it rounds to zero, however
// far beyond.
constexpr int64_t kExponentLimit = 100000;

int64_t ClampExponent(int64_t exponent) {
  if (exponent > kExponentLimit)
    return kExponentLimit;
  return exponent < -kExponentLimit ? -kExponentLimit : exponent;
}

// Rewrites a well-formed number token as "[-]0.<digits>e<exponent>" with at
// most kMaxSignificantDigits + 1 digits and the same double value (above).
std::string ShortenNumber(std::string_view text) {
  size_t i = 0;
  const bool negative = text[0] == '-';
  if (negative)
    ++i;

  std::string digits;
  bool dropped_nonzero = false;
  // Digits before the decimal point, minus the zeros ahead of the first
  // significant digit: the power of ten of 0.<digits>.
  int64_t exponent = 0;
  bool in_fraction = false;
  for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
    const char c = text[i];
    if (c == '.') {
      in_fraction = true;
      continue;
    }
    if (!in_fraction)
      ++exponent;
    if (digits.empty() && c == '0') {
      --exponent;
      continue;
    }
    if (digits.size() < kMaxSignificantDigits)
      digits.push_back(c);
    else if (c != '0')
      dropped_nonzero = true;
  }
  if (digits.empty())
    return negative ? "-0" : "0";
  if (dropped_nonzero)
    digits.push_back('1');

  if (i < text.size()) {
    ++i;  // 'e' or 'E'
    const bool negative_exponent = text[i] == '-';
    if (text[i] == '-' || text[i] == '+')
      ++i;
    int64_t written = 0;
    for (; i < text.size(); ++i)
      written = ClampExponent(written * 10 + (text[i] - '0'));
    exponent += negative_exponent ? -written : written;
  }
  return (negative ? "-0." : "0.") + digits + "e" +
         std::to_string(ClampExponent(exponent));
}

}  // namespace

JSONParser::JSONParser(int options) : options_(options) {}

JSONParser::~JSONParser() = default;

std::unique_ptr<Value> JSONParser::Parse(std::string_view input) {
  input_ = input;
  pos_ = 0;
  first_line_start_ = 0;
  comment_end_missing_from_ = std::string_view::npos;
  error_code_ = JSONReader::JSON_NO_ERROR;
  error_line_ = 0;
  error_column_ = 0;

  if (input_.substr(0, kByteOrderMarkLength) == kByteOrderMark) {
    pos_ = kByteOrderMarkLength;
    first_line_start_ = kByteOrderMarkLength;
  }

  std::unique_ptr<Value> root = ParseValue(0);
  if (!root)
    return nullptr;

  // One stray character after the root is tolerated, as long as nothing but
  // whitespace and comments follows it.
  SkipWhitespaceAndComments();
  if (!AtEnd()) {
    ++pos_;
    SkipWhitespaceAndComments();
    if (!AtEnd()) {
      ReportError(JSONReader::JSON_UNEXPECTED_DATA_AFTER_ROOT, pos_);
      return nullptr;
    }
  }
  return root;
}

// static
std::string JSONParser::FormatErrorMessage(int line,
                                           int column,
                                           const std::string& description) {
  if (line == 0 && column == 0)
    return description;
  return "Line: " + std::to_string(line) + ", column: " +
         std::to_string(column) + ", " + description;
}

void JSONParser::SkipWhitespaceAndComments() {
  while (!AtEnd()) {
    const char c = Peek();
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++pos_;
      continue;
    }
    if (c != '/' || pos_ + 1 >= input_.size())
      return;
    const char next = input_[pos_ + 1];
    if (next == '/') {
      pos_ += 2;
      while (!AtEnd() && Peek() != '\r' && Peek() != '\n')
        ++pos_;
      continue;
    }
    if (next != '*')
      return;
    if (pos_ + 2 >= comment_end_missing_from_)
      return;
    const size_t end = input_.find("*/", pos_ + 2);
    if (end == std::string_view::npos) {
      comment_end_missing_from_ = pos_ + 2;
      return;
    }
    pos_ = end + 2;
  }
}

std::unique_ptr<Value> JSONParser::ParseValue(int depth) {
  SkipWhitespaceAndComments();
  if (AtEnd()) {
    ReportError(JSONReader::JSON_UNEXPECTED_TOKEN, pos_);
    return nullptr;
  }
  switch (Peek()) {
    case '{':
      return ParseDictionary(depth);
    case '[':
      return ParseList(depth);
    case '"': {
      std::string text;
      if (!ParseString(&text))
        return nullptr;
      return std::make_unique<StringValue>(std::move(text));
    }
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      return ParseNumber();
    case 't':
    case 'f':
    case 'n':
      return ParseLiteral();
    default:
      ReportError(JSONReader::JSON_UNEXPECTED_TOKEN, pos_);
      return nullptr;
  }
}

JSONParser::ContainerStep JSONParser::OpenContainer(int depth, char close) {
  if (depth >= JSONReader::kStackMaxDepth) {
    ReportError(JSONReader::JSON_TOO_MUCH_NESTING, pos_);
    return ContainerStep::kFailed;
  }
  ++pos_;  // '{' or '['
  SkipWhitespaceAndComments();
  if (!AtEnd() && Peek() == close) {
    ++pos_;
    return ContainerStep::kClosed;
  }
  return ContainerStep::kNextElement;
}

JSONParser::ContainerStep JSONParser::ConsumeElementEnd(char close) {
  SkipWhitespaceAndComments();
  if (AtEnd()) {
    ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
    return ContainerStep::kFailed;
  }
  if (Peek() == close) {
    ++pos_;
    return ContainerStep::kClosed;
  }
  if (Peek() != ',') {
    ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
    return ContainerStep::kFailed;
  }
  ++pos_;
  SkipWhitespaceAndComments();
  if (!AtEnd() && Peek() == close) {
    if (!(options_ & JSON_ALLOW_TRAILING_COMMAS)) {
      ReportError(JSONReader::JSON_TRAILING_COMMA, pos_);
      return ContainerStep::kFailed;
    }
    ++pos_;
    return ContainerStep::kClosed;
  }
  return ContainerStep::kNextElement;
}

std::unique_ptr<Value> JSONParser::ParseDictionary(int depth) {
  auto dictionary = std::make_unique<DictionaryValue>();
  for (ContainerStep step = OpenContainer(depth, '}');;
       step = ConsumeElementEnd('}')) {
    if (step == ContainerStep::kFailed)
      return nullptr;
    if (step == ContainerStep::kClosed)
      return dictionary;

    SkipWhitespaceAndComments();
    if (AtEnd() || Peek() != '"') {
      ReportError(JSONReader::JSON_UNQUOTED_DICTIONARY_KEY, pos_);
      return nullptr;
    }
    std::string key;
    if (!ParseString(&key))
      return nullptr;

    SkipWhitespaceAndComments();
    if (AtEnd() || Peek() != ':') {
      ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
      return nullptr;
    }
    ++pos_;

    std::unique_ptr<Value> value = ParseValue(depth + 1);
    if (!value)
      return nullptr;
    // Keys are stored literally; a repeated key replaces the earlier value.
    dictionary->SetWithoutPathExpansion(key, std::move(value));
  }
}

std::unique_ptr<Value> JSONParser::ParseList(int depth) {
  auto list = std::make_unique<ListValue>();
  for (ContainerStep step = OpenContainer(depth, ']');;
       step = ConsumeElementEnd(']')) {
    if (step == ContainerStep::kFailed)
      return nullptr;
    if (step == ContainerStep::kClosed)
      return list;

    std::unique_ptr<Value> value = ParseValue(depth + 1);
    if (!value)
      return nullptr;
    list->Append(std::move(value));
  }
}

std::unique_ptr<Value> JSONParser::ParseNumber() {
  const size_t start = pos_;
  if (Peek() == '-')
    ++pos_;

  // Integer part: "0" or a digit run that does not start with '0'.
  if (AtEnd() || !IsDigit(Peek())) {
    ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
    return nullptr;
  }
  if (Peek() == '0') {
    ++pos_;
    if (!AtEnd() && IsDigit(Peek())) {
      ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
      return nullptr;
    }
  } else {
    while (!AtEnd() && IsDigit(Peek()))
      ++pos_;
  }
  const size_t integer_end = pos_;

  if (!AtEnd() && Peek() == '.') {
    ++pos_;
    if (AtEnd() || !IsDigit(Peek())) {
      ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
      return nullptr;
    }
    while (!AtEnd() && IsDigit(Peek()))
      ++pos_;
  }
  if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
    ++pos_;
    if (!AtEnd() && (Peek() == '+' || Peek() == '-'))
      ++pos_;
    if (AtEnd() || !IsDigit(Peek())) {
      ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
      return nullptr;
    }
    while (!AtEnd() && IsDigit(Peek()))
      ++pos_;
  }
  const size_t end = pos_;

  // A number must be followed by a separator, a closing bracket or the end:
  // "5x" is malformed rather than a number with a stray character after it.
  SkipWhitespaceAndComments();
  if (!AtEnd() && Peek() != ',' && Peek() != ']' && Peek() != '}') {
    ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
    return nullptr;
  }

  const std::string_view text = input_.substr(start, end - start);

  // A plain integer that fits in 32 bits stays an integer. Ten digits at
  // most, so the 64-bit accumulator cannot overflow.
  if (integer_end == end) {
    const bool negative = text[0] == '-';
    const std::string_view digits = text.substr(negative ? 1 : 0);
    if (digits.size() <= 10) {
      int64_t magnitude = 0;
      for (char c : digits)
        magnitude = magnitude * 10 + (c - '0');
      const int64_t value = negative ? -magnitude : magnitude;
      if (value >= INT32_MIN && value <= INT32_MAX)
        return std::make_unique<FundamentalValue>(static_cast<int>(value));
    }
  }

  // Everything else is a double. strtod reads '.' as the decimal point in
  // the "C" locale, which this program never changes; the C library's own
  // converter keeps a large float parser out of the program.
  const std::string number = text.size() > kMaxSignificantDigits
                                 ? ShortenNumber(text)
                                 : std::string(text);
  char* number_end = nullptr;
  double value = std::strtod(number.c_str(), &number_end);
  if (number_end != number.c_str() + number.size()) {
    ReportError(JSONReader::JSON_SYNTAX_ERROR, start);
    return nullptr;
  }
  // A result too small for a double is the nearest double (zero); one too
  // large is not representable and fails below.
  if (!std::isfinite(value)) {
    ReportError(JSONReader::JSON_SYNTAX_ERROR, start);
    return nullptr;
  }
  return std::make_unique<FundamentalValue>(value);
}

std::unique_ptr<Value> JSONParser::ParseLiteral() {
  const std::string_view rest = input_.substr(pos_);
  if (rest.substr(0, 4) == "true") {
    pos_ += 4;
    return std::make_unique<FundamentalValue>(true);
  }
  if (rest.substr(0, 5) == "false") {
    pos_ += 5;
    return std::make_unique<FundamentalValue>(false);
  }
  if (rest.substr(0, 4) == "null") {
    pos_ += 4;
    return Value::CreateNullValue();
  }
  ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
  return nullptr;
}

bool JSONParser::ParseString(std::string* out) {
  ++pos_;  // The opening double quote.
  for (;;) {
    // Copy runs of plain ASCII in one go; only quotes, escapes and non-ASCII
    // bytes need a closer look. Control characters are kept as they are.
    const size_t run_start = pos_;
    while (!AtEnd()) {
      const unsigned char c = static_cast<unsigned char>(Peek());
      if (c == '"' || c == '\\' || c >= 0x80)
        break;
      ++pos_;
    }
    out->append(input_.data() + run_start, pos_ - run_start);

    if (AtEnd()) {
      ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
      return false;
    }
    const char c = Peek();
    if (c == '"') {
      ++pos_;
      return true;
    }
    if (c == '\\') {
      if (!ParseEscape(out))
        return false;
      continue;
    }

    const size_t sequence_start = pos_;
    uint32_t code_point = 0;
    if (!ReadUTF8CodePoint(input_, &pos_, &code_point) ||
        !IsValidCharacter(code_point)) {
      ReportError(JSONReader::JSON_UNSUPPORTED_ENCODING, sequence_start);
      return false;
    }
    out->append(input_.data() + sequence_start, pos_ - sequence_start);
  }
}

bool JSONParser::ParseEscape(std::string* out) {
  const size_t escape_start = pos_;
  ++pos_;  // The backslash.
  if (AtEnd()) {
    ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
    return false;
  }
  const char kind = Peek();
  ++pos_;
  switch (kind) {
    case '"':
    case '\\':
    case '/':
      out->push_back(kind);
      return true;
    case 'b':
      out->push_back('\b');
      return true;
    case 'f':
      out->push_back('\f');
      return true;
    case 'n':
      out->push_back('\n');
      return true;
    case 'r':
      out->push_back('\r');
      return true;
    case 't':
      out->push_back('\t');
      return true;
    case 'v':
      out->push_back('\v');
      return true;
    case 'x': {
      uint32_t code_point = 0;
      if (!ReadHexDigits(2, escape_start, &code_point))
        return false;
      AppendUTF8CodePoint(code_point, out);
      return true;
    }
    case 'u': {
      uint32_t unit = 0;
      if (!ReadHexDigits(4, escape_start, &unit))
        return false;
      if (IsLowSurrogate(unit)) {
        // A low surrogate on its own has no UTF-8 form.
        ReportError(JSONReader::JSON_INVALID_ESCAPE, escape_start);
        return false;
      }
      if (!IsHighSurrogate(unit)) {
        AppendUTF8CodePoint(unit, out);
        return true;
      }
      // A high surrogate must be followed by the escape of a low one.
      const size_t second_start = pos_;
      if (AtEnd() || Peek() != '\\') {
        if (AtEnd())
          ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
        else
          ReportError(JSONReader::JSON_INVALID_ESCAPE, escape_start);
        return false;
      }
      ++pos_;
      if (AtEnd()) {
        ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
        return false;
      }
      if (Peek() != 'u') {
        ReportError(JSONReader::JSON_INVALID_ESCAPE, escape_start);
        return false;
      }
      ++pos_;
      uint32_t low = 0;
      if (!ReadHexDigits(4, second_start, &low))
        return false;
      if (!IsLowSurrogate(low)) {
        ReportError(JSONReader::JSON_INVALID_ESCAPE, escape_start);
        return false;
      }
      AppendUTF8CodePoint(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00),
                          out);
      return true;
    }
    default:
      ReportError(JSONReader::JSON_INVALID_ESCAPE, escape_start);
      return false;
  }
}

bool JSONParser::ReadHexDigits(int digits,
                               size_t escape_start,
                               uint32_t* value) {
  uint32_t result = 0;
  for (int i = 0; i < digits; ++i) {
    if (AtEnd()) {
      // The text ends inside the string.
      ReportError(JSONReader::JSON_SYNTAX_ERROR, pos_);
      return false;
    }
    const int digit = HexDigitValue(Peek());
    if (digit < 0) {
      ReportError(JSONReader::JSON_INVALID_ESCAPE, escape_start);
      return false;
    }
    result = (result << 4) | static_cast<uint32_t>(digit);
    ++pos_;
  }
  *value = result;
  return true;
}

void JSONParser::ReportError(JSONReader::JsonParseError code, size_t offset) {
  if (error_code_ != JSONReader::JSON_NO_ERROR)
    return;
  error_code_ = code;

  // Line and column are worked out only now, from the start of the text:
  // one pass, and only on failure. CR, LF and CR LF each end one line.
  size_t line = 1;
  size_t line_start = first_line_start_;
  for (size_t i = 0; i < offset && i < input_.size(); ++i) {
    const char c = input_[i];
    if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < offset && input_[i + 1] == '\n')
        ++i;
      ++line;
      line_start = i + 1;
    }
  }
  const size_t column = offset >= line_start ? offset - line_start + 1 : 1;
  error_line_ = line > static_cast<size_t>(INT_MAX) ? INT_MAX
                                                    : static_cast<int>(line);
  error_column_ = column > static_cast<size_t>(INT_MAX)
                      ? INT_MAX
                      : static_cast<int>(column);
}

}  // namespace internal
}  // namespace base
