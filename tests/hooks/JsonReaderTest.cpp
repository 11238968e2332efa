#include "hooks/JsonReader.h"

#include <gtest/gtest.h>

namespace tallyloft {
namespace {

TEST(JsonReader, AcceptsConformingDocuments) {
  const std::pair<const char*, JSONValue> cases[] = {
      {" \t\r\n{} ", JSONValue(JSONValue::Object{})},
      {"[1, -0.5e2 ,0,-0, 1E+2]", JSONValue(JSONValue::Array{1.0, -50.0, 0.0, -0.0, 100.0})},
      {R"("\"\\\/\b\f\n\r\t\u0041\u00e9\u20AC\ud83d\ude00")",
       JSONValue("\"\\/\b\f\n\r\tA\u00e9\u20AC\U0001F600")},
      {"\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"", JSONValue("caf\u00e9 \u20AC \U0001F600")},
      {R"({"a":1,"a":[true,false,null]})",
       JSONValue(JSONValue::Object{{"a", JSONValue(JSONValue::Array{true, false, nullptr})}})},
      {"1e-400", JSONValue(0.0)},
      {"0.000001e-320", JSONValue(0.0)},
      {"{\"unused\":1e-999}", JSONValue(JSONValue::Object{{"unused", 0.0}})},
      {"\"\\u0000\"", JSONValue(std::string(1, '\0'))},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    auto value = parseJson(text);
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, expected);
  }
}

TEST(JsonReader, RejectsWhatAConformingParserRejects) {
  const char* rejected[] = {
      "",
      "{",
      "{]",
      "[1,]",
      "{\"a\":1,}",
      "{'a':1}",
      "{a:1}",
      "01",
      "1.",
      ".5",
      "-",
      "1e",
      "+1",
      "NaN",
      "Infinity",
      "tru",
      "nul",
      "[1 2]",
      "{} {}",
      "1e400",
      "-1e400",
      "[2e308]",
      "0.1e400",
      "{\"a\":1e400}",
      "\"a",
      "\"\t\"",
      "\"\\x\"",
      "\"\\u12\"",
      "\"\\ud800\"",
      "\"\\udc00\"",
      "\"\\ud800\\u0041\"",
      "\"\xff\"",
      "\"\xc0\xaf\"",
      "\"\xed\xa0\x80\"",
      "\"\xf4\x90\x80\x80\"",
      "\"\xe2\x82\"",
  };
  for (const char* text : rejected) EXPECT_FALSE(parseJson(text)) << text;
  EXPECT_FALSE(parseJson(std::string_view("[1]\0", 4)));
  EXPECT_FALSE(parseJson(std::string(400, '1') + "e-10"));  // about 1e389
  EXPECT_EQ(parseJson("0." + std::string(400, '0') + "1e70"), JSONValue(0.0));
}

TEST(JsonReader, LimitsNestingInsteadOfOverflowingTheStack) {
  const auto nested = [](int depth) {
    return std::string(static_cast<std::size_t>(depth), '[') +
           std::string(static_cast<std::size_t>(depth), ']');
  };
  EXPECT_TRUE(parseJson(nested(JsonReader::kMaxDepth)));
  EXPECT_FALSE(parseJson(nested(JsonReader::kMaxDepth + 1)));
  EXPECT_FALSE(parseJson(nested(1'000'000)));
  std::string objects;
  for (int i = 0; i < 100'000; ++i) objects += "{\"a\":";
  EXPECT_FALSE(parseJson(objects + "1" + std::string(100'000, '}')));
}

}  // namespace
}  // namespace tallyloft
