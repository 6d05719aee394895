#include "base/values.h"

#include <cmath>
#include <utility>

#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

bool IsASCII(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  }
  return true;
}

}  // namespace

// Value ---------------------------------------------------------------------

Value::Value(Type type) : type_(type) {}

Value::~Value() = default;

// static
std::unique_ptr<Value> Value::CreateNullValue() {
  return std::unique_ptr<Value>(new Value(TYPE_NULL));
}

bool Value::GetAsBoolean(bool* /*out_value*/) const {
  return false;
}

bool Value::GetAsInteger(int* /*out_value*/) const {
  return false;
}

bool Value::GetAsDouble(double* /*out_value*/) const {
  return false;
}

bool Value::GetAsString(const StringValue** /*out_value*/) const {
  return false;
}

bool Value::GetAsString(string16* /*out_value*/) const {
  return false;
}

bool Value::GetAsString(std::string* /*out_value*/) const {
  return false;
}

bool Value::GetAsList(ListValue** /*out_value*/) {
  return false;
}

bool Value::GetAsList(const ListValue** /*out_value*/) const {
  return false;
}

bool Value::GetAsDictionary(DictionaryValue** /*out_value*/) {
  return false;
}

bool Value::GetAsDictionary(const DictionaryValue** /*out_value*/) const {
  return false;
}

std::unique_ptr<Value> Value::DeepCopy() const {
  // Only the null value is a plain Value; every other type overrides this.
  return CreateNullValue();
}

bool Value::Equals(const Value* other) const {
  return other && other->GetType() == GetType();
}

// static
bool Value::Equals(const Value* a, const Value* b) {
  if (!a || !b)
    return a == b;
  return a->Equals(b);
}

// FundamentalValue ----------------------------------------------------------

FundamentalValue::FundamentalValue(bool in_value)
    : Value(TYPE_BOOLEAN), boolean_value_(in_value) {}

FundamentalValue::FundamentalValue(int in_value)
    : Value(TYPE_INTEGER), integer_value_(in_value) {}

FundamentalValue::FundamentalValue(double in_value)
    : Value(TYPE_DOUBLE),
      double_value_(std::isfinite(in_value) ? in_value : 0.0) {}

FundamentalValue::~FundamentalValue() = default;

bool FundamentalValue::GetAsBoolean(bool* out_value) const {
  if (!IsType(TYPE_BOOLEAN))
    return false;
  if (out_value)
    *out_value = boolean_value_;
  return true;
}

bool FundamentalValue::GetAsInteger(int* out_value) const {
  if (!IsType(TYPE_INTEGER))
    return false;
  if (out_value)
    *out_value = integer_value_;
  return true;
}

bool FundamentalValue::GetAsDouble(double* out_value) const {
  if (IsType(TYPE_DOUBLE)) {
    if (out_value)
      *out_value = double_value_;
    return true;
  }
  if (IsType(TYPE_INTEGER)) {
    if (out_value)
      *out_value = static_cast<double>(integer_value_);
    return true;
  }
  return false;
}

std::unique_ptr<Value> FundamentalValue::DeepCopy() const {
  switch (GetType()) {
    case TYPE_BOOLEAN:
      return std::make_unique<FundamentalValue>(boolean_value_);
    case TYPE_INTEGER:
      return std::make_unique<FundamentalValue>(integer_value_);
    default:
      return std::make_unique<FundamentalValue>(double_value_);
  }
}

bool FundamentalValue::Equals(const Value* other) const {
  if (!other || other->GetType() != GetType())
    return false;
  switch (GetType()) {
    case TYPE_BOOLEAN: {
      bool value = false;
      return other->GetAsBoolean(&value) && value == boolean_value_;
    }
    case TYPE_INTEGER: {
      int value = 0;
      return other->GetAsInteger(&value) && value == integer_value_;
    }
    default: {
      double value = 0.0;
      return other->GetAsDouble(&value) && value == double_value_;
    }
  }
}

// StringValue ---------------------------------------------------------------

StringValue::StringValue(std::string in_value)
    : Value(TYPE_STRING), value_(std::move(in_value)) {}

