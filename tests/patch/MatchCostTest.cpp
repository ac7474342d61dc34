#include <gtest/gtest.h>

#include <random>

#include "patch/MatchCost.h"

using namespace upd::patch;

TEST(MatchCostTest, BytesThatRepeatCostLessAsLiterals)
{
    // Random bytes, the same bytes again within deflate's window, then the
    // same far beyond it.
    std::mt19937 random(41);
    std::vector<std::uint8_t> piece(1000);
    for (auto& b : piece)
        b = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> file = piece;
    file.insert(file.end(), piece.begin(), piece.end());
    for (int i = 0; i < 40000; ++i)
        file.push_back(static_cast<std::uint8_t>(random()));
    file.insert(file.end(), piece.begin(), piece.end());
    TQvtLiteralCost cost(file);
    double fresh = cost.Bits(0, 1000);
    EXPECT_LT(cost.Bits(1000, 1000), fresh / 2);
    EXPECT_NEAR(cost.Bits(file.size() - 1000, 1000), fresh, fresh / 10);
    EXPECT_EQ(cost.Bits(5, 0), 0.0);
}
