// Writing packages: the wizard executable (the stub) followed by the header,
// the update description and, in a single-file package, the segments; in a
// multi-volume package the segments go to volume files named after the output
// (setup.exe -> setup.1, setup.2, ...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "package/PackageHeader.h"
#include "package/Update.h"

namespace upd::package {

/// Appends one segment's bytes to the segment data and returns its record:
/// Offset (from the end of the description), Size and the MD5 text of the bytes.
TUpdateData AppendSegment(std::vector<std::uint8_t>& segmentData, const std::vector<std::uint8_t>& bytes);

/// Volume sizes for `count` volumes of nearly equal size (the first ones one byte
/// larger when the total does not divide). Raises for a count outside 1 to 10.
std::vector<std::int32_t> SplitIntoVolumes(std::size_t total, int count);
/// Volume sizes of at most `maxBytes` each, the last one taking the rest; raises
/// when that needs more than 10 volumes or `maxBytes` is not positive.
std::vector<std::int32_t> SplitByVolumeSize(std::size_t total, std::int64_t maxBytes);

struct TPackageFiles {
    std::string ExeFileName;                ///< the written executable
    std::vector<std::string> VolumeFileNames; ///< volume 1, 2, ... (empty for a single-file package)
};

/// Writes the package and returns the header it carries.
///
/// `segmentData` holds all segments back to back, as their records in `update`
/// address them. `volumeSizes` empty writes a single-file package; otherwise one
/// volume file per entry, the entries summing to the segment data's size. The
/// header's title is the update's title and its description the first 128
/// characters of the update's description (both cut to the header's room).
/// A single-file package on a program image ("MZ") gets up to 7 zero bytes
/// between the program and the header, so that the file ends on a multiple of
/// 8 bytes and can be signed afterwards without padding after the segments.
/// Raises upd::Exception when the stub already carries a package signature, the
/// package would not fit the header's 32-bit fields, or a file cannot be written.
///
/// Nothing is written when one of the files to write is the stub or one of
/// `inputs` (under any name, or through a hard link), when two of them share a
/// name (a volume named like the package), or when one exists and is not a
/// regular file. Each file is written beside its target under a temporary
/// name, and all of them replace their targets only once all are written.
TPatchHeader WritePackage(const std::string& stubFileName, const std::string& outputFileName, const TUpdate& update,
                          const std::vector<std::uint8_t>& segmentData,
                          const std::vector<std::int32_t>& volumeSizes, TPackageFiles* files = nullptr,
                          const std::vector<std::string>& inputs = {});

} // namespace upd::package
