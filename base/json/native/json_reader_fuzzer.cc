// libFuzzer target for the JSON reader. Besides "does not crash" (which the
// sanitizers turn into "no memory error, no undefined behaviour"), it checks
// properties that must hold for every input:
//   - a failure reports a code from the table and a well-formed message; a
//     success reports code 0 and no message;
//   - allowing trailing commas never rejects what the strict mode accepts;
//   - the string deserializer agrees with the reader;
//   - every tree respects the reader's promises (nesting within the limit,
//     finite doubles, valid UTF-8 strings, no binary values), its getters
//     agree with its type codes, and dotted paths find what iteration finds;
//   - a deep copy equals the original, and writing the tree back as JSON and
//     reading that again gives an equal tree.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "base/json/json_reader.h"
#include "base/json/json_string_value_serializer.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"

namespace {

#define FUZZ_CHECK(condition)                                              \
  do {                                                                     \
    if (!(condition)) {                                                    \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                   #condition);                                            \
      std::abort();                                                        \
    }                                                                      \
  } while (0)

using base::DictionaryValue;
using base::JSONReader;
using base::ListValue;
using base::Value;

// Well-formed UTF-8 without surrogates or values above U+10FFFF.
// Noncharacters are allowed here: "\uFFFE" escapes may produce them.
bool IsWellFormedUTF8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length;
    uint32_t cp;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length)
      return false;
    for (size_t k = 1; k < length; ++k) {
      const unsigned char trail = static_cast<unsigned char>(text[i + k]);
      if ((trail & 0xC0) != 0x80)
        return false;
      cp = (cp << 6) | (trail & 0x3F);
    }
    const uint32_t minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}

// Writes |value| as JSON that the strict reader accepts and reads back to an
// equal tree.
void WriteJSON(const Value& value, std::string* out) {
  switch (value.GetType()) {
    case Value::TYPE_NULL:
      *out += "null";
      return;
    case Value::TYPE_BOOLEAN: {
      bool b = false;
      value.GetAsBoolean(&b);
      *out += b ? "true" : "false";
      return;
    }
    case Value::TYPE_INTEGER: {
      int i = 0;
      value.GetAsInteger(&i);
      *out += std::to_string(i);
      return;
    }
    case Value::TYPE_DOUBLE: {
      double d = 0;
      value.GetAsDouble(&d);
      char text[40];
      std::snprintf(text, sizeof(text), "%.17g", d);
      *out += text;
      // Keep it a double when it reads like an integer.
      if (std::string_view(text).find_first_of(".e") == std::string_view::npos)
        *out += ".0";
      return;
    }
    case Value::TYPE_STRING: {
      std::string s;
      value.GetAsString(&s);
      // Everything outside printable ASCII goes out as \u escapes, so that
      // noncharacters (which raw UTF-8 input may not contain) survive.
      const base::string16 units = base::UTF8ToUTF16(s);
      *out += '"';
      for (base::char16 unit : units) {
        const uint32_t u = static_cast<uint16_t>(unit);
        if (u == '"' || u == '\\' || u < 0x20 || u >= 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04X", u);
          *out += escaped;
        } else {
          *out += static_cast<char>(u);
        }
      }
      *out += '"';
      return;
    }
    case Value::TYPE_DICTIONARY: {
      const DictionaryValue* dictionary = nullptr;
      value.GetAsDictionary(&dictionary);
      *out += '{';
      bool first = true;
      for (const auto& entry : *dictionary) {
        if (!first)
          *out += ',';
        first = false;
        WriteJSON(base::StringValue(entry.first), out);
        *out += ':';
        WriteJSON(*entry.second, out);
      }
      *out += '}';
      return;
    }
    case Value::TYPE_LIST: {
      const ListValue* list = nullptr;
      value.GetAsList(&list);
      *out += '[';
      bool first = true;
      for (const auto& element : *list) {
        if (!first)
          *out += ',';
        first = false;
        WriteJSON(*element, out);
      }
      *out += ']';
      return;
    }
    case Value::TYPE_BINARY:
      FUZZ_CHECK(false);
  }
}

