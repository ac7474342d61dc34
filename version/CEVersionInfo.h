// The version resource of a file, as the validation stage reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Path.h"

namespace upd::version {

/// Where GetInfo takes its answers from: the operating system's version API
/// (Windows) or the portable PE reader. Both answer the same two queries.
class TVersionSource {
public:
    virtual ~TVersionSource() = default;
    /// The first entry of the translation table.
    virtual bool Translation(std::uint16_t& language, std::uint16_t& codePage) const = 0;
    /// The value of `key` in the string table `table` (eight hex digits), as
    /// what code page 1250 keeps of it (other letters '?', as the package's
    /// version texts have them); nothing when the table lacks it.
    virtual std::optional<std::string> StringValue(const std::string& table, const char* key) const = 0;
};

/// The fourteen version properties of one file.
class TCEVersionInfo {
public:
    /// Reads the running program's own file.
    TCEVersionInfo();
    /// Reads nothing; every property is empty until GetInfo.
    struct TNoFile {};
    explicit TCEVersionInfo(TNoFile) {}

    /// Fills the properties from the file's version resource; a file without
    /// one (or a missing file) gives "<info not available>" everywhere.
    /// Windows asks the system's version API; other platforms read the PE file.
    void GetInfo(const TPath& fileName);
    /// The same through the portable PE reader, on every platform.
    void GetInfoPortable(const TPath& fileName);
    /// Fills the properties from a source; nullptr means no version information.
    void FillFrom(const TVersionSource* source);

    std::string CompanyName, FileDescription, FileVersion, Internalname, LegalCopyright, LegalTradeMarks,
        OriginalFilename, ProductName, ProductVersion, Comments, MajorVersion, MinorVersion, Release, Build;
};

/// The FileVersion text of a file, or "<info not available>".
std::string GetFileVersionText(const TPath& fileName);
/// The same through the portable PE reader (used by the package builder and
/// by cross-checks against the system's reader).
std::string GetFileVersionTextPortable(const TPath& fileName);

} // namespace upd::version
