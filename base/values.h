// The owned value tree that the JSON reader returns.
//
// The family is small and its members only make sense together, so all of it
// lives in this one file pair: Value (which is also the null value),
// FundamentalValue (boolean, integer, double), StringValue, BinaryValue,
// DictionaryValue and ListValue.
//
// Every value owns its children; a tree is owned by whoever holds the root.
// The type code decides what a value is: the getters below are the only way
// down the hierarchy (no RTTI), and each returns true and fills its out value
// (when one is given) only when the value has the matching type.
//
// Strings are stored as UTF-8. The UTF-16 getters convert on the way out.
// Nothing here calls the operating system, so the same sources build on any
// platform.
#ifndef BASE_VALUES_H_
#define BASE_VALUES_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/strings/string16.h"

namespace base {

class DictionaryValue;
class ListValue;
class StringValue;

class Value {
 public:
  // Stable codes: they are part of the interface.
  enum Type : int {
    TYPE_NULL = 0,
    TYPE_BOOLEAN = 1,
    TYPE_INTEGER = 2,
    TYPE_DOUBLE = 3,
    TYPE_STRING = 4,
    TYPE_BINARY = 5,
    TYPE_DICTIONARY = 6,
    TYPE_LIST = 7,
  };

  static std::unique_ptr<Value> CreateNullValue();

  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;

  virtual ~Value();

  Type GetType() const { return type_; }
  bool IsType(Type type) const { return type_ == type; }

  virtual bool GetAsBoolean(bool* out_value) const;
  virtual bool GetAsInteger(int* out_value) const;
  // An integer value also answers, converted.
  virtual bool GetAsDouble(double* out_value) const;
  virtual bool GetAsString(const StringValue** out_value) const;
  virtual bool GetAsString(string16* out_value) const;
  virtual bool GetAsString(std::string* out_value) const;
  virtual bool GetAsList(ListValue** out_value);
  virtual bool GetAsList(const ListValue** out_value) const;
  virtual bool GetAsDictionary(DictionaryValue** out_value);
  virtual bool GetAsDictionary(const DictionaryValue** out_value) const;

  // A new tree equal to this one that shares nothing with it.
  virtual std::unique_ptr<Value> DeepCopy() const;

  // Same type and same content, recursively. An integer never equals a
  // double. |other| may be null (then false).
  virtual bool Equals(const Value* other) const;

  // Like Equals, but two nulls are equal too.
  static bool Equals(const Value* a, const Value* b);

 protected:
  explicit Value(Type type);

 private:
  const Type type_;
};

// A boolean, integer or double. A double is always finite: a non-finite
// number given to the constructor is stored as 0.0, so that no tree ever
// holds a value that the reader could not have produced.
class FundamentalValue : public Value {
 public:
  explicit FundamentalValue(bool in_value);
  explicit FundamentalValue(int in_value);
  explicit FundamentalValue(double in_value);
  ~FundamentalValue() override;

  bool GetAsBoolean(bool* out_value) const override;
  bool GetAsInteger(int* out_value) const override;
  bool GetAsDouble(double* out_value) const override;
  std::unique_ptr<Value> DeepCopy() const override;
  bool Equals(const Value* other) const override;

 private:
  bool boolean_value_ = false;
  int integer_value_ = 0;
  double double_value_ = 0.0;
};

class StringValue : public Value {
 public:
  // |in_value| is UTF-8.
  explicit StringValue(std::string in_value);
  explicit StringValue(std::basic_string_view<char16> in_value);
  ~StringValue() override;

  // The UTF-8 text.
  const std::string& GetString() const { return value_; }

  bool GetAsString(const StringValue** out_value) const override;
  bool GetAsString(string16* out_value) const override;
  bool GetAsString(std::string* out_value) const override;
  std::unique_ptr<Value> DeepCopy() const override;
  bool Equals(const Value* other) const override;

 private:
  std::string value_;
};

// Opaque bytes. The reader never produces one.
class BinaryValue : public Value {
 public:
  BinaryValue();
  explicit BinaryValue(std::vector<uint8_t> data);
  ~BinaryValue() override;

  static std::unique_ptr<BinaryValue> CreateWithCopiedBuffer(const void* buffer,
                                                             size_t size);

  size_t GetSize() const { return data_.size(); }
  const std::vector<uint8_t>& data() const { return data_; }

  std::unique_ptr<Value> DeepCopy() const override;
  bool Equals(const Value* other) const override;

 private:
  std::vector<uint8_t> data_;
};

// A map from UTF-8 key to owned value, ordered by key, one value per key.
//
// "Path" arguments are dotted: "a.b.c" means key "c" in the dictionary under
// key "b" in the dictionary under key "a". A key that itself contains '.' can
// only be reached through the ...WithoutPathExpansion methods.
class DictionaryValue : public Value {
 public:
  using Storage = std::map<std::string, std::unique_ptr<Value>, std::less<>>;
  using const_iterator = Storage::const_iterator;

