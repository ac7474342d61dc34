// Deriving a whole update from the folders of past releases and the new one.
//
// Each folder is a copy of an installed product as it was shipped. A file of
// the new release that differs from its copy in any old release becomes a
// patch set whose old versions are the distinct states (by digest) of that
// file in the old releases, in release order. A file that is the same in every
// release can be declared a must-have file. A file that no old release has
// cannot be put in place by the wizard (it only patches files): it is refused.
// A file that the new release no longer has stays installed: it is reported.
#pragma once

#include <string>
#include <vector>

#include "package/UpdateBuilder.h"

namespace upd::package {

struct TReleaseKitInput {
    std::vector<std::string> OldReleases;  ///< folders of the old releases, oldest first
    std::string NewRelease;                ///< folder of the new release
    std::string InstalledRoot = "C:\\Pravion";
    /// Unchanged files to check on the user's machine: wildcard patterns ('*',
    /// '?', case-insensitive) or plain names, matched against the path relative
    /// to the release folder with '/' between folders.
    std::vector<std::string> MustHave;
};

enum class TKitDecision { Patch, MustHave, Unchanged, Added, Removed };

struct TKitFile {
    std::string Relative;            ///< path inside the release folders, '/' between folders (UTF-8)
    TKitDecision Decision = TKitDecision::Unchanged;
    std::vector<int> VersionOf;      ///< per old release: index of its old version, -1 when it lacks the file
    std::vector<std::string> Old;    ///< the distinct old versions' real files
    std::string New;                 ///< the new release's real file (empty for removed files)
};

struct TReleaseKit {
    std::vector<TKitFile> Files;     ///< sorted by relative path
    std::vector<std::string> Names;  ///< the old releases' folder names, for the table
    /// The patch sets and must-have sets; the caller fills title, description,
    /// release, date, tag file name and stub.
    TBuildManifest Manifest;
};

/// Compares the folders. Raises Exception when a folder cannot be read or a
/// must-have pattern matches no unchanged file.
TReleaseKit DeriveReleaseKit(const TReleaseKitInput& input);

/// Whether `name` matches the wildcard `pattern` ('*' any run, '?' one character, case-insensitive).
bool WildcardMatch(const std::string& pattern, const std::string& name);

} // namespace upd::package
