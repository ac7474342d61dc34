#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "patch/TableCoding.h"

using namespace upd::patch;

TEST(TableCodingTest, OptimalCodeLengthsMakeACompleteCode)
{
    struct TRow {
        std::vector<std::uint64_t> weights;
        std::vector<unsigned> lengths;
    } rows[] = {
        {{1, 1}, {1, 1}},
        {{4, 2, 1, 1}, {1, 2, 3, 3}},
        {{5, 5, 5, 5}, {2, 2, 2, 2}},
        {{1, 100, 1, 1, 1000}, {4, 2, 4, 3, 1}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.weights.size());
        EXPECT_EQ(OptimalCodeLengths(row.weights), row.lengths);
    }
}

TEST(TableCodingTest, EveryNumberGetsASymbolWideEnough)
{
    const std::vector<std::vector<std::int32_t>> rows = {
        {},
        {0},
        {1, 1, 1},
        {0, -1, 5, 1, 1, 1, 300000, -70000, 2, 2, 3},
        {INT32_MAX, -INT32_MAX, 0, 1},
        {7, 7, 7, 7, 7, 7, 7, 7, 6, 5, 4, 3, 2, 1, 0, 1000, 1000, 1001},
    };
    for (const auto& numbers : rows) {
        SCOPED_TRACE(numbers.size());
        auto coding = ChooseLengthCoding(numbers);
        ASSERT_GE(coding.Table.size(), 2u);
        for (std::size_t i = 1; i < coding.Table.size(); ++i)
            EXPECT_LT(coding.Table[i - 1].first, coding.Table[i].first);
        for (const auto& entry : coding.Table)
            EXPECT_GT(entry.second, 0);
        ASSERT_EQ(coding.Symbols.size(), numbers.size());
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            std::int64_t number = numbers[i];
            std::int32_t symbol = coding.Symbols[i];
            SCOPED_TRACE(number);
            EXPECT_TRUE(std::any_of(coding.Table.begin(), coding.Table.end(),
                                    [&](const auto& entry) { return entry.first == symbol; }));
            EXPECT_TRUE(number == 0 || (number < 0) == (symbol < 0));
            EXPECT_LT(std::llabs(number), std::int64_t{1} << std::abs(symbol));
        }
    }
}

TEST(TableCodingTest, FewNumbersShareFewSymbols)
{
    // Ten numbers of six widths: a symbol each would cost more in the table
    // than the wider raw bits.
    auto coding = ChooseLengthCoding({1, 2, 4, 8, 16, 32, 1, 1, 1, 1});
    EXPECT_LE(coding.Table.size(), 3u);
}