StringValue::StringValue(std::basic_string_view<char16> in_value)
    : Value(TYPE_STRING), value_(UTF16ToUTF8(in_value)) {}

StringValue::~StringValue() = default;

bool StringValue::GetAsString(const StringValue** out_value) const {
  if (out_value)
    *out_value = this;
  return true;
}

bool StringValue::GetAsString(string16* out_value) const {
  if (out_value)
    *out_value = UTF8ToUTF16(value_);
  return true;
}

bool StringValue::GetAsString(std::string* out_value) const {
  if (out_value)
    *out_value = value_;
  return true;
}

std::unique_ptr<Value> StringValue::DeepCopy() const {
  return std::make_unique<StringValue>(value_);
}

bool StringValue::Equals(const Value* other) const {
  const StringValue* other_string = nullptr;
  return other && other->GetAsString(&other_string) &&
         other_string->GetString() == value_;
}

// BinaryValue ---------------------------------------------------------------

BinaryValue::BinaryValue() : Value(TYPE_BINARY) {}

BinaryValue::BinaryValue(std::vector<uint8_t> data)
    : Value(TYPE_BINARY), data_(std::move(data)) {}

BinaryValue::~BinaryValue() = default;

// static
std::unique_ptr<BinaryValue> BinaryValue::CreateWithCopiedBuffer(
    const void* buffer,
    size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  return std::make_unique<BinaryValue>(
      size ? std::vector<uint8_t>(bytes, bytes + size) : std::vector<uint8_t>());
}

std::unique_ptr<Value> BinaryValue::DeepCopy() const {
  return std::make_unique<BinaryValue>(data_);
}

bool BinaryValue::Equals(const Value* other) const {
  // Binary values have no getter of their own; the type code makes the
  // downcast safe.
  if (!other || !other->IsType(TYPE_BINARY))
    return false;
  return static_cast<const BinaryValue*>(other)->data_ == data_;
}

// DictionaryValue -----------------------------------------------------------

DictionaryValue::DictionaryValue() : Value(TYPE_DICTIONARY) {}

DictionaryValue::~DictionaryValue() = default;

void DictionaryValue::Clear() {
  dictionary_.clear();
}

bool DictionaryValue::HasKey(std::string_view key) const {
  return dictionary_.find(key) != dictionary_.end();
}

void DictionaryValue::Set(std::string_view path,
                          std::unique_ptr<Value> in_value) {
  if (!in_value)
    return;
  DictionaryValue* current = this;
  for (size_t dot = path.find('.'); dot != std::string_view::npos;
       dot = path.find('.')) {
    const std::string_view key = path.substr(0, dot);
    Value* child = current->GetWithoutPathExpansion(key);
    DictionaryValue* child_dictionary = nullptr;
    if (!child || !child->GetAsDictionary(&child_dictionary)) {
      auto created = std::make_unique<DictionaryValue>();
      child_dictionary = created.get();
      current->SetWithoutPathExpansion(key, std::move(created));
    }
    current = child_dictionary;
    path.remove_prefix(dot + 1);
  }
  current->SetWithoutPathExpansion(path, std::move(in_value));
}

void DictionaryValue::SetBoolean(std::string_view path, bool in_value) {
  Set(path, std::make_unique<FundamentalValue>(in_value));
}

void DictionaryValue::SetInteger(std::string_view path, int in_value) {
  Set(path, std::make_unique<FundamentalValue>(in_value));
}

void DictionaryValue::SetDouble(std::string_view path, double in_value) {
  Set(path, std::make_unique<FundamentalValue>(in_value));
}

void DictionaryValue::SetString(std::string_view path,
                                std::string_view in_value) {
  Set(path, std::make_unique<StringValue>(std::string(in_value)));
}

void DictionaryValue::SetString(std::string_view path,
                                std::basic_string_view<char16> in_value) {
  Set(path, std::make_unique<StringValue>(in_value));
}

void DictionaryValue::SetWithoutPathExpansion(std::string_view key,
                                              std::unique_ptr<Value> in_value) {
  if (!in_value)
    return;
  auto it = dictionary_.find(key);
  if (it != dictionary_.end())
    it->second = std::move(in_value);
  else
    dictionary_.emplace(std::string(key), std::move(in_value));
}

