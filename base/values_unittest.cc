#include "base/values.h"

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "base/strings/string16.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(ValuesTest, TypeCodes) {
  EXPECT_EQ(0, Value::CreateNullValue()->GetType());
  EXPECT_EQ(1, FundamentalValue(true).GetType());
  EXPECT_EQ(2, FundamentalValue(7).GetType());
  EXPECT_EQ(3, FundamentalValue(7.5).GetType());
  EXPECT_EQ(4, StringValue("x").GetType());
  EXPECT_EQ(5, BinaryValue().GetType());
  EXPECT_EQ(6, DictionaryValue().GetType());
  EXPECT_EQ(7, ListValue().GetType());
  EXPECT_TRUE(ListValue().IsType(Value::TYPE_LIST));
  EXPECT_FALSE(ListValue().IsType(Value::TYPE_DICTIONARY));
}

// Each get-as form answers only for its own type (a double also for an
// integer), and leaves its out value alone otherwise.
TEST(ValuesTest, GetAsMatchesTypeOnly) {
  enum : unsigned {
    kBoolean = 1 << 0,
    kInteger = 1 << 1,
    kDouble = 1 << 2,
    kString = 1 << 3,
    kList = 1 << 4,
    kDictionary = 1 << 5,
  };
  struct Row {
    std::unique_ptr<Value> value;
    unsigned answers;
  };
  Row rows[] = {
      {Value::CreateNullValue(), 0},
      {std::make_unique<FundamentalValue>(true), kBoolean},
      {std::make_unique<FundamentalValue>(7), kInteger | kDouble},
      {std::make_unique<FundamentalValue>(7.5), kDouble},
      {std::make_unique<StringValue>("text"), kString},
      {std::make_unique<BinaryValue>(), 0},
      {std::make_unique<DictionaryValue>(), kDictionary},
      {std::make_unique<ListValue>(), kList},
  };
  for (Row& row : rows) {
    Value* v = row.value.get();
    const Value* cv = v;
    SCOPED_TRACE(v->GetType());

    bool b = false;
    EXPECT_EQ(!!(row.answers & kBoolean), cv->GetAsBoolean(&b));
    EXPECT_EQ(!!(row.answers & kBoolean), cv->GetAsBoolean(nullptr));
    int i = -1;
    EXPECT_EQ(!!(row.answers & kInteger), cv->GetAsInteger(&i));
    EXPECT_EQ(row.answers & kInteger ? 7 : -1, i);
    double d = -1;
    EXPECT_EQ(!!(row.answers & kDouble), cv->GetAsDouble(&d));
    if (row.answers & kDouble) {
      EXPECT_EQ(7, static_cast<int>(d));
    } else {
      EXPECT_EQ(-1, d);
    }

    const StringValue* sv = nullptr;
    EXPECT_EQ(!!(row.answers & kString), cv->GetAsString(&sv));
    EXPECT_EQ(row.answers & kString ? v : nullptr, sv);
    std::string s = "untouched";
    EXPECT_EQ(!!(row.answers & kString), cv->GetAsString(&s));
    EXPECT_EQ(row.answers & kString ? "text" : "untouched", s);
    string16 s16 = BASE_UTF16("untouched");
    EXPECT_EQ(!!(row.answers & kString), cv->GetAsString(&s16));
    EXPECT_TRUE(s16 == (row.answers & kString ? BASE_UTF16("text")
                                              : BASE_UTF16("untouched")));

    ListValue* list = nullptr;
    const ListValue* const_list = nullptr;
    EXPECT_EQ(!!(row.answers & kList), v->GetAsList(&list));
    EXPECT_EQ(!!(row.answers & kList), cv->GetAsList(&const_list));
    EXPECT_EQ(row.answers & kList ? v : nullptr, list);
    EXPECT_EQ(row.answers & kList ? cv : nullptr, const_list);

    DictionaryValue* dictionary = nullptr;
    const DictionaryValue* const_dictionary = nullptr;
    EXPECT_EQ(!!(row.answers & kDictionary), v->GetAsDictionary(&dictionary));
    EXPECT_EQ(!!(row.answers & kDictionary),
              cv->GetAsDictionary(&const_dictionary));
    EXPECT_EQ(row.answers & kDictionary ? v : nullptr, dictionary);
    EXPECT_EQ(row.answers & kDictionary ? cv : nullptr, const_dictionary);
  }

  double d = 0;
  ASSERT_TRUE(FundamentalValue(-3).GetAsDouble(&d));
  EXPECT_EQ(-3.0, d);
  bool b = true;
  ASSERT_TRUE(FundamentalValue(false).GetAsBoolean(&b));
  EXPECT_FALSE(b);
}