// Checks one node and everything under it. |depth| counts the containers
// around |value|. |root| and |path| give a dotted path that reaches |value|
// from the root dictionary, or |path| is empty when none does.
void CheckTree(const Value& value,
               int depth,
               const DictionaryValue* root,
               const std::string& path) {
  const Value::Type type = value.GetType();
  FUZZ_CHECK(type >= Value::TYPE_NULL && type <= Value::TYPE_LIST);
  FUZZ_CHECK(type != Value::TYPE_BINARY);
  if (root && !path.empty())
    FUZZ_CHECK(root->Get(path) == &value);

  bool b = false;
  int i = 0;
  double d = 0;
  std::string s;
  base::string16 s16;
  const ListValue* list = nullptr;
  const DictionaryValue* dictionary = nullptr;
  FUZZ_CHECK(value.GetAsBoolean(&b) == (type == Value::TYPE_BOOLEAN));
  FUZZ_CHECK(value.GetAsInteger(&i) == (type == Value::TYPE_INTEGER));
  FUZZ_CHECK(value.GetAsDouble(&d) ==
             (type == Value::TYPE_DOUBLE || type == Value::TYPE_INTEGER));
  FUZZ_CHECK(value.GetAsString(&s) == (type == Value::TYPE_STRING));
  FUZZ_CHECK(value.GetAsString(&s16) == (type == Value::TYPE_STRING));
  FUZZ_CHECK(value.GetAsList(&list) == (type == Value::TYPE_LIST));
  FUZZ_CHECK(value.GetAsDictionary(&dictionary) ==
             (type == Value::TYPE_DICTIONARY));

  switch (type) {
    case Value::TYPE_DOUBLE:
      FUZZ_CHECK(std::isfinite(d));
      break;
    case Value::TYPE_STRING:
      FUZZ_CHECK(IsWellFormedUTF8(s));
      FUZZ_CHECK(base::UTF16ToUTF8(s16) == s);
      break;
    case Value::TYPE_LIST: {
      FUZZ_CHECK(depth < JSONReader::kStackMaxDepth);
      size_t index = 0;
      for (const auto& element : *list) {
        FUZZ_CHECK(list->Get(index) == element.get());
        CheckTree(*element, depth + 1, nullptr, std::string());
        ++index;
      }
      FUZZ_CHECK(list->Get(index) == nullptr);
      FUZZ_CHECK(index == list->GetSize());
      break;
    }
    case Value::TYPE_DICTIONARY: {
      FUZZ_CHECK(depth < JSONReader::kStackMaxDepth);
      // Children are reached from the outermost dictionary that reaches
      // this one by a dotted path, or from this one.
      const bool extends_path = root && !path.empty();
      const DictionaryValue* path_root = extends_path ? root : dictionary;
      const std::string prefix = extends_path ? path + "." : std::string();
      const std::string* previous_key = nullptr;
      for (const auto& entry : *dictionary) {
        FUZZ_CHECK(!previous_key || *previous_key < entry.first);
        previous_key = &entry.first;
        FUZZ_CHECK(IsWellFormedUTF8(entry.first));
        FUZZ_CHECK(dictionary->GetWithoutPathExpansion(entry.first) ==
                   entry.second.get());
        FUZZ_CHECK(dictionary->HasKey(entry.first));

        // A key with a '.' cannot be reached by a path.
        if (entry.first.find('.') != std::string::npos) {
          CheckTree(*entry.second, depth + 1, nullptr, std::string());
          continue;
        }
        const std::string child_path = prefix + entry.first;
        const Value::Type child_type = entry.second->GetType();

        std::string narrow = "untouched";
        FUZZ_CHECK(path_root->GetString(child_path, &narrow) ==
                   (child_type == Value::TYPE_STRING));
        bool is_ascii = child_type == Value::TYPE_STRING;
        if (is_ascii) {
          for (char c : narrow)
            is_ascii = is_ascii && static_cast<unsigned char>(c) < 0x80;
        } else {
          FUZZ_CHECK(narrow == "untouched");
        }
        std::string ascii = "untouched";
        FUZZ_CHECK(path_root->GetStringASCII(child_path, &ascii) == is_ascii);
        FUZZ_CHECK(is_ascii ? ascii == narrow : ascii == "untouched");
        const ListValue* child_list = nullptr;
        FUZZ_CHECK(path_root->GetList(child_path, &child_list) ==
                   (child_type == Value::TYPE_LIST));
        const DictionaryValue* child_dictionary = nullptr;
        FUZZ_CHECK(path_root->GetDictionary(child_path, &child_dictionary) ==
                   (child_type == Value::TYPE_DICTIONARY));

        CheckTree(*entry.second, depth + 1, path_root, child_path);
      }
      break;
    }
    default:
      break;
  }
}

