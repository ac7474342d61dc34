// A value set built from hostile (value, weight) pairs, then decoding hostile
// bits with it: the table decoder must agree with a plain tree walk on every
// value and every error, and the encoder must reproduce the bits it decoded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "patch/BitStream.h"
#include "patch/Huffman.h"

using namespace upd::patch;

namespace {

std::int32_t WalkDecode(const TQvtHuffmanValueSet& set, TQvtBitStream& bits)
{
    const TQvtHuffmanBaseNode* node = set.Root();
    while (auto* inner = dynamic_cast<const TQvtHuffmanArrayNode*>(node))
        node = inner->Children[bits.ReadBit() ? 1 : 0].get();
    return static_cast<const TQvtHuffmanFinalNode*>(node)->Value;
}

// Reads the pairs of the set's table; without a set they are only skipped.
void ReadTable(TQvtBitStream& bits, TQvtHuffmanValueSet* set)
{
    std::int32_t pairs = bits.ReadNumber() % 300;
    for (std::int32_t i = 0; i < pairs; ++i) {
        std::int32_t value = bits.ReadNumber();
        std::int32_t weight = bits.ReadNumber();
        if (set)
            set->Add(value, weight);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> bytes(data, data + size);
    TQvtMemoryStream stream(bytes);
    TQvtBitStream bits(stream);
    TQvtHuffmanValueSet set;
    try {
        ReadTable(bits, &set);
        set.BuildTree();
    } catch (const upd::Exception&) {
        return 0;
    }
    for (int i = 0; i < set.Count(); ++i)
        if (set.Codes(i).size() != set.CodeLength(set.Value(i)))
            std::abort();

    TQvtMemoryStream slowStream(bytes);
    TQvtBitStream slow(slowStream);
    ReadTable(slow, nullptr);
    TQvtBitReader reader(bytes.data(), bytes.size(), bits.BitPosition());
    std::vector<std::int32_t> decoded;
    for (;;) {
        std::string fastError, slowError, readerError;
        std::int32_t a = 0, b = 0, c = 0;
        try {
            c = set.Decode(reader);
        } catch (const upd::Exception& e) {
            readerError = e.what();
        }
        try {
            a = set.Decode(bits);
        } catch (const upd::Exception& e) {
            fastError = e.what();
        }
        try {
            b = WalkDecode(set, slow);
        } catch (const upd::Exception& e) {
            slowError = e.what();
        }
        if (fastError != slowError || a != b || readerError != slowError || c != b)
            std::abort();
        if (slowError.empty() && reader.BitPosition() != slow.BitPosition())
            std::abort();
        if (!fastError.empty())
            break;
        decoded.push_back(a);
    }

    // Writing the decoded values again gives the same bits.
    TQvtMemoryStream rewritten;
    {
        TQvtBitStream writer(rewritten);
        for (std::int32_t value : decoded)
            set.WriteCode(writer, value);
    }
    TQvtMemoryStream original(bytes);
    TQvtBitStream a(original);
    ReadTable(a, nullptr);
    rewritten.Seek(0);
    TQvtBitStream b(rewritten);
    std::size_t codeBits = 0;
    for (std::int32_t value : decoded)
        codeBits += set.CodeLength(value);
    for (std::size_t i = 0; i < codeBits; ++i)
        if (a.ReadBit() != b.ReadBit())
            std::abort();
    return 0;
}
