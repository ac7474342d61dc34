// Making patch files: from V old files and a new file to the zlib-compressed
// patch image, and the encoder steps on their own for callers that build the
// instruction list themselves.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "patch/UnPatchEngine.h"

namespace upd::patch {

using TQvtBytes = std::span<const std::uint8_t>;

/// A complete patch file (zlib stream) that rebuilds `newFile` from each of
/// `oldFiles`; `versions` names them in order (one line each, no line breaks;
/// its size must equal the number of old files, at least one).
std::vector<std::uint8_t> MakePatchFile(const std::vector<TQvtBytes>& oldFiles, TQvtBytes newFile,
                                        const std::vector<std::string>& versions, const std::string& note);

/// The patch image of an engine whose Versions, Note and instructions are set
/// and whose value sets are still empty: counts the values, makes every table
/// buildable (a table with fewer than two values gets an unused one), builds
/// the sets and writes header, bit section and literal section.
std::vector<std::uint8_t> WritePatchImage(TQvtUnPatchEngine& engine);

/// One zlib stream around the image, at the best compression at hand (any
/// zlib inflates it).
std::vector<std::uint8_t> CompressPatchImage(const std::vector<std::uint8_t>& image);

} // namespace upd::patch
