// Making a whole update from real files: signatures of the installed files,
// multi-version patches from the old and new versions, the description and
// the package (see docs/manifest.md for the manifest that updkit reads).
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "package/PackageWriter.h"
#include "package/Update.h"

namespace upd::package {

/// One file state taken from a real file.
struct TBuildFile {
    std::string InstalledPath;  ///< the path stored in the description, e.g. C:\Pravion\a.dll
    std::string SourceFile;     ///< the real file whose size, version and digest are taken
    bool CheckVersion = true;   ///< false stores an empty version (not checked)
};

struct TBuildPatch {
    std::string TargetPath;              ///< installed path of the file to update
    std::vector<std::string> OldFiles;   ///< real files of the known old versions, in version order
    std::string NewFile;                 ///< the real file of the new version
    bool CheckVersion = true;            ///< versions of the old signatures are checked
};

struct TBuildManifest {
    std::string Stub;        ///< the wizard executable
    std::string Title;       ///< letter codes, as stored
    std::string Description; ///< letter codes and star brackets, as stored
    std::string Release;     ///< release number of the tag text
    std::string ReleaseDate; ///< release date in words for the tag text
    std::string TagFileName;
    std::string PatchNote;   ///< note carried by every patch file
    std::vector<std::vector<TBuildFile>> MustHaveSets; ///< each set: its alternatives, in order
    std::vector<TBuildPatch> Patches;
};

/// The signature of a real file stored under another path.
TFileSignature SignatureOf(const std::string& installedPath, const std::string& sourceFile, bool checkVersion);

/// Builds the description and the segment data (one patch per patch set, in
/// order). Stops as soon as the segment data grows past `maxSegmentData`
/// (volumes of a given size, of which a package has at most 10), rather than
/// after every patch is built.
TUpdate MakeUpdate(const TBuildManifest& manifest, std::vector<std::uint8_t>& segmentData,
                   std::int64_t maxSegmentData = INT64_MAX);

/// Builds and writes the package; `volumeSizes` as for WritePackage, or a
/// function of the segment data size when `volumes` / `volumeSize` is given
/// (0 = not given; at most one of them). No file written may be one the
/// manifest names or one of `inputs` (see WritePackage).
TPatchHeader BuildPackage(const TBuildManifest& manifest, const std::string& outputFileName, int volumes,
                          std::int64_t volumeSize, TPackageFiles* files = nullptr,
                          std::vector<std::string> inputs = {});

} // namespace upd::package
