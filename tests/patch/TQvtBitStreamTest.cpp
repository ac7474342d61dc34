#include <gtest/gtest.h>

#include <random>

#include "base/Exception.h"
#include "patch/BitStream.h"

using namespace upd::patch;

namespace {

std::vector<std::uint8_t> Written(void (*write)(TQvtBitStream&))
{
    TQvtMemoryStream stream;
    {
        TQvtBitStream bits(stream);
        write(bits);
    }
    return stream.Data();
}

} // namespace

TEST(TQvtBitStreamTest, ReadBitTakesMostSignificantFirst)
{
    TQvtMemoryStream stream({0xA5});
    TQvtBitStream bits(stream);
    std::vector<bool> got;
    for (int i = 0; i < 8; ++i)
        got.push_back(bits.ReadBit());
    EXPECT_EQ(got, (std::vector<bool>{1, 0, 1, 0, 0, 1, 0, 1}));
    EXPECT_THROW(bits.ReadBit(), upd::Exception);
}

TEST(TQvtBitStreamTest, ReadNumberRows)
{
    struct TRow {
        std::vector<std::uint8_t> bytes;
        std::int32_t value;
    } rows[] = {
        {{0x15}, 5},
        {{0x91}, -1},
        {{0xA0, 0x10}, -1}, // a longer code than needed
        {{0x0F}, 0},
        {{0x80}, 0}, // negative zero
        {{0x7F, 0xFF, 0xFF, 0xFF}, 268435455},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        TQvtMemoryStream stream(row.bytes);
        TQvtBitStream bits(stream);
        EXPECT_EQ(bits.ReadNumber(), row.value);
    }
}

TEST(TQvtBitStreamTest, ZeroConsumesOnlyFourBits)
{
    TQvtMemoryStream stream({0x05});
    TQvtBitStream bits(stream);
    EXPECT_EQ(bits.ReadNumber(), 0);
    EXPECT_EQ(bits.ReadBitsLsbFirst(4), 0b1010u); // 0 1 0 1, first bit weight 1
}

TEST(TQvtBitStreamTest, ReadRawSkipsTheRestOfTheCurrentByte)
{
    TQvtMemoryStream stream({0x0F, 0x11, 0x22, 0x80});
    TQvtBitStream bits(stream);
    EXPECT_EQ(bits.ReadNumber(), 0);
    std::uint8_t raw[2] = {};
    EXPECT_EQ(bits.ReadRaw(raw, 2), 2u);
    EXPECT_EQ(raw[0], 0x11);
    EXPECT_EQ(raw[1], 0x22);
    EXPECT_TRUE(bits.ReadBit());
    EXPECT_EQ(bits.ReadRaw(raw, 2), 0u); // short, not an error
}

TEST(TQvtBitStreamTest, EmptyStream)
{
    TQvtMemoryStream stream;
    TQvtBitStream bits(stream);
    std::uint8_t raw[1];
    EXPECT_EQ(bits.ReadRaw(raw, 1), 0u);
    try {
        bits.ReadBit();
        FAIL();
    } catch (const upd::Exception& e) {
        EXPECT_STREQ(e.what(), "Incerci sa citesti DUPA eof");
    }
}

TEST(TQvtBitStreamTest, WriteNumberAndFlushOnDestruction)
{
    EXPECT_EQ(Written([](TQvtBitStream& b) { b.WriteNumber(5); }), (std::vector<std::uint8_t>{0x15}));
    EXPECT_EQ(Written([](TQvtBitStream& b) { b.WriteNumber(-1); }), (std::vector<std::uint8_t>{0x91}));
    EXPECT_EQ(Written([](TQvtBitStream& b) { b.WriteNumber(0); }), (std::vector<std::uint8_t>{0x00}));
    EXPECT_EQ(Written([](TQvtBitStream& b) {
                  b.WriteBit(true);
                  std::uint8_t raw[] = {0xAB};
                  b.WriteRaw(raw, 1);
              }),
              (std::vector<std::uint8_t>{0x80, 0xAB}));
}

