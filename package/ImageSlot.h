// The package's identity carried inside the wizard's own program image.
//
// A running program may be renamed and another file put under its name, so
// a package read from "the program's file" may belong to another program. The
// wizard therefore carries, in a static array of its image (the slot), the
// digest of the package that was appended to it: `updkit build` writes it into
// its copy of the program before appending the package, a signature made
// afterwards covers it, and the running wizard reads it from its own mapped
// image, never from a file.
//
// Layout of the slot (kImageSlotSize bytes): the 16 marker bytes that the
// builder looks for, then the 16 bytes of the MD5 digest of the package's
// first PackageSize bytes (header and update description; the header's
// digests bind the rest). A digest of 16 zero bytes means an empty slot: the
// program was given no package by a builder that knows of the slot.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace upd::package {

inline constexpr std::size_t kImageSlotMarkerSize = 16;
inline constexpr std::size_t kImageSlotDigestSize = 16;
inline constexpr std::size_t kImageSlotSize = kImageSlotMarkerSize + kImageSlotDigestSize;

using TSlotMarker = std::array<std::uint8_t, kImageSlotMarkerSize>;
using TSlotDigest = std::array<std::uint8_t, kImageSlotDigestSize>;

/// The marker. Made at run time, so that no program but the wizard holds
/// these bytes as data (the builder's own image would otherwise carry them).
TSlotMarker ImageSlotMarker();

/// Offset of the slot in a program image, or -1 when it has none. Raises
/// Exception when the marker occurs twice (the builder could not tell which
/// one the program reads).
std::int64_t FindImageSlot(const std::uint8_t* data, std::size_t size);

/// The identity of a package: the digest of its first PackageSize bytes.
TSlotDigest PackageIdentity(const std::uint8_t* package, std::size_t packageSize);

/// The digest a slot holds; nothing for an empty slot.
std::optional<TSlotDigest> SlotDigest(const std::uint8_t* slot);

/// Writes `digest` into the slot of the program image at `image` (its first
/// `size` bytes are searched); false when it has none. A nonzero PE checksum
/// is not made here: see UpdatePeChecksum.
bool WriteImageSlot(std::uint8_t* image, std::size_t size, const TSlotDigest& digest);

/// Recomputes the PE checksum of a whole file when the image has one (a
/// nonzero field); an image without one, or bytes that are no PE image, stay
/// as they are.
void UpdatePeChecksum(std::vector<std::uint8_t>& image);

/// How a program's slot stands to the package appended to it.
enum class TSlotState { Absent, Empty, Matches, Differs };
TSlotState SlotStateOf(const std::uint8_t* image, std::size_t size, const std::uint8_t* package,
                       std::size_t packageSize);
/// "absent", "empty", "matches", "differs".
const char* SlotStateName(TSlotState state) noexcept;

} // namespace upd::package