const Value* DictionaryValue::Get(std::string_view path) const {
  // Walked in a loop, not by recursion: the depth follows the caller's path.
  const DictionaryValue* current = this;
  for (size_t dot = path.find('.'); dot != std::string_view::npos;
       dot = path.find('.')) {
    const Value* child = current->GetWithoutPathExpansion(path.substr(0, dot));
    if (!child || !child->GetAsDictionary(&current))
      return nullptr;
    path.remove_prefix(dot + 1);
  }
  return current->GetWithoutPathExpansion(path);
}

Value* DictionaryValue::Get(std::string_view path) {
  return const_cast<Value*>(
      static_cast<const DictionaryValue*>(this)->Get(path));
}

bool DictionaryValue::GetBoolean(std::string_view path, bool* out_value) const {
  const Value* value = Get(path);
  return value && value->GetAsBoolean(out_value);
}

bool DictionaryValue::GetInteger(std::string_view path, int* out_value) const {
  const Value* value = Get(path);
  return value && value->GetAsInteger(out_value);
}

bool DictionaryValue::GetDouble(std::string_view path,
                                double* out_value) const {
  const Value* value = Get(path);
  return value && value->GetAsDouble(out_value);
}

bool DictionaryValue::GetString(std::string_view path,
                                string16* out_value) const {
  const Value* value = Get(path);
  return value && value->GetAsString(out_value);
}

bool DictionaryValue::GetString(std::string_view path,
                                std::string* out_value) const {
  const Value* value = Get(path);
  return value && value->GetAsString(out_value);
}

bool DictionaryValue::GetStringASCII(std::string_view path,
                                     std::string* out_value) const {
  const Value* value = Get(path);
  const StringValue* string_value = nullptr;
  if (!value || !value->GetAsString(&string_value) ||
      !IsASCII(string_value->GetString())) {
    return false;
  }
  if (out_value)
    *out_value = string_value->GetString();
  return true;
}

bool DictionaryValue::GetList(std::string_view path,
                              const ListValue** out_value) const {
  const Value* value = Get(path);
  return value && value->GetAsList(out_value);
}

bool DictionaryValue::GetList(std::string_view path, ListValue** out_value) {
  Value* value = Get(path);
  return value && value->GetAsList(out_value);
}

bool DictionaryValue::GetDictionary(std::string_view path,
                                    const DictionaryValue** out_value) const {
  const Value* value = Get(path);
  return value && value->GetAsDictionary(out_value);
}

bool DictionaryValue::GetDictionary(std::string_view path,
                                    DictionaryValue** out_value) {
  Value* value = Get(path);
  return value && value->GetAsDictionary(out_value);
}

const Value* DictionaryValue::GetWithoutPathExpansion(
    std::string_view key) const {
  auto it = dictionary_.find(key);
  return it == dictionary_.end() ? nullptr : it->second.get();
}

Value* DictionaryValue::GetWithoutPathExpansion(std::string_view key) {
  auto it = dictionary_.find(key);
  return it == dictionary_.end() ? nullptr : it->second.get();
}

std::unique_ptr<Value> DictionaryValue::RemoveWithoutPathExpansion(
    std::string_view key) {
  auto it = dictionary_.find(key);
  if (it == dictionary_.end())
    return nullptr;
  std::unique_ptr<Value> removed = std::move(it->second);
  dictionary_.erase(it);
  return removed;
}

std::unique_ptr<DictionaryValue> DictionaryValue::CreateDeepCopy() const {
  auto copy = std::make_unique<DictionaryValue>();
  // Keys arrive in order, so each insertion goes to the end in constant time.
  for (const auto& entry : dictionary_) {
    copy->dictionary_.emplace_hint(copy->dictionary_.end(), entry.first,
                                   entry.second->DeepCopy());
  }
  return copy;
}

bool DictionaryValue::GetAsDictionary(DictionaryValue** out_value) {
  if (out_value)
    *out_value = this;
  return true;
}

bool DictionaryValue::GetAsDictionary(
    const DictionaryValue** out_value) const {
  if (out_value)
    *out_value = this;
  return true;
}

