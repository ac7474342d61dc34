#include <gtest/gtest.h>

#include <random>

#include "base/Exception.h"
#include "patch/BitStream.h"
#include "patch/Huffman.h"

using namespace upd::patch;

namespace {

std::string Message(const std::function<void()>& action)
{
    try {
        action();
    } catch (const upd::Exception& e) {
        return e.what();
    }
    return "(no error)";
}

// Decoding the slow way, one tree step per bit.
std::int32_t WalkDecode(const TQvtHuffmanValueSet& set, TQvtBitStream& bits)
{
    const TQvtHuffmanBaseNode* node = set.Root();
    while (auto* inner = dynamic_cast<const TQvtHuffmanArrayNode*>(node))
        node = inner->Children[bits.ReadBit() ? 1 : 0].get();
    return static_cast<const TQvtHuffmanFinalNode*>(node)->Value;
}

} // namespace

TEST(TQvtSortedIntegerListTest, KeepsKeysSortedAndRefusesRepeats)
{
    TQvtSortedIntegerList list;
    for (std::int32_t key : {5, -3, 12, 0, -100})
        list.Add(key, key * 2);
    ASSERT_EQ(list.Count(), 5);
    EXPECT_EQ(list.Keys(0), -100);
    EXPECT_EQ(list.Keys(4), 12);
    EXPECT_EQ(list.Data(list.IndexOf(5)), 10);
    EXPECT_EQ(list.IndexOf(7), -1);
    list.SetData(0, 42);
    EXPECT_EQ(list.Data(0), 42);
    EXPECT_EQ(Message([&] { list.Add(-3, 1); }), "Incerci sa adaugi -3 a doua oara!");
    EXPECT_EQ(Message([&] { list.Keys(5); }), "List index out of bounds (5)");
}

TEST(TQvtHuffmanValueSetTest, CodeRows)
{
    struct TRow {
        std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
        std::vector<std::string> codes; // in ascending value order
    } rows[] = {
        {{{10, 1}, {20, 1}, {30, 1}}, {"10", "11", "0"}},
        {{{1, 1}, {2, 2}, {3, 3}}, {"10", "11", "0"}},
        {{{5, 4}, {6, 1}, {7, 1}, {8, 2}}, {"0", "110", "111", "10"}},
        {{{0, 5}, {1, 5}, {2, 5}, {3, 5}}, {"00", "01", "10", "11"}},
        {{{7, 9}, {-4, 1}}, {"0", "1"}},
        {{{0, 2}, {1, 7}, {2, 5}}, {"10", "0", "11"}},
        {{{0, 1}, {2, 1}, {5, 2}}, {"10", "11", "0"}},
        // A lone heavy leaf, and equal weights merged in list order.
        {{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 4}}, {"00", "01", "10", "11", "..."}},
    };
    rows[7].codes = {"100", "101", "110", "111", "0"};
    for (std::size_t r = 0; r < std::size(rows); ++r) {
        SCOPED_TRACE(r);
        TQvtHuffmanValueSet set;
        for (auto [value, weight] : rows[r].pairs)
            set.Add(value, weight);
        set.BuildTree();
        ASSERT_EQ(set.Count(), static_cast<int>(rows[r].codes.size()));
        for (int i = 0; i < set.Count(); ++i)
            EXPECT_EQ(set.Codes(i), rows[r].codes[static_cast<std::size_t>(i)]) << "value " << set.Value(i);
    }
}

TEST(TQvtHuffmanValueSetTest, AccumulatesWeightsAndGuardsItsLifecycle)
{
    TQvtHuffmanValueSet set;
    set.Add(4, 2);
    set.Add(4, 3);
    EXPECT_EQ(set.Count(), 1);
    EXPECT_EQ(set.Weight(0), 5);
    EXPECT_EQ(Message([&] { set.BuildTree(); }), "List index out of bounds (1)");

    TQvtHuffmanValueSet pair;
    pair.Add(1, 1);
    pair.Add(2, 1);
    pair.BuildTree();
    EXPECT_EQ(Message([&] { pair.Add(3, 1); }), "Adaugi valori dupa ce ai construit reprezentarea arborescenta");
    EXPECT_EQ(Message([&] { pair.BuildTree(); }), "BuildTree apelat a doua oara");
    TQvtMemoryStream stream;
    TQvtBitStream bits(stream);
    EXPECT_EQ(Message([&] { pair.WriteCode(bits, 9); }), "List index out of bounds (-1)");

    TQvtHuffmanValueSet empty;
    EXPECT_EQ(Message([&] { empty.BuildTree(); }), "List index out of bounds (0)");
}

