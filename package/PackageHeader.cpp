// Package header encoding (layout in PackageHeader.h).
#include "package/PackageHeader.h"

#include <algorithm>

#include "base/Cp1250.h"

namespace upd::package {

namespace {

// Read through a volatile so that the optimiser cannot compute the signature
// at build time and leave a copy of it in the program image.
volatile std::uint8_t kSignatureSeed = 0xFD;

constexpr std::size_t kTitleOffset = 40;
constexpr std::size_t kDescriptionOffset = 169;
constexpr std::size_t kPackageSizeOffset = 298;
constexpr std::size_t kUnusedOffset = 302;
constexpr std::size_t kVolumeCountOffset = 318;
constexpr std::size_t kPackageDigestOffset = 322;
constexpr std::size_t kVolumeDigestsOffset = 403;
constexpr std::size_t kVolumeSizesOffset = 1213;

std::int32_t Int32At(const std::uint8_t* p)
{
    return static_cast<std::int32_t>(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                                     std::uint32_t(p[3]) << 24);
}

void PutInt32(std::uint8_t* p, std::int32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i));
}

std::string ShortStringAt(const std::uint8_t* p, std::size_t capacity)
{
    std::size_t length = std::min<std::size_t>(p[0], capacity);
    return Cp1250ToUtf8(std::string_view(reinterpret_cast<const char*>(p + 1), length));
}

// Stored as code page 1250, cut to the capacity in that form.
void PutShortString(std::uint8_t* p, std::size_t capacity, const std::string& utf8)
{
    const std::string text = Utf8ToCp1250(utf8);
    std::size_t length = std::min(text.size(), capacity);
    p[0] = static_cast<std::uint8_t>(length);
    std::copy_n(text.begin(), length, p + 1);
    std::fill(p + 1 + length, p + 1 + capacity, 0xFF);
}

} // namespace

TPackageSignature GeneratePackageSignature()
{
    TPackageSignature signature{};
    unsigned b = kSignatureSeed;
    for (auto& byte : signature) {
        b = ((b * 8) % 256) ^ ((7 * (b / 2)) % 256);
        byte = static_cast<std::uint8_t>(b);
    }
    return signature;
}

std::int32_t PackageSizeAt(const std::uint8_t* header)
{
    return Int32At(header + kPackageSizeOffset);
}

TPatchHeader TPatchHeader::Parse(const std::uint8_t* bytes)
{
    TPatchHeader header;
    std::copy_n(bytes, kPackageSignatureSize, header.Signature.begin());
    header.Title = ShortStringAt(bytes + kTitleOffset, kTitleCapacity);
    header.Description = ShortStringAt(bytes + kDescriptionOffset, kTitleCapacity);
    header.PackageSize = Int32At(bytes + kPackageSizeOffset);
    for (std::size_t i = 0; i < header.Unused.size(); ++i)
        header.Unused[i] = Int32At(bytes + kUnusedOffset + 4 * i);
    header.VolumeCount = Int32At(bytes + kVolumeCountOffset);
    header.PackageDigest = ShortStringAt(bytes + kPackageDigestOffset, kDigestCapacity);
    for (std::size_t i = 0; i < kMaxVolumes; ++i) {
        const std::uint8_t* digest = bytes + kVolumeDigestsOffset + i * (kDigestCapacity + 1);
        header.VolumeDigests[i] = ShortStringAt(digest, kDigestCapacity);
        header.VolumeSizes[i] = Int32At(bytes + kVolumeSizesOffset + 4 * i);
    }
    return header;
}

std::array<std::uint8_t, kPatchHeaderSize> TPatchHeader::Serialize() const
{
    std::array<std::uint8_t, kPatchHeaderSize> bytes{};
    std::uint8_t* p = bytes.data();
    std::copy(Signature.begin(), Signature.end(), p);
    PutShortString(p + kTitleOffset, kTitleCapacity, Title);
    PutShortString(p + kDescriptionOffset, kTitleCapacity, Description);
    PutInt32(p + kPackageSizeOffset, PackageSize);
    for (std::size_t i = 0; i < Unused.size(); ++i)
        PutInt32(p + kUnusedOffset + 4 * i, Unused[i]);
    PutInt32(p + kVolumeCountOffset, VolumeCount);
    PutShortString(p + kPackageDigestOffset, kDigestCapacity, PackageDigest);
    for (std::size_t i = 0; i < kMaxVolumes; ++i) {
        PutShortString(p + kVolumeDigestsOffset + i * (kDigestCapacity + 1), kDigestCapacity, VolumeDigests[i]);
        PutInt32(p + kVolumeSizesOffset + 4 * i, VolumeSizes[i]);
    }
    return bytes;
}

} // namespace upd::package