TEST(ValuesTest, DoublesAreAlwaysFinite) {
  double d = 1;
  ASSERT_TRUE(FundamentalValue(std::numeric_limits<double>::infinity())
                  .GetAsDouble(&d));
  EXPECT_EQ(0.0, d);
  d = 1;
  ASSERT_TRUE(FundamentalValue(std::nan("")).GetAsDouble(&d));
  EXPECT_EQ(0.0, d);
}

TEST(ValuesTest, StringsAreUTF8InsideAndConvertToUTF16) {
  StringValue from_utf8("caf\xC3\xA9 \xF0\x9F\x98\x80");
  string16 wide;
  ASSERT_TRUE(from_utf8.GetAsString(&wide));
  const string16 expected = BASE_UTF16("caf\u00e9 \U0001F600");
  EXPECT_TRUE(expected == wide);
  EXPECT_EQ(7u, wide.size());  // The emoji is a surrogate pair.

  StringValue from_utf16(expected);
  EXPECT_EQ("caf\xC3\xA9 \xF0\x9F\x98\x80", from_utf16.GetString());
  EXPECT_TRUE(from_utf8.Equals(&from_utf16));

  // Embedded NULs are content, not terminators.
  StringValue with_nul(std::string("a\0b", 3));
  ASSERT_TRUE(with_nul.GetAsString(&wide));
  EXPECT_EQ(3u, wide.size());
}

// The shape of the update server's reply, read the way the installer reads
// it.
std::unique_ptr<DictionaryValue> MakeReply() {
  auto reply = std::make_unique<DictionaryValue>();
  reply->SetString("installer", "https://dl.example.com/vulmo_installer.exe");
  reply->SetString("installer_checksum", std::string(64, 'a'));
  reply->SetString("url_welcome", "https://example.com/welcome?l=d\xC3\xA9");
  auto entry = std::make_unique<DictionaryValue>();
  entry->SetString("href", "https://cdn.example.com/p.bin");
  entry->SetString("filename", "p.bin");
  entry->SetString("checksum", std::string(64, 'b'));
  auto partner_content = std::make_unique<ListValue>();
  partner_content->Append(std::move(entry));
  partner_content->AppendInteger(3);
  reply->Set("partner_content", std::move(partner_content));
  reply->SetInteger("count", 3);
  reply->Set("outer.inner.leaf", std::make_unique<StringValue>("deep"));
  reply->SetWithoutPathExpansion("dotted.key",
                                 std::make_unique<StringValue>("literal"));
  return reply;
}