TEST(TQvtHuffmanValueSetTest, DecodeFollowsTheCodes)
{
    TQvtHuffmanValueSet set;
    for (auto [v, w] : {std::pair{5, 4}, {6, 1}, {7, 1}, {8, 2}})
        set.Add(v, w);
    set.BuildTree();
    TQvtMemoryStream stream({0xC0}); // 1 1 0, then padding
    TQvtBitStream bits(stream);
    EXPECT_EQ(set.Decode(bits), 6);
    EXPECT_EQ(set.Decode(bits), 5); // the next bit is 0
    EXPECT_EQ(set.Decode(bits), 5);
    EXPECT_EQ(set.Decode(bits), 5);
    EXPECT_EQ(set.Decode(bits), 5);
    EXPECT_EQ(set.Decode(bits), 5);
    EXPECT_EQ(Message([&] { set.Decode(bits); }), "Incerci sa citesti DUPA eof");

    TQvtMemoryStream cut({0xFF}); // 111 111 11: the last code is cut short
    TQvtBitStream cutBits(cut);
    EXPECT_EQ(set.Decode(cutBits), 7);
    EXPECT_EQ(set.Decode(cutBits), 7);
    EXPECT_EQ(Message([&] { set.Decode(cutBits); }), "Incerci sa citesti DUPA eof");
}

TEST(TQvtHuffmanValueSetTest, TableDecodingMatchesTheTreeWalk)
{
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        TQvtHuffmanValueSet set;
        // The largest sets get a wider first table level.
        int values = 2 + static_cast<int>(random() % (round < 20 ? 20 : round < 34 ? 3000 : 60000));
        for (int i = 0; i < values; ++i) {
            // Skewed weights make codes longer than the table's bits.
            std::int32_t weight = 1 + static_cast<std::int32_t>(random() % (i % 7 == 0 ? 100000 : 3));
            set.Add(static_cast<std::int32_t>(random() % 100000) - 50000, weight);
        }
        set.BuildTree();
        std::vector<std::uint8_t> data(4000);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(random());
        TQvtMemoryStream fastStream(data), slowStream(data);
        TQvtBitStream fast(fastStream), slow(slowStream);
        TQvtBitReader reader(data.data(), data.size());
        for (;;) {
            std::string fastError, slowError, readerError;
            std::int32_t a = 0, b = 0, c = 0;
            try {
                a = set.Decode(fast);
            } catch (const upd::Exception& e) {
                fastError = e.what();
            }
            try {
                c = set.Decode(reader);
            } catch (const upd::Exception& e) {
                readerError = e.what();
            }
            try {
                b = WalkDecode(set, slow);
            } catch (const upd::Exception& e) {
                slowError = e.what();
            }
            ASSERT_EQ(fastError, slowError);
            ASSERT_EQ(readerError, slowError);
            if (!fastError.empty())
                break;
            ASSERT_EQ(a, b);
            ASSERT_EQ(c, b);
            ASSERT_EQ(reader.BitPosition(), slow.BitPosition());
            // Both readers must stand on the same bit afterwards.
            unsigned x = 0, y = 0;
            ASSERT_EQ(fast.PeekBits(8, x), slow.PeekBits(8, y));
            ASSERT_EQ(x, y);
        }
    }
}

