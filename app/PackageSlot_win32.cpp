#include "app/PackageSlot_win32.h"

#include <cstdint>

namespace {

// The slot that `updkit build` fills in its copy of this program: the marker
// it looks for (package::ImageSlotMarker, written out here as the only place
// that holds it as data), then the package's digest, zero until then.
// Volatile, so that the compiler reads the bytes that the mapped image holds
// instead of the zeros it was given; kept by the linker through its use below.
extern "C" __attribute__((used)) const volatile std::uint8_t upd_package_slot[upd::package::kImageSlotSize] = {
    0xA2, 0x9C, 0x7F, 0xEF, 0x20, 0x16, 0xE5, 0xF1, 0x2E, 0x60, 0x5B, 0x43, 0xCC, 0x7A, 0xE1, 0xE5,
};

} // namespace

namespace upd::app {

std::optional<package::TSlotDigest> OwnPackageIdentity()
{
    std::uint8_t slot[package::kImageSlotSize];
    for (std::size_t i = 0; i < package::kImageSlotSize; ++i)
        slot[i] = upd_package_slot[i];
    return package::SlotDigest(slot);
}

} // namespace upd::app