TEST(DictionaryValueTest, DottedPathsAndPlainKeys) {
  std::unique_ptr<DictionaryValue> reply = MakeReply();

  string16 installer;
  ASSERT_TRUE(reply->GetString("installer", &installer));
  EXPECT_TRUE(BASE_UTF16("https://dl.example.com/vulmo_installer.exe") ==
              installer);
  std::string checksum;
  ASSERT_TRUE(reply->GetString("installer_checksum", &checksum));
  EXPECT_EQ(std::string(64, 'a'), checksum);

  // Two keys joined by '.' reach into the nested dictionary.
  std::string leaf;
  ASSERT_TRUE(reply->GetString("outer.inner.leaf", &leaf));
  EXPECT_EQ("deep", leaf);
  const DictionaryValue* inner = nullptr;
  ASSERT_TRUE(reply->GetDictionary("outer.inner", &inner));
  ASSERT_TRUE(inner->GetString("leaf", &leaf));
  EXPECT_EQ(reply->Get("outer.inner.leaf"), inner->Get("leaf"));

  // A key with a '.' in it is stored, but only a literal lookup finds it.
  EXPECT_TRUE(reply->HasKey("dotted.key"));
  EXPECT_EQ(nullptr, reply->Get("dotted.key"));
  ASSERT_NE(nullptr, reply->GetWithoutPathExpansion("dotted.key"));

  // A path through a non-dictionary finds nothing.
  EXPECT_EQ(nullptr, reply->Get("count.x"));
  EXPECT_EQ(nullptr, reply->Get("partner_content.0"));
  EXPECT_EQ(nullptr, reply->Get("missing.leaf"));
  EXPECT_EQ(nullptr, reply->Get("outer.missing"));
  EXPECT_EQ(nullptr, reply->Get(""));

  const ListValue* partner_content = nullptr;
  ASSERT_TRUE(reply->GetList("partner_content", &partner_content));
  ASSERT_EQ(2u, partner_content->GetSize());
  const DictionaryValue* entry = nullptr;
  ASSERT_TRUE(partner_content->GetDictionary(0, &entry));
  string16 href;
  ASSERT_TRUE(entry->GetString("href", &href));
  EXPECT_TRUE(BASE_UTF16("https://cdn.example.com/p.bin") == href);
  EXPECT_FALSE(partner_content->GetDictionary(1, &entry));
  EXPECT_FALSE(partner_content->GetDictionary(2, &entry));
  EXPECT_EQ(nullptr, partner_content->Get(2));
}

TEST(DictionaryValueTest, WrongTypeOrMissingLeavesOutValueUntouched) {
  std::unique_ptr<DictionaryValue> reply = MakeReply();
  const ListValue* list = reinterpret_cast<const ListValue*>(0x1);
  const DictionaryValue* dictionary =
      reinterpret_cast<const DictionaryValue*>(0x1);
  string16 wide = BASE_UTF16("untouched");
  std::string narrow = "untouched";
  int integer = -1;
  bool boolean = true;
  double d = -1;

  EXPECT_FALSE(reply->GetString("count", &wide));           // An integer.
  EXPECT_FALSE(reply->GetString("partner_content", &narrow));  // A list.
  EXPECT_FALSE(reply->GetString("nothing", &narrow));
  EXPECT_FALSE(reply->GetString("outer.inner", &narrow));  // A dictionary.
  EXPECT_FALSE(reply->GetStringASCII("count", &narrow));
  EXPECT_FALSE(reply->GetList("installer", &list));
  EXPECT_FALSE(reply->GetList("outer", &list));
  EXPECT_FALSE(reply->GetDictionary("partner_content", &dictionary));
  EXPECT_FALSE(reply->GetDictionary("installer", &dictionary));
  EXPECT_FALSE(reply->GetInteger("installer", &integer));
  EXPECT_FALSE(reply->GetInteger("outer.inner.leaf", &integer));
  EXPECT_FALSE(reply->GetBoolean("count", &boolean));
  EXPECT_FALSE(reply->GetDouble("installer", &d));

  EXPECT_TRUE(BASE_UTF16("untouched") == wide);
  EXPECT_EQ("untouched", narrow);
  EXPECT_EQ(reinterpret_cast<const ListValue*>(0x1), list);
  EXPECT_EQ(reinterpret_cast<const DictionaryValue*>(0x1), dictionary);
  EXPECT_EQ(-1, integer);
  EXPECT_TRUE(boolean);
  EXPECT_EQ(-1, d);

  ASSERT_TRUE(reply->GetDouble("count", &d));
  EXPECT_EQ(3.0, d);
}

TEST(DictionaryValueTest, GetStringASCII) {
  std::unique_ptr<DictionaryValue> reply = MakeReply();
  std::string out = "untouched";
  EXPECT_TRUE(reply->GetStringASCII("installer_checksum", &out));
  EXPECT_EQ(std::string(64, 'a'), out);

  out = "untouched";
  EXPECT_FALSE(reply->GetStringASCII("url_welcome", &out));  // Has U+00E9.
  EXPECT_EQ("untouched", out);
  reply->SetString("edge", "\x7F");
  EXPECT_TRUE(reply->GetStringASCII("edge", &out));
  EXPECT_EQ("\x7F", out);
}