std::unique_ptr<Value> DictionaryValue::DeepCopy() const {
  return CreateDeepCopy();
}

bool DictionaryValue::Equals(const Value* other) const {
  const DictionaryValue* other_dictionary = nullptr;
  if (!other || !other->GetAsDictionary(&other_dictionary) ||
      other_dictionary->size() != size()) {
    return false;
  }
  auto other_it = other_dictionary->begin();
  for (const auto& entry : dictionary_) {
    if (entry.first != other_it->first ||
        !entry.second->Equals(other_it->second.get())) {
      return false;
    }
    ++other_it;
  }
  return true;
}

// ListValue -----------------------------------------------------------------

ListValue::ListValue() : Value(TYPE_LIST) {}

ListValue::~ListValue() = default;

void ListValue::Clear() {
  list_.clear();
}

const Value* ListValue::Get(size_t index) const {
  return index < list_.size() ? list_[index].get() : nullptr;
}

Value* ListValue::Get(size_t index) {
  return index < list_.size() ? list_[index].get() : nullptr;
}

bool ListValue::GetBoolean(size_t index, bool* out_value) const {
  const Value* value = Get(index);
  return value && value->GetAsBoolean(out_value);
}

bool ListValue::GetInteger(size_t index, int* out_value) const {
  const Value* value = Get(index);
  return value && value->GetAsInteger(out_value);
}

bool ListValue::GetDouble(size_t index, double* out_value) const {
  const Value* value = Get(index);
  return value && value->GetAsDouble(out_value);
}

bool ListValue::GetString(size_t index, string16* out_value) const {
  const Value* value = Get(index);
  return value && value->GetAsString(out_value);
}

bool ListValue::GetString(size_t index, std::string* out_value) const {
  const Value* value = Get(index);
  return value && value->GetAsString(out_value);
}

bool ListValue::GetList(size_t index, const ListValue** out_value) const {
  const Value* value = Get(index);
  return value && value->GetAsList(out_value);
}

bool ListValue::GetDictionary(size_t index,
                              const DictionaryValue** out_value) const {
  const Value* value = Get(index);
  return value && value->GetAsDictionary(out_value);
}

void ListValue::Append(std::unique_ptr<Value> in_value) {
  if (in_value)
    list_.push_back(std::move(in_value));
}

void ListValue::AppendBoolean(bool in_value) {
  Append(std::make_unique<FundamentalValue>(in_value));
}

void ListValue::AppendInteger(int in_value) {
  Append(std::make_unique<FundamentalValue>(in_value));
}

void ListValue::AppendDouble(double in_value) {
  Append(std::make_unique<FundamentalValue>(in_value));
}

void ListValue::AppendString(std::string_view in_value) {
  Append(std::make_unique<StringValue>(std::string(in_value)));
}

void ListValue::AppendString(std::basic_string_view<char16> in_value) {
  Append(std::make_unique<StringValue>(in_value));
}

std::unique_ptr<Value> ListValue::Remove(size_t index) {
  if (index >= list_.size())
    return nullptr;
  std::unique_ptr<Value> removed = std::move(list_[index]);
  list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(index));
  return removed;
}

std::unique_ptr<ListValue> ListValue::CreateDeepCopy() const {
  auto copy = std::make_unique<ListValue>();
  copy->list_.reserve(list_.size());
  for (const auto& element : list_)
    copy->list_.push_back(element->DeepCopy());
  return copy;
}

bool ListValue::GetAsList(ListValue** out_value) {
  if (out_value)
    *out_value = this;
  return true;
}

bool ListValue::GetAsList(const ListValue** out_value) const {
  if (out_value)
    *out_value = this;
  return true;
}

std::unique_ptr<Value> ListValue::DeepCopy() const {
  return CreateDeepCopy();
}

bool ListValue::Equals(const Value* other) const {
  const ListValue* other_list = nullptr;
  if (!other || !other->GetAsList(&other_list) ||
      other_list->GetSize() != GetSize()) {
    return false;
  }
  for (size_t i = 0; i < list_.size(); ++i) {
    if (!list_[i]->Equals(other_list->list_[i].get()))
      return false;
  }
  return true;
}

}  // namespace base
