// Turns a JSON text held in memory into a Value tree.
#ifndef BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_
#define BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_

#include <memory>
#include <string>

namespace base {

class Value;

class JSONStringValueDeserializer {
 public:
  // Keeps its own copy of |json_string| (move a large text in), so the text
  // cannot go away before Deserialize() runs.
  explicit JSONStringValueDeserializer(std::string json_string,
                                       bool allow_trailing_comma = false);
  ~JSONStringValueDeserializer();

  JSONStringValueDeserializer(const JSONStringValueDeserializer&) = delete;
  JSONStringValueDeserializer& operator=(const JSONStringValueDeserializer&) =
      delete;

  // The root value, or null. |error_code| and |error_message| are optional
  // and receive the reader's error code and message (0 and empty on
  // success).
  std::unique_ptr<Value> Deserialize(int* error_code,
                                     std::string* error_message);

 private:
  const std::string json_string_;
  const bool allow_trailing_comma_;
};

}  // namespace base

#endif  // BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_
