#include "package/TaggedValues.h"

#include "base/Exception.h"

#include <gtest/gtest.h>

#include <vector>

namespace upd::package {

namespace {

using Bytes = std::vector<std::uint8_t>;

TTaggedValueReader ReaderOf(const Bytes& bytes)
{
    return TTaggedValueReader(bytes.data(), bytes.size());
}

} // namespace

TEST(TTaggedValueReaderTest, ReadsEveryIntegerForm)
{
    struct Row {
        Bytes bytes;
        std::int32_t value;
    };
    const Row rows[] = {
        {{0x02, 0x04}, 4},
        {{0x02, 0xFF}, -1},
        {{0x03, 0xA2, 0x01}, 418},
        {{0x03, 0x00, 0x80}, -32768},
        {{0x04, 0x00, 0xE8, 0x06, 0x00}, 452608},
        {{0x04, 0xFF, 0xFF, 0xFF, 0x7F}, 2147483647},
        {{0x04, 0x00, 0x00, 0x00, 0x80}, -2147483647 - 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        auto reader = ReaderOf(row.bytes);
        EXPECT_EQ(reader.ReadInteger(), row.value);
        EXPECT_EQ(reader.Position(), row.bytes.size());
    }
}

TEST(TTaggedValueReaderTest, ReadsEveryTextFormAsCodePage1250)
{
    struct Row {
        const char* name;
        Bytes bytes;
        std::string text;
    };
    const Row rows[] = {
        {"short", {0x06, 0x03, 'a', 0xE3, 'b'}, "a\xC4\x83" "b"},
        {"short empty", {0x06, 0x00}, ""},
        {"long", {0x0C, 0x02, 0x00, 0x00, 0x00, 'x', 'y'}, "xy"},
        // "a" U+0103 U+015F: a-breve and s-cedilla.
        {"utf-16", {0x12, 0x03, 0x00, 0x00, 0x00, 'a', 0x00, 0x03, 0x01, 0x5F, 0x01}, "a\xC4\x83\xC5\x9F"},
        {"utf-8", {0x14, 0x03, 0x00, 0x00, 0x00, 'a', 0xC4, 0x83}, "a\xC4\x83"},
        {"utf-8 outside the page", {0x14, 0x02, 0x00, 0x00, 0x00, 0xC8, 0x99}, "?"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto reader = ReaderOf(row.bytes);
        EXPECT_EQ(reader.ReadText(), row.text);
        EXPECT_EQ(reader.Position(), row.bytes.size());
    }
}

TEST(TTaggedValueReaderTest, BooleanIsTrueOnlyForItsTrueTag)
{
    Bytes bytes = {0x09, 0x08, 0x02, 0x00};
    auto reader = ReaderOf(bytes);
    EXPECT_TRUE(reader.ReadBoolean());
    EXPECT_FALSE(reader.ReadBoolean());
    // Any other tag is a false boolean of one byte; the next value starts right after it.
    EXPECT_FALSE(reader.ReadBoolean());
    EXPECT_EQ(reader.Position(), 3u);
}

TEST(TTaggedValueReaderTest, RejectsBadTagsAndDataThatEndsEarly)
{
    enum Kind { Integer, Text, Boolean };
    struct Row {
        const char* name;
        Kind kind;
        Bytes bytes;
        int position;
    };
    const Row rows[] = {
        {"empty integer", Integer, {}, 0},
        {"text tag as integer", Integer, {0x06, 0x00}, 0},
        {"boolean tag as integer", Integer, {0x08}, 0},
        {"int16 cut", Integer, {0x03, 0x01}, 0},
        {"int32 cut", Integer, {0x04, 0x01, 0x02, 0x03}, 0},
        {"empty text", Text, {}, 0},
        {"integer tag as text", Text, {0x02, 0x00}, 0},
        {"short length missing", Text, {0x06}, 0},
        {"short text cut", Text, {0x06, 0x05, 'a', 'b'}, 0},
        {"long length cut", Text, {0x0C, 0x01, 0x00}, 0},
        {"long text beyond data", Text, {0x0C, 0x00, 0x00, 0x00, 0x10, 'a'}, 0},
        {"long text negative length", Text, {0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}, 0},
        {"utf-16 odd byte", Text, {0x12, 0x01, 0x00, 0x00, 0x00, 'a'}, 0},
        {"utf-16 count overflows", Text, {0x12, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 0}, 0},
        {"utf-8 beyond data", Text, {0x14, 0x09, 0x00, 0x00, 0x00, 'a'}, 0},
        {"empty boolean", Boolean, {}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto reader = ReaderOf(row.bytes);
        try {
            switch (row.kind) {
            case Integer: reader.ReadInteger(); break;
            case Text: reader.ReadText(); break;
            case Boolean: reader.ReadBoolean(); break;
            }
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(std::string(e.what()), Format(kTaggedReadError, row.position));
        }
    }
}

TEST(TTaggedValueReaderTest, ErrorNamesTheOffsetOfTheBadValue)
{
    Bytes bytes = {0x02, 0x07, 0x06, 0x01, 'z', 0x0C, 0x05};
    auto reader = ReaderOf(bytes);
    EXPECT_EQ(reader.ReadInteger(), 7);
    EXPECT_EQ(reader.ReadText(), "z");
    try {
        reader.ReadText();
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Descrierea actualizarii este deteriorata (pozitia 5)");
    }
}

TEST(TTaggedValueWriterTest, WritesSmallestForms)
{
    struct Row {
        std::int32_t value;
        Bytes bytes;
    };
    const Row rows[] = {
        {4, {0x02, 0x04}},
        {127, {0x02, 0x7F}},
        {-128, {0x02, 0x80}},
        {128, {0x03, 0x80, 0x00}},
        {418, {0x03, 0xA2, 0x01}},
        {-129, {0x03, 0x7F, 0xFF}},
        {32767, {0x03, 0xFF, 0x7F}},
        {32768, {0x04, 0x00, 0x80, 0x00, 0x00}},
        {452608, {0x04, 0x00, 0xE8, 0x06, 0x00}},
        {-32769, {0x04, 0xFF, 0x7F, 0xFF, 0xFF}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        TTaggedValueWriter writer;
        writer.WriteInteger(row.value);
        EXPECT_EQ(writer.Data(), row.bytes);
        auto reader = ReaderOf(writer.Data());
        EXPECT_EQ(reader.ReadInteger(), row.value);
    }
}

TEST(TTaggedValueWriterTest, TextsUpTo255BytesAreShortForm)
{
    for (std::size_t length : {0u, 1u, 255u, 256u, 70000u}) {
        SCOPED_TRACE(length);
        // Stored one byte per letter, in code page 1250.
        std::string text;
        for (std::size_t i = 0; i < length; ++i)
            text += "\xC4\x83";
        TTaggedValueWriter writer;
        writer.WriteText(text);
        writer.WriteBoolean(true);
        writer.WriteBoolean(false);
        const Bytes& data = writer.Data();
        if (length <= 255) {
            ASSERT_EQ(data.size(), length + 4);
            EXPECT_EQ(data[0], 0x06);
            EXPECT_EQ(data[1], length);
        } else {
            ASSERT_EQ(data.size(), length + 7);
            EXPECT_EQ(data[0], 0x0C);
        }
        EXPECT_EQ(data[data.size() - 2], 0x09);
        EXPECT_EQ(data.back(), 0x08);
        auto reader = ReaderOf(data);
        EXPECT_EQ(reader.ReadText(), text);
        EXPECT_TRUE(reader.ReadBoolean());
        EXPECT_FALSE(reader.ReadBoolean());
        EXPECT_EQ(reader.Remaining(), 0u);
    }
}

} // namespace upd::package