  DictionaryValue();
  ~DictionaryValue() override;

  size_t size() const { return dictionary_.size(); }
  bool empty() const { return dictionary_.empty(); }
  void Clear();

  // Iteration in key order; first is the key, second the owned value.
  const_iterator begin() const { return dictionary_.begin(); }
  const_iterator end() const { return dictionary_.end(); }

  bool HasKey(std::string_view key) const;

  // Stores |in_value| at |path|, creating (or replacing non-dictionary values
  // with) the dictionaries along the way. A null |in_value| is ignored.
  void Set(std::string_view path, std::unique_ptr<Value> in_value);
  void SetBoolean(std::string_view path, bool in_value);
  void SetInteger(std::string_view path, int in_value);
  void SetDouble(std::string_view path, double in_value);
  void SetString(std::string_view path, std::string_view in_value);
  void SetString(std::string_view path, std::basic_string_view<char16> in_value);

  // Stores |in_value| under |key| literally; replaces an earlier value.
  void SetWithoutPathExpansion(std::string_view key,
                               std::unique_ptr<Value> in_value);

  // The value at |path| (borrowed), or null.
  const Value* Get(std::string_view path) const;
  Value* Get(std::string_view path);

  // The getters return false and leave |out_value| untouched when |path| is
  // missing or names a value of another type.
  bool GetBoolean(std::string_view path, bool* out_value) const;
  bool GetInteger(std::string_view path, int* out_value) const;
  bool GetDouble(std::string_view path, double* out_value) const;
  bool GetString(std::string_view path, string16* out_value) const;
  bool GetString(std::string_view path, std::string* out_value) const;
  // Also false when the string holds anything outside 7-bit ASCII.
  bool GetStringASCII(std::string_view path, std::string* out_value) const;
  bool GetList(std::string_view path, const ListValue** out_value) const;
  bool GetList(std::string_view path, ListValue** out_value);
  bool GetDictionary(std::string_view path,
                     const DictionaryValue** out_value) const;
  bool GetDictionary(std::string_view path, DictionaryValue** out_value);

  // |key| is looked up literally.
  const Value* GetWithoutPathExpansion(std::string_view key) const;
  Value* GetWithoutPathExpansion(std::string_view key);

  // Detaches the value stored literally under |key|; null when absent.
  std::unique_ptr<Value> RemoveWithoutPathExpansion(std::string_view key);

  std::unique_ptr<DictionaryValue> CreateDeepCopy() const;

  bool GetAsDictionary(DictionaryValue** out_value) override;
  bool GetAsDictionary(const DictionaryValue** out_value) const override;
  std::unique_ptr<Value> DeepCopy() const override;
  bool Equals(const Value* other) const override;

 private:
  Storage dictionary_;
};

// An ordered sequence of owned values.
class ListValue : public Value {
 public:
  using Storage = std::vector<std::unique_ptr<Value>>;
  using const_iterator = Storage::const_iterator;

  ListValue();
  ~ListValue() override;

  size_t GetSize() const { return list_.size(); }
  bool empty() const { return list_.empty(); }
  void Clear();

  const_iterator begin() const { return list_.begin(); }
  const_iterator end() const { return list_.end(); }

  // The element at |index| (borrowed), or null when out of range.
  const Value* Get(size_t index) const;
  Value* Get(size_t index);

  // False (out value untouched) when out of range or of another type.
  bool GetBoolean(size_t index, bool* out_value) const;
  bool GetInteger(size_t index, int* out_value) const;
  bool GetDouble(size_t index, double* out_value) const;
  bool GetString(size_t index, string16* out_value) const;
  bool GetString(size_t index, std::string* out_value) const;
  bool GetList(size_t index, const ListValue** out_value) const;
  bool GetDictionary(size_t index, const DictionaryValue** out_value) const;

  // A null |in_value| is ignored.
  void Append(std::unique_ptr<Value> in_value);
  void AppendBoolean(bool in_value);
  void AppendInteger(int in_value);
  void AppendDouble(double in_value);
  void AppendString(std::string_view in_value);
  void AppendString(std::basic_string_view<char16> in_value);

  // Detaches the element at |index|; null when out of range.
  std::unique_ptr<Value> Remove(size_t index);

  std::unique_ptr<ListValue> CreateDeepCopy() const;

  bool GetAsList(ListValue** out_value) override;
  bool GetAsList(const ListValue** out_value) const override;
  std::unique_ptr<Value> DeepCopy() const override;
  bool Equals(const Value* other) const override;

 private:
  Storage list_;
};

}  // namespace base

#endif  // BASE_VALUES_H_
