#include "tools/updkit/JsonRead.h"

#include "base/Exception.h"

#include <gtest/gtest.h>

namespace updkit {

TEST(JsonReadTest, ReadsEveryKindOfValue)
{
    const TJsonValue root = ParseJson("\xEF\xBB\xBF { \"a\": [1, -2, 3.5, true, false, null],\n"
                                      " \"s\": \"x\\\"\\\\\\/\\n\\u0103\\ud83d\\ude00\", \"o\": {} }");
    const auto& items = root.Find("a")->AsArray("a");
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[0].AsInteger("n"), 1);
    EXPECT_EQ(items[1].AsInteger("n"), -2);
    EXPECT_THROW(items[2].AsInteger("n"), upd::Exception);
    EXPECT_TRUE(items[3].AsBool("b"));
    EXPECT_FALSE(items[4].AsBool("b"));
    EXPECT_TRUE(items[5].IsNull());
    EXPECT_EQ(root.Find("s")->AsString("s"), "x\"\\/\n\xC4\x83\xF0\x9F\x98\x80");
    EXPECT_EQ(root.Find("o")->Kind(), TJsonValue::TKind::Object);
    EXPECT_EQ(root.Find("missing"), nullptr);
}

TEST(JsonReadTest, ErrorsNameTheirPlace)
{
    struct Row {
        const char* text;
        const char* message;
    };
    const Row rows[] = {
        {"", "JSON error at line 1, column 1: unexpected end of the text"},
        {"{\"a\" 1}", "JSON error at line 1, column 6: ':' was expected"},
        {"[1,\n 2", "JSON error at line 2, column 3: ',' or ']' was expected"},
        {"[1] x", "JSON error at line 1, column 5: text after the document"},
        {"\"abc", "JSON error at line 1, column 5: unterminated string"},
        {"\"a\tb\"", "JSON error at line 1, column 3: control character in a string"},
        {"\"\\x\"", "JSON error at line 1, column 4: unknown escape '\\x'"},
        {"\"\\ud800\"", "JSON error at line 1, column 8: invalid surrogate pair"},
        {"-", "JSON error at line 1, column 2: a digit was expected"},
        {"{1:2}", "JSON error at line 1, column 2: a member name was expected"},
        {"tru", "JSON error at line 1, column 1: unexpected character 't'"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        try {
            ParseJson(row.text);
            ADD_FAILURE() << "no error";
        } catch (const upd::Exception& e) {
            EXPECT_STREQ(e.what(), row.message);
        }
    }
    EXPECT_THROW(ParseJson(std::string(1000, '[')), upd::Exception);
}

} // namespace updkit
