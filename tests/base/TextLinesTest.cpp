#include "base/TextLines.h"

#include <gtest/gtest.h>

namespace upd {

TEST(TextLinesTest, SplitLinesAtEveryKindOfBreak)
{
    using Lines = std::vector<std::string>;
    struct Row {
        const char* text;
        Lines lines;
    };
    const Row rows[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"a\n\rb", {"a", "", "b"}},
        {"\r\n\r\n", {"", ""}},
        {"a\r", {"a"}},
        {" \r\n\x1A\r\n", {" ", "\x1A"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(SplitLines(row.text), row.lines);
    }
}

} // namespace upd
