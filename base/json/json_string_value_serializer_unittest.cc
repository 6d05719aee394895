#include "base/json/json_string_value_serializer.h"

#include <memory>
#include <string>

#include "base/json/json_reader.h"
#include "base/strings/string16.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace {

constexpr char kReply[] =
    "\xEF\xBB\xBF{\n"
    "  \"installer\": \"https://dl.vulmo.example/inst/vulmo_installer.exe\",\n"
    "  \"installer_checksum\": "
    "\"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\",\n"
    "  \"url_welcome\": \"https://www.vulmo.example/welcome?lang=fr&n=\\u00e9\",\n"
    "  \"partner_content\": [\n"
    "    {\"href\": \"https://cdn.partner.example/a.dat\", \"filename\": "
    "\"a.dat\",\n"
    "     \"checksum\": "
    "\"fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210\"},\n"
    "    {\"href\": \"https://cdn.partner.example/b.dat\", \"filename\": "
    "\"b \\u00fc.dat\", \"checksum\": \"00\", \"extra\": [1, 2.5, null]}\n"
    "  ],\n"
    "  \"ignored\": {\"nested\": true}\n"
    "}\n";

TEST(JSONStringValueDeserializerTest, ReadsAReplyTheWayTheInstallerDoes) {
  JSONStringValueDeserializer deserializer(kReply);
  std::unique_ptr<Value> root = deserializer.Deserialize(nullptr, nullptr);
  ASSERT_TRUE(root);
  const DictionaryValue* reply = nullptr;
  ASSERT_TRUE(root->GetAsDictionary(&reply));

  string16 installer;
  ASSERT_TRUE(reply->GetString("installer", &installer));
  EXPECT_TRUE(BASE_UTF16("https://dl.vulmo.example/inst/vulmo_installer.exe") ==
              installer);
  std::string checksum;
  ASSERT_TRUE(reply->GetString("installer_checksum", &checksum));
  EXPECT_EQ("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
            checksum);
  string16 welcome;
  ASSERT_TRUE(reply->GetString("url_welcome", &welcome));
  EXPECT_TRUE(BASE_UTF16("https://www.vulmo.example/welcome?lang=fr&n=\u00e9") ==
              welcome);

  const ListValue* partner_content = nullptr;
  ASSERT_TRUE(reply->GetList("partner_content", &partner_content));
  ASSERT_EQ(2u, partner_content->GetSize());
  const DictionaryValue* second = nullptr;
  ASSERT_TRUE(partner_content->GetDictionary(1, &second));
  string16 filename;
  ASSERT_TRUE(second->GetString("filename", &filename));
  EXPECT_TRUE(BASE_UTF16("b \u00fc.dat") == filename);
  std::string second_checksum;
  ASSERT_TRUE(second->GetString("checksum", &second_checksum));
  EXPECT_EQ("00", second_checksum);
}

TEST(JSONStringValueDeserializerTest, StrictUnlessTrailingCommasAllowed) {
  const std::string text = "{\"installer\":\"x\",}";

  JSONStringValueDeserializer strict(text);
  int error_code = 0;
  std::string error_message;
  EXPECT_FALSE(strict.Deserialize(&error_code, &error_message));
  EXPECT_EQ(JSONReader::JSON_TRAILING_COMMA, error_code);
  EXPECT_EQ("Line: 1, column: 18, Trailing comma not allowed.", error_message);

  JSONStringValueDeserializer lenient(text, true);
  std::unique_ptr<Value> root = lenient.Deserialize(&error_code, &error_message);
  ASSERT_TRUE(root);
  EXPECT_EQ(0, error_code);
  EXPECT_EQ("", error_message);
  EXPECT_TRUE(root->IsType(Value::TYPE_DICTIONARY));
}

TEST(JSONStringValueDeserializerTest, KeepsItsOwnCopyOfTheText) {
  std::string text = "[\"kept\"]";
  JSONStringValueDeserializer deserializer(text);
  text.assign("garbage");
  std::unique_ptr<Value> root = deserializer.Deserialize(nullptr, nullptr);
  ASSERT_TRUE(root);
  std::string element;
  const ListValue* list = nullptr;
  ASSERT_TRUE(root->GetAsList(&list));
  ASSERT_TRUE(list->GetString(0, &element));
  EXPECT_EQ("kept", element);

  // Deserializing twice gives two equal, independent trees.
  std::unique_ptr<Value> again = deserializer.Deserialize(nullptr, nullptr);
  ASSERT_TRUE(again);
  EXPECT_NE(root.get(), again.get());
  EXPECT_TRUE(root->Equals(again.get()));
}

}  // namespace
}  // namespace base