std::unique_ptr<Value> ReadChecked(std::string_view text,
                                   int options,
                                   int* error_code,
                                   std::string* error_message) {
  std::unique_ptr<Value> root =
      JSONReader::Read(text, options, error_code, error_message);
  if (root) {
    FUZZ_CHECK(*error_code == JSONReader::JSON_NO_ERROR);
    FUZZ_CHECK(error_message->empty());
  } else {
    FUZZ_CHECK(*error_code > JSONReader::JSON_NO_ERROR &&
               *error_code < JSONReader::JSON_PARSE_ERROR_COUNT);
    const std::string description = JSONReader::ErrorCodeToString(
        static_cast<JSONReader::JsonParseError>(*error_code));
    FUZZ_CHECK(error_message->rfind("Line: ", 0) == 0);
    FUZZ_CHECK(error_message->size() > description.size() &&
               error_message->compare(
                   error_message->size() - description.size(),
                   description.size(), description) == 0);
  }
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  int strict_code = -1;
  std::string strict_message;
  std::unique_ptr<Value> strict =
      ReadChecked(text, base::JSON_PARSE_RFC, &strict_code, &strict_message);

  int lenient_code = -1;
  std::string lenient_message;
  std::unique_ptr<Value> lenient = ReadChecked(
      text, base::JSON_ALLOW_TRAILING_COMMAS, &lenient_code, &lenient_message);
  FUZZ_CHECK(lenient_code != JSONReader::JSON_TRAILING_COMMA);
  if (strict) {
    FUZZ_CHECK(lenient && lenient->Equals(strict.get()));
  } else if (strict_code != JSONReader::JSON_TRAILING_COMMA) {
    // Without a trailing comma in the way both modes see the same text.
    FUZZ_CHECK(!lenient && lenient_code == strict_code &&
               lenient_message == strict_message);
  }

  int deserializer_code = -1;
  std::string deserializer_message;
  base::JSONStringValueDeserializer deserializer((std::string(text)));
  std::unique_ptr<Value> deserialized =
      deserializer.Deserialize(&deserializer_code, &deserializer_message);
  FUZZ_CHECK(Value::Equals(deserialized.get(), strict.get()));
  FUZZ_CHECK(deserializer_code == strict_code);
  FUZZ_CHECK(deserializer_message == strict_message);

  for (const Value* root : {strict.get(), lenient.get()}) {
    if (!root)
      continue;
    CheckTree(*root, 0, nullptr, std::string());

    std::unique_ptr<Value> copy = root->DeepCopy();
    FUZZ_CHECK(copy && copy.get() != root);
    FUZZ_CHECK(copy->Equals(root) && root->Equals(copy.get()));

    std::string written;
    WriteJSON(*root, &written);
    int code = -1;
    std::string message;
    std::unique_ptr<Value> reread =
        JSONReader::Read(written, base::JSON_PARSE_RFC, &code, &message);
    if (!reread) {
      std::fprintf(stderr, "re-read of %s failed: %s\n", written.c_str(),
                   message.c_str());
    }
    FUZZ_CHECK(reread && reread->Equals(root));
  }
  return 0;
}
