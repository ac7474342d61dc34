#include "package/PackageHeader.h"

#include <gtest/gtest.h>

#include <set>

namespace upd::package {

TEST(TPatchHeaderTest, SignatureIsFixedAndVaried)
{
    // Kept inverted: the test program must not carry the signature itself, or the
    // process-wide engine test would find it in this program's image.
    const std::uint8_t inverted[kPackageSignatureSize] = {
        0x65, 0x34, 0x64, 0x3C, 0x40, 0x9E, 0xA7, 0x0B, 0x09, 0x12, 0xAD, 0x70, 0x76, 0x6B,
        0x59, 0x8A, 0xC1, 0xD6, 0x3B, 0x71, 0x7E, 0x37, 0x03, 0x6D, 0x90, 0x06, 0x53, 0xC5,
        0xE4, 0x7C, 0x20, 0x0E, 0x3F, 0x5F, 0xCF, 0xD7, 0x33, 0x55, 0xFC, 0xE0};
    TPackageSignature expected;
    for (std::size_t i = 0; i < expected.size(); ++i)
        expected[i] = static_cast<std::uint8_t>(~inverted[i]);
    EXPECT_EQ(GeneratePackageSignature(), expected);
    // Runs of zeros fill every program image; a signature must not resemble them.
    const TPackageSignature signature = GeneratePackageSignature();
    EXPECT_EQ(std::set<std::uint8_t>(signature.begin(), signature.end()).size(), kPackageSignatureSize);
}

TEST(TPatchHeaderTest, FieldsLieAtTheirOffsets)
{
    TPatchHeader header;
    header.Signature = GeneratePackageSignature();
    header.Title = "Bun g@asit";
    header.Description = "Se va";
    header.PackageSize = 7360;
    header.Unused = {0, 7360, 246784, 1400000};
    header.VolumeCount = 2;
    header.PackageDigest = "0123456789ABCDEF0123456789ABCDEF";
    header.VolumeDigests.fill(std::string(1, '\0'));
    header.VolumeDigests[1] = "V2";
    header.VolumeSizes[0] = 0x01020304;
    header.VolumeSizes[9] = -1;
    const auto bytes = header.Serialize();

    struct Row {
        std::size_t offset;
        std::vector<std::uint8_t> bytes;
    };
    const Row rows[] = {
        {40, {10, 'B', 'u', 'n'}},
        {40 + 11, {0xFF, 0xFF}},
        {168, {0xFF, 5, 'S'}},
        {298, {0xC0, 0x1C, 0x00, 0x00}},
        {306, {0xC0, 0x1C, 0x00, 0x00, 0x00, 0xC4, 0x03, 0x00}},
        {318, {2, 0, 0, 0, 32, '0', '1'}},
        {322 + 33, {0xFF}},
        {402, {0xFF, 1, 0, 0xFF}},
        {403 + 81, {2, 'V', '2', 0xFF}},
        {1212, {0xFF, 0x04, 0x03, 0x02, 0x01}},
        {1249, {0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.offset);
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + row.offset, bytes.begin() + row.offset + row.bytes.size()),
                  row.bytes);
    }

    const TPatchHeader read = TPatchHeader::Parse(bytes.data());
    EXPECT_EQ(read.Signature, header.Signature);
    EXPECT_EQ(read.Title, header.Title);
    EXPECT_EQ(read.Description, header.Description);
    EXPECT_EQ(read.PackageSize, 7360);
    EXPECT_EQ(read.Unused, header.Unused);
    EXPECT_EQ(read.VolumeCount, 2);
    EXPECT_EQ(read.PackageDigest, header.PackageDigest);
    EXPECT_EQ(read.VolumeDigests, header.VolumeDigests);
    EXPECT_EQ(read.VolumeSizes, header.VolumeSizes);
    EXPECT_EQ(PackageSizeAt(bytes.data()), 7360);
}

TEST(TPatchHeaderTest, OverlongTextsStayInsideTheirRoom)
{
    TPatchHeader header;
    header.Title = std::string(200, 't');
    header.PackageDigest = std::string(90, 'd');
    auto bytes = header.Serialize();
    EXPECT_EQ(bytes[40], 128);
    EXPECT_EQ(bytes[169], 0); // the description's length byte is untouched by the title
    EXPECT_EQ(bytes[322], 80);
    // A length byte beyond the capacity reads only the room the field has.
    bytes[40] = 255;
    bytes[322] = 200;
    const TPatchHeader read = TPatchHeader::Parse(bytes.data());
    EXPECT_EQ(read.Title, std::string(128, 't'));
    EXPECT_EQ(read.PackageDigest, std::string(80, 'd'));
    EXPECT_EQ(read.Description, "");
}

} // namespace upd::package
