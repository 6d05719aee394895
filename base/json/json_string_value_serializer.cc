#include "base/json/json_string_value_serializer.h"

#include <utility>

#include "base/json/json_reader.h"
#include "base/values.h"

namespace base {

JSONStringValueDeserializer::JSONStringValueDeserializer(
    std::string json_string,
    bool allow_trailing_comma)
    : json_string_(std::move(json_string)),
      allow_trailing_comma_(allow_trailing_comma) {}

JSONStringValueDeserializer::~JSONStringValueDeserializer() = default;

std::unique_ptr<Value> JSONStringValueDeserializer::Deserialize(
    int* error_code,
    std::string* error_message) {
  return JSONReader::Read(
      json_string_,
      allow_trailing_comma_ ? JSON_ALLOW_TRAILING_COMMAS : JSON_PARSE_RFC,
      error_code, error_message);
}

}  // namespace base