TEST(TQvtBitStreamTest, NumbersRoundTrip)
{
    const std::int32_t values[] = {0, 1, -1, 15, 16, -255, 4096, 65535, -1000000, 268435455, -268435455};
    TQvtMemoryStream stream;
    {
        TQvtBitStream bits(stream);
        for (auto v : values)
            bits.WriteNumber(v);
    }
    stream.Seek(0);
    TQvtBitStream bits(stream);
    for (auto v : values)
        EXPECT_EQ(bits.ReadNumber(), v);
    TQvtMemoryStream other;
    TQvtBitStream writer(other);
    EXPECT_THROW(writer.WriteNumber(268435456), upd::Exception);
}

TEST(TQvtBitStreamTest, PeekAndSkipMatchReadBit)
{
    const std::vector<std::uint8_t> data = {0xC3, 0x5A, 0x0F};
    for (unsigned first = 0; first < 24; ++first) {
        for (unsigned count = 1; count <= 12; ++count) {
            SCOPED_TRACE(first * 100 + count);
            TQvtMemoryStream a(data), b(data);
            TQvtBitStream peek(a), plain(b);
            peek.SkipBits(first);
            for (unsigned i = 0; i < first; ++i)
                plain.ReadBit();
            unsigned available = 0;
            std::uint32_t got = peek.PeekBits(count, available);
            EXPECT_EQ(available, std::min(count, 24 - first));
            std::uint32_t expected = 0;
            for (unsigned i = 0; i < count; ++i)
                expected = expected << 1 | (first + i < 24 ? plain.ReadBit() : 0);
            EXPECT_EQ(got, expected);
        }
    }
}

TEST(TQvtBitReaderTest, ReadsLikeTheBitStream)
{
    // Every operation of the word-wide reader against the byte-wise stream, at
    // every distance from the end (the last eight bytes take the slow path).
    std::mt19937 random(11);
    for (std::size_t size : {0u, 1u, 3u, 7u, 8u, 9u, 15u, 64u, 300u}) {
        SCOPED_TRACE(size);
        std::vector<std::uint8_t> data(size);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(random());
        TQvtMemoryStream stream(data);
        TQvtBitStream bits(stream);
        TQvtBitReader reader(data.data(), data.size());
        for (int step = 0; step < 400; ++step) {
            unsigned op = random() % 4;
            unsigned count = 1 + random() % (op == 2 ? 64 : 32);
            std::string expectedError, actualError;
            std::uint64_t expected = 0, actual = 0;
            unsigned expectedAvailable = 0, actualAvailable = 0;
            try {
                if (op == 0)
                    expected = bits.ReadBit();
                else if (op == 1)
                    expected = static_cast<std::uint32_t>(bits.ReadNumber());
                else if (op == 2)
                    expected = bits.ReadBitsLsbFirst(count);
                else
                    expected = bits.PeekBits(count, expectedAvailable);
            } catch (const upd::Exception& e) {
                expectedError = e.what();
            }
            try {
                if (op == 0)
                    actual = reader.ReadBit();
                else if (op == 1)
                    actual = static_cast<std::uint32_t>(reader.ReadNumber());
                else if (op == 2)
                    actual = reader.ReadBitsLsbFirst(count);
                else
                    actual = reader.PeekBits(count, actualAvailable);
            } catch (const upd::Exception& e) {
                actualError = e.what();
            }
            SCOPED_TRACE(testing::Message() << "step " << step << " op " << op << " count " << count);
            ASSERT_EQ(actualError, expectedError);
            if (!expectedError.empty())
                break; // the stream's position after a failed read is not part of the contract
            ASSERT_EQ(actual, expected);
            ASSERT_EQ(actualAvailable, expectedAvailable);
            if (op == 3) {
                unsigned skip = random() % (expectedAvailable + 1);
                bits.SkipBits(skip);
                reader.SkipBits(skip);
            }
            ASSERT_EQ(reader.BitPosition(), bits.BitPosition());
            ASSERT_EQ(reader.BytePosition(), stream.Position());
        }
    }
}