TEST(DictionaryValueTest, OrderedByKeyOneValuePerKey) {
  DictionaryValue dictionary;
  dictionary.SetInteger("b", 1);
  dictionary.SetInteger("a", 2);
  dictionary.SetInteger("c", 3);
  dictionary.SetString("a", "replaced");
  std::string keys;
  for (const auto& entry : dictionary)
    keys += entry.first;
  EXPECT_EQ("abc", keys);
  EXPECT_EQ(3u, dictionary.size());
  std::string a;
  EXPECT_TRUE(dictionary.GetString("a", &a));
  EXPECT_EQ("replaced", a);

  // Setting through a path replaces a non-dictionary on the way.
  dictionary.SetInteger("b.x", 4);
  int x = 0;
  EXPECT_TRUE(dictionary.GetInteger("b.x", &x));
  EXPECT_EQ(4, x);

  std::unique_ptr<Value> removed = dictionary.RemoveWithoutPathExpansion("c");
  ASSERT_TRUE(removed);
  EXPECT_TRUE(removed->GetAsInteger(&x));
  EXPECT_EQ(3, x);
  EXPECT_FALSE(dictionary.HasKey("c"));
  EXPECT_FALSE(dictionary.RemoveWithoutPathExpansion("c"));

  dictionary.Set("n", nullptr);  // Ignored.
  EXPECT_FALSE(dictionary.HasKey("n"));
  dictionary.Clear();
  EXPECT_TRUE(dictionary.empty());
}

TEST(ListValueTest, SizeElementsAndRemove) {
  ListValue list;
  EXPECT_TRUE(list.empty());
  list.AppendInteger(1);
  list.AppendString("two");
  list.AppendString(BASE_UTF16("thr\u00e9e"));
  list.AppendBoolean(true);
  list.AppendDouble(4.5);
  list.Append(nullptr);  // Ignored.
  ASSERT_EQ(5u, list.GetSize());

  int i = 0;
  EXPECT_TRUE(list.GetInteger(0, &i));
  EXPECT_EQ(1, i);
  std::string s;
  EXPECT_TRUE(list.GetString(2, &s));
  EXPECT_EQ("thr\xC3\xA9" "e", s);
  EXPECT_FALSE(list.GetString(0, &s));
  EXPECT_FALSE(list.GetInteger(99, &i));
  EXPECT_EQ(nullptr, list.Get(5));

  std::unique_ptr<Value> removed = list.Remove(1);
  ASSERT_TRUE(removed);
  EXPECT_TRUE(removed->GetAsString(&s));
  EXPECT_EQ("two", s);
  EXPECT_EQ(4u, list.GetSize());
  EXPECT_FALSE(list.Remove(4));
  bool b = false;
  EXPECT_TRUE(list.GetBoolean(2, &b));
  EXPECT_TRUE(b);
}

