// The expected state of one installed file, and the check of a file against it.
#pragma once

#include <cstdint>
#include <string>

namespace upd::package {

class TTaggedValueReader;
class TTaggedValueWriter;

/// The expected state of one file.
struct TFileSignature {
    std::string FileName;  ///< full path, e.g. "C:\Pravion\borlndmm.dll"
    std::string Hash;      ///< MD5 digest text (32 upper-case hex digits)
    std::int32_t Size = 0; ///< size in bytes
    std::string Version;   ///< "" = not checked; "<info not available>" = no version resource
    bool Flag = false;     ///< stored and read, not used

    /// Stored form: FileName, Hash, Size, Version, Flag (defined with the update description).
    void ReadFrom(TTaggedValueReader& reader);
    void WriteTo(TTaggedValueWriter& writer) const;
};

/// Whether the named file is in exactly the described state. Checks, in this
/// order and stopping at the first failure: the size (a directory search; a
/// missing file never matches), the version text when `Version` is not empty,
/// then the MD5 digest text. A file of the wrong size or version is not read.
bool SignatureMatches(const TFileSignature& signature);

} // namespace upd::package
