// Hostile patch files that once cost gigabytes or hours, made here instead of
// stored: each is the compressed patch file, byte for byte what a damaged or
// malicious package could carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include "patch/BitStream.h"
#include "patch/PatchHeader.h"
#include "patch/PatchWriter.h"
#include "patch/UnPatchEngine.h"

namespace upd::patch::crafted {

using TBytes = std::vector<std::uint8_t>;

/// The worked example image: V = 2, four instructions, ABCxyzFG from both.
inline const TBytes& ExampleImage()
{
    static const TBytes image = {
        0x06, 0x19, 0x51, 0x76, 0x74, 0x4d, 0x75, 0x6c, 0x74, 0x69, 0x56, 0x65, 0x72, 0x73, 0x69, 0x6f, 0x6e,
        0x50, 0x61, 0x74, 0x63, 0x68, 0x46, 0x69, 0x6c, 0x65, 0x1a, 0x06, 0x0d, 0x66, 0x69, 0x72, 0x73, 0x74,
        0x0d, 0x0a, 0x73, 0x65, 0x63, 0x6f, 0x6e, 0x64, 0x06, 0x00, 0x02, 0x04, 0x13, 0x01, 0x21, 0x11, 0x71,
        0x21, 0x51, 0x2d, 0x54, 0x4e, 0x75, 0xfd, 0x12, 0x9f, 0x6b, 0xa0, 0x78, 0x79, 0x7a};
    return image;
}

/// A zlib stream of `image` followed by `zeros` zero bytes, made without
/// compressing them one by one: a raw deflate of 1 MiB of zeros ends with a
/// full flush (byte-aligned, no back references out of it), so it can be
/// repeated; the Adler-32 of zeros follows from their count alone.
inline TBytes CompressWithZeros(const TBytes& image, std::uint64_t zeros)
{
    auto deflateRaw = [](const TBytes& in, int flush, z_stream& zs) {
        TBytes out(deflateBound(&zs, static_cast<uLong>(in.size())) + 64);
        zs.next_in = const_cast<Bytef*>(in.data());
        zs.avail_in = static_cast<uInt>(in.size());
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        deflate(&zs, flush);
        out.resize(out.size() - zs.avail_out);
        return out;
    };
    const std::uint64_t kBlock = 1 << 20;
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    TBytes head = deflateRaw(image, Z_FULL_FLUSH, zs);
    TBytes block = deflateRaw(TBytes(kBlock, 0), Z_FULL_FLUSH, zs);
    TBytes rest = deflateRaw(TBytes(zeros % kBlock, 0), Z_FINISH, zs);
    deflateEnd(&zs);

    TBytes file = {0x78, 0xDA};
    file.insert(file.end(), head.begin(), head.end());
    for (std::uint64_t i = 0; i < zeros / kBlock; ++i)
        file.insert(file.end(), block.begin(), block.end());
    file.insert(file.end(), rest.begin(), rest.end());
    uLong adler = adler32(adler32(0, nullptr, 0), image.data(), static_cast<uInt>(image.size()));
    // Zeros leave the first sum alone and add it to the second once per byte.
    std::uint64_t a = adler & 0xFFFF, b = adler >> 16;
    b = (b + a * (zeros % 65521)) % 65521;
    adler = static_cast<uLong>(b << 16 | a);
    for (int shift = 24; shift >= 0; shift -= 8)
        file.push_back(static_cast<std::uint8_t>(adler >> shift));
    return file;
}

/// 1 MB that inflates to 1 GiB: a sound patch, then zeros.
inline TBytes InflatesToOneGiB() { return CompressWithZeros(ExampleImage(), std::uint64_t{1} << 30); }

/// A header of tagged values as a patch image starts.
inline TBytes Header(const std::string& versions, std::int32_t count)
{
    TQvtTaggedWriter header;
    header.WriteText(kPatchMagic);
    header.WriteText(versions);
    header.WriteText("");
    header.WriteInteger(count);
    return header.Data();
}

/// About 130 KB: a table of 2^28 - 1 values, each a delta of 1 (a one-bit
/// symbol and one raw bit) and a weight of 0 (a one-bit symbol): 100 MB of
/// bits that repeat every three bytes.
inline TBytes HugeTable()
{
    TQvtMemoryStream stream;
    TBytes header = Header("a", 1 << 28);
    stream.Write(header.data(), header.size());
    {
        TQvtBitStream bits(stream);
        bits.WriteNumber(2); // LengthCodes: symbols 0 and 1, codes 0 and 1
        bits.WriteNumber(0);
        bits.WriteNumber(1);
        bits.WriteNumber(1);
        bits.WriteNumber(1);
        bits.WriteNumber((1 << 28) - 1); // CopyLengths
        // The numbers above take 68 bits; four entries of three bits bring
        // the entries to a byte boundary, and bytes carry eight each.
        for (int entry = 0; entry < 4; ++entry) {
            bits.WriteBit(true);  // symbol 1
            bits.WriteBit(true);  // its raw bit: a delta of 1
            bits.WriteBit(false); // symbol 0: a weight of 0
        }
    }
    const std::uint8_t pattern[3] = {0xDB, 0x6D, 0xB6}; // 110 110 110 ...
    TBytes image = stream.Release();
    image.reserve(image.size() + (100u << 20));
    for (std::size_t i = 0; i < (100u << 20) / 3; ++i)
        image.insert(image.end(), pattern, pattern + 3);
    return CompressPatchImage(image);
}

/// About 20 KB: twenty million empty version lines.
inline TBytes ManyEmptyVersions()
{
    TBytes image = Header(std::string(20000000, '\r'), 4);
    image.insert(image.end(), ExampleImage().begin() + 46, ExampleImage().end());
    return CompressPatchImage(image);
}

/// A patch of `copies` Copy instructions of `length` bytes, each from the
/// start of the old file, with empty Dumps between them (V = 1).
inline TBytes RepeatedCopies(int copies, std::int32_t length)
{
    TQvtUnPatchEngine writer;
    writer.Versions = {"old"};
    for (int i = 0; i < copies; ++i) {
        if (i > 0)
            writer.Add(std::make_unique<TQvtUnPatchDumpInstruction>());
        writer.Add(std::make_unique<TQvtUnPatchCopyInstruction>(length, std::vector<std::int32_t>{0}));
    }
    return CompressPatchImage(WritePatchImage(writer));
}

/// 144 bytes that write 97.7 GiB from a 1 MiB old file.
inline TBytes WritesNinetySevenGiB() { return RepeatedCopies(100000, 1 << 20); }

} // namespace upd::patch::crafted