TEST(TQvtHuffmanValueSetTest, WriteCodeThenDecodeRoundTrips)
{
    TQvtHuffmanValueSet set;
    for (int i = 0; i < 300; ++i)
        set.Add(i * 3 - 100, 1 + (i * i) % 17);
    set.BuildTree();
    TQvtMemoryStream stream;
    {
        TQvtBitStream bits(stream);
        for (int i = 0; i < 300; ++i)
            set.WriteCode(bits, i * 3 - 100);
    }
    stream.Seek(0);
    TQvtBitStream bits(stream);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(set.Decode(bits), i * 3 - 100);
}

TEST(TQvtHuffmanValueSetTest, OddWeightsEndInATreeOrAnError)
{
    // Zero and negative weights never come from an encoder; building must end.
    const std::vector<std::vector<std::int32_t>> rows = {
        {0, 0, 0}, {0, 1, 1}, {-5, 1, 1, 1}, {INT32_MAX, INT32_MAX, 1}, {-100000, 1, 1, 1, 1, 1, 1, 1},
        {1 << 30, 1 << 30, 1 << 30},
    };
    for (std::size_t r = 0; r < rows.size(); ++r) {
        SCOPED_TRACE(r);
        TQvtHuffmanValueSet set;
        for (std::size_t i = 0; i < rows[r].size(); ++i)
            set.Add(static_cast<std::int32_t>(i), rows[r][i]);
        try {
            set.BuildTree();
        } catch (const upd::Exception&) {
        }
    }
}

TEST(TQvtHuffmanValueSetTest, RepresentativeValueOrdersTheSubtree)
{
    TQvtHuffmanValueSet set;
    for (auto [v, w] : {std::pair{1, 1}, {2, 2}, {3, 3}})
        set.Add(v, w);
    set.BuildTree();
    auto& root = const_cast<TQvtHuffmanArrayNode&>(*set.Root());
    EXPECT_EQ(root.AsText(), "{ N(3:3) , { N(1:1) , N(2:2) } }");
    // Root order: 3 (weight 3) against the pair (weight 3): the larger value first.
    EXPECT_EQ(root.RepresentativeValue(), 3);
    EXPECT_EQ(root.AsText(), "{ N(3:3) , { N(2:2) , N(1:1) } }");
    root.Children.pop_back();
    EXPECT_EQ(Message([&] { root.RepresentativeValue(); }), "Boom");
}

TEST(TQvtHuffmanValueSetTest, ReleasedTreeIsMadeAgainOnRequest)
{
    // A decoder frees the tree after building its tables; codes, node objects
    // and decoding must still match a set that kept it.
    std::mt19937 random(5);
    for (int values : {2, 3, 50, 5000}) {
        SCOPED_TRACE(values);
        TQvtHuffmanValueSet kept, released, decodingOnly;
        for (int i = 0; i < values; ++i) {
            std::int32_t value = static_cast<std::int32_t>(random() % 1000000) - 500000;
            std::int32_t weight = 1 + static_cast<std::int32_t>(random() % (i % 5 == 0 ? 5000 : 4));
            kept.Add(value, weight);
            released.Add(value, weight);
            decodingOnly.Add(value, weight);
        }
        kept.BuildTree();
        released.BuildTree();
        released.ReleaseTree();
        released.ReleaseTree();
        decodingOnly.BuildTree();
        decodingOnly.KeepOnlyDecoding();
        std::vector<std::uint8_t> data(512);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(random());
        TQvtBitReader a(data.data(), data.size()), b(data.data(), data.size()), c(data.data(), data.size());
        for (int i = 0; i < 50; ++i) {
            const std::int32_t expected = kept.Decode(b);
            ASSERT_EQ(released.Decode(a), expected);
            ASSERT_EQ(decodingOnly.Decode(c), expected);
        }
        EXPECT_EQ(decodingOnly.Count(), 0);
        EXPECT_EQ(decodingOnly.Root(), nullptr);
        ASSERT_EQ(released.Count(), kept.Count());
        for (int i = 0; i < kept.Count(); ++i)
            ASSERT_EQ(released.Codes(i), kept.Codes(i));
        EXPECT_EQ(released.Root()->AsText(), kept.Root()->AsText());
    }
}
