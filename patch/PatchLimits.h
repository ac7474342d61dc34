// What one patch may make a rebuild spend, and the messages of patches that
// are damaged or misapplied.
#pragma once

#include <cstdint>

#include "base/Exception.h"

namespace upd::patch {

/// Messages of damaged or misapplied patches.
inline constexpr const char* kNegativeLength = "Patch deteriorat: lungime negativa (%d)";
inline constexpr const char* kMissingLiterals = "Patch deteriorat: lipsesc octetii unei instructiuni Dump (%d)";
inline constexpr const char* kOutsideOld = "Patch deteriorat: copiere in afara fisierului vechi (pozitia %d)";
inline constexpr const char* kNoVersions = "Patch-ul nu numeste nicio versiune veche";
inline constexpr const char* kBadVersionIndex = "Versiunea %d nu este acoperita de patch";
inline constexpr const char* kTooManyVersions = "Patch deteriorat: prea multe versiuni vechi (%d)";
inline constexpr const char* kTooManyInstructions = "Patch deteriorat: prea multe instructiuni (%d)";
inline constexpr const char* kTableTooLarge = "Patch deteriorat: tabel de coduri prea mare (%d valori)";
inline constexpr const char* kOutputTooLarge = "Patch-ul ar face un fisier nou mai mare de %d octeti";
inline constexpr const char* kImageTooLarge = "Patch deteriorat: decomprimat depaseste %d octeti";
/// A patch whose magic is wrong; %s is the patch file's path.
inline constexpr const char* kPatchChanged = "Fisierul \"%s\" a fost modificat si nu mai poate fi utilizat.";

/// What one patch may make the engine spend. Every bound follows from the
/// largest new file the caller accepts: the update stage knows the new file's
/// size exactly and passes it; the defaults suit a tool that does not know it.
struct TQvtUnPatchLimits {
    /// The new file may not be larger; a patch whose instructions add up to
    /// more is refused when it is loaded, before anything is written.
    std::int64_t MaxOutput = std::int64_t{128} << 20;
    /// Old versions the header may name (a patch serves a handful; each line
    /// costs a string, so empty lines must not be free).
    std::int32_t MaxVersions = 1 << 17;
    /// Values one code table may hold (a large patch's offset table holds
    /// about a hundred thousand).
    std::int32_t MaxTableValues = 1 << 20;

    /// The inflated image such a patch can need: its literals are part of the
    /// new file, and its codes take no more room than that again. Bytes that
    /// are inflated beyond the image's end count too.
    std::int64_t MaxImage() const noexcept { return 2 * MaxOutput + (std::int64_t{16} << 20); }
    /// Instructions: an encoder adds at most one empty instruction beside each
    /// one that writes a byte.
    std::int64_t MaxInstructions() const noexcept { return 2 * MaxOutput + 2; }
};

/// 32-bit addition that wraps, as the stored numbers do.
inline std::int32_t WrapAdd(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

/// Raises kNoVersions for a patch without versions, kBadVersionIndex unless
/// 0 <= versionIndex < versionCount.
inline void CheckVersionIndex(std::int64_t versionCount, int versionIndex)
{
    if (versionCount <= 0)
        throw Exception(kNoVersions);
    if (versionIndex < 0 || versionIndex >= versionCount)
        throw Exception(Format(kBadVersionIndex, versionIndex));
}

} // namespace upd::patch