TEST(ValuesTest, DeepCopyIsEqualAndIndependent) {
  std::unique_ptr<DictionaryValue> original = MakeReply();
  original->Set("bytes", BinaryValue::CreateWithCopiedBuffer("\x01\x02", 2));
  original->Set("nothing", Value::CreateNullValue());
  original->SetBoolean("flag", false);
  original->SetDouble("ratio", 0.25);

  std::unique_ptr<Value> copy = original->DeepCopy();
  ASSERT_TRUE(copy);
  EXPECT_TRUE(original->Equals(copy.get()));
  EXPECT_TRUE(copy->Equals(original.get()));

  // Nothing is shared: every node of the copy is a new object.
  DictionaryValue* copy_dictionary = nullptr;
  ASSERT_TRUE(copy->GetAsDictionary(&copy_dictionary));
  EXPECT_NE(original->Get("outer.inner.leaf"),
            copy_dictionary->Get("outer.inner.leaf"));
  ListValue* copy_list = nullptr;
  ASSERT_TRUE(copy_dictionary->GetList("partner_content", &copy_list));
  const ListValue* original_list = nullptr;
  ASSERT_TRUE(original->GetList("partner_content", &original_list));
  EXPECT_NE(original_list->Get(0), copy_list->Get(0));

  // Changing the copy leaves the original as it was.
  copy_list->AppendInteger(4);
  EXPECT_FALSE(original->Equals(copy.get()));
  EXPECT_EQ(2u, original_list->GetSize());
  copy_list->Remove(2);
  EXPECT_TRUE(original->Equals(copy.get()));
  copy_dictionary->SetString("outer.inner.leaf", "changed");
  EXPECT_FALSE(original->Equals(copy.get()));
  std::string leaf;
  ASSERT_TRUE(original->GetString("outer.inner.leaf", &leaf));
  EXPECT_EQ("deep", leaf);

  std::unique_ptr<DictionaryValue> typed_copy = original->CreateDeepCopy();
  EXPECT_TRUE(original->Equals(typed_copy.get()));
}

TEST(ValuesTest, Equality) {
  FundamentalValue one(1);
  FundamentalValue one_double(1.0);
  EXPECT_FALSE(one.Equals(&one_double));  // Types differ.
  EXPECT_FALSE(one_double.Equals(&one));
  EXPECT_TRUE(one.Equals(std::make_unique<FundamentalValue>(1).get()));
  EXPECT_FALSE(one.Equals(std::make_unique<FundamentalValue>(2).get()));
  EXPECT_FALSE(FundamentalValue(true).Equals(&one));
  EXPECT_TRUE(FundamentalValue(true).Equals(
      std::make_unique<FundamentalValue>(true).get()));
  EXPECT_FALSE(FundamentalValue(true).Equals(
      std::make_unique<FundamentalValue>(false).get()));
  EXPECT_FALSE(one.Equals(nullptr));

  std::unique_ptr<Value> null_a = Value::CreateNullValue();
  std::unique_ptr<Value> null_b = Value::CreateNullValue();
  EXPECT_TRUE(null_a->Equals(null_b.get()));
  EXPECT_FALSE(null_a->Equals(&one));
  EXPECT_FALSE(StringValue("").Equals(null_a.get()));
  EXPECT_TRUE(Value::Equals(nullptr, nullptr));
  EXPECT_FALSE(Value::Equals(null_a.get(), nullptr));
  EXPECT_TRUE(Value::Equals(null_a.get(), null_b.get()));

  EXPECT_TRUE(StringValue("a").Equals(
      std::make_unique<StringValue>("a").get()));
  EXPECT_FALSE(StringValue("a").Equals(
      std::make_unique<StringValue>("b").get()));

  BinaryValue bytes(std::vector<uint8_t>{1, 2});
  EXPECT_TRUE(bytes.Equals(bytes.DeepCopy().get()));
  EXPECT_FALSE(bytes.Equals(BinaryValue::CreateWithCopiedBuffer("\x01", 1).get()));
  EXPECT_FALSE(bytes.Equals(&one));

  ListValue ab;
  ab.AppendString("a");
  ab.AppendString("b");
  ListValue ba;
  ba.AppendString("b");
  ba.AppendString("a");
  EXPECT_FALSE(ab.Equals(&ba));  // Order matters.
  ba.Remove(0);
  EXPECT_FALSE(ab.Equals(&ba));  // So does length.
  ba.AppendString("b");
  EXPECT_TRUE(ab.Equals(&ba));

  DictionaryValue x;
  x.SetInteger("k", 1);
  DictionaryValue y;
  y.SetInteger("j", 1);
  EXPECT_FALSE(x.Equals(&y));  // Same value, different key.
  y.SetInteger("k", 1);
  EXPECT_FALSE(x.Equals(&y));  // Extra key.
  x.SetInteger("j", 1);
  EXPECT_TRUE(x.Equals(&y));
  EXPECT_FALSE(x.Equals(&ab));
}

}  // namespace
}  // namespace base
