#include "package/ImageSlot.h"

#include <algorithm>
#include <cstring>

#include "base/Exception.h"
#include "package/Md5Hash.h"

namespace upd::package {

TSlotMarker ImageSlotMarker()
{
    // Through a volatile seed: a compiler that saw the bytes as constants
    // could place them in the tool's or the tests' data, where a builder
    // reading those programs would find a second marker.
    volatile std::uint8_t seed = 0x3D;
    TSlotMarker marker{};
    std::uint8_t value = seed;
    for (std::size_t i = 0; i < marker.size(); ++i) {
        value = static_cast<std::uint8_t>(value * 5 + 0x71 + i);
        marker[i] = value;
    }
    return marker;
}

std::int64_t FindImageSlot(const std::uint8_t* data, std::size_t size)
{
    const TSlotMarker marker = ImageSlotMarker();
    if (size < kImageSlotSize)
        return -1;
    const std::uint8_t* end = data + size - kImageSlotSize + marker.size();
    const std::uint8_t* first = std::search(data, end, marker.begin(), marker.end());
    if (first == end)
        return -1;
    if (std::search(first + 1, end, marker.begin(), marker.end()) != end)
        throw Exception("Programul de baza are mai multe locuri pentru amprenta pachetului");
    return first - data;
}

TSlotDigest PackageIdentity(const std::uint8_t* package, std::size_t packageSize)
{
    THashAlgMD5Engine::TContext context;
    THashAlgMD5Engine::Init(context);
    THashAlgMD5Engine::Update(context, package, packageSize);
    TSlotDigest digest{};
    THashAlgMD5Engine::Final(context, digest.data());
    return digest;
}

std::optional<TSlotDigest> SlotDigest(const std::uint8_t* slot)
{
    TSlotDigest digest{};
    std::memcpy(digest.data(), slot + kImageSlotMarkerSize, digest.size());
    if (std::all_of(digest.begin(), digest.end(), [](std::uint8_t b) { return b == 0; }))
        return std::nullopt;
    return digest;
}

bool WriteImageSlot(std::uint8_t* image, std::size_t size, const TSlotDigest& digest)
{
    const std::int64_t slot = FindImageSlot(image, size);
    if (slot < 0)
        return false;
    std::copy(digest.begin(), digest.end(), image + slot + static_cast<std::int64_t>(kImageSlotMarkerSize));
    return true;
}

namespace {

std::uint32_t Le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

} // namespace

void UpdatePeChecksum(std::vector<std::uint8_t>& image)
{
    // The field sits 64 bytes into the optional header in both PE32 and PE32+.
    if (image.size() < 64 || image[0] != 'M' || image[1] != 'Z')
        return;
    const std::uint64_t pe = Le32(image.data() + 0x3C);
    if (pe + 24 + 68 > image.size() || std::memcmp(image.data() + pe, "PE\0\0", 4) != 0)
        return;
    const std::size_t field = static_cast<std::size_t>(pe + 24 + 64);
    if (Le32(image.data() + field) == 0)
        return;
    // The system's algorithm: 16-bit words summed with end-around carry, the
    // field itself counted as zero, then the file's length added.
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < image.size(); i += 2) {
        if (i >= field && i < field + 4)
            continue;
        std::uint32_t word = image[i];
        if (i + 1 < image.size())
            word |= static_cast<std::uint32_t>(image[i + 1]) << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    const std::uint32_t checksum = static_cast<std::uint32_t>(sum) + static_cast<std::uint32_t>(image.size());
    for (int b = 0; b < 4; ++b)
        image[field + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(checksum >> (8 * b));
}

TSlotState SlotStateOf(const std::uint8_t* image, std::size_t size, const std::uint8_t* package,
                       std::size_t packageSize)
{
    const std::int64_t slot = FindImageSlot(image, size);
    if (slot < 0)
        return TSlotState::Absent;
    const std::optional<TSlotDigest> digest = SlotDigest(image + slot);
    if (!digest)
        return TSlotState::Empty;
    return *digest == PackageIdentity(package, packageSize) ? TSlotState::Matches : TSlotState::Differs;
}

const char* SlotStateName(TSlotState state) noexcept
{
    switch (state) {
    case TSlotState::Absent: return "absent";
    case TSlotState::Empty: return "empty";
    case TSlotState::Matches: return "matches";
    case TSlotState::Differs: return "differs";
    }
    return "absent";
}

} // namespace upd::package
