#include "package/UpdateBuilder.h"

#include "base/Exception.h"
#include "base/File.h"
#include "package/Md5Hash.h"
#include "patch/PatchWriter.h"
#include "version/CEVersionInfo.h"

#include <climits>
#include <span>

namespace upd::package {

TFileSignature SignatureOf(const std::string& installedPath, const std::string& sourceFile, bool checkVersion)
{
    // Read once: size and digest come from the same bytes.
    const std::vector<std::uint8_t> content = ReadWholeFile(sourceFile);
    if (content.size() > static_cast<std::size_t>(INT32_MAX))
        throw Exception("Fisierul este prea mare pentru o semnatura: " + sourceFile);
    TFileSignature signature;
    signature.FileName = installedPath;
    signature.Hash = MD5Text(content.data(), content.size());
    signature.Size = static_cast<std::int32_t>(content.size());
    signature.Version = checkVersion ? version::GetFileVersionText(sourceFile) : std::string();
    return signature;
}

TUpdate MakeUpdate(const TBuildManifest& manifest, std::vector<std::uint8_t>& segmentData,
                   std::int64_t maxSegmentData)
{
    TUpdate update;
    update.Title = manifest.Title;
    update.Description = manifest.Description;
    update.TagFileName = manifest.TagFileName;
    for (const auto& alternatives : manifest.MustHaveSets) {
        if (alternatives.empty())
            throw Exception("Un set de fisiere necesare nu poate fi gol");
        auto& set = update.MustHaveSets.Add(std::make_unique<TMustHaveSet>());
        for (const TBuildFile& file : alternatives)
            set.Add(std::make_unique<TFileSignature>(
                SignatureOf(file.InstalledPath, file.SourceFile, file.CheckVersion)));
    }
    for (const TBuildPatch& build : manifest.Patches) {
        if (build.OldFiles.empty())
            throw Exception("Fisierul " + build.TargetPath + " nu are nici o versiune veche");
        auto& patch = update.PatchSets.Add(std::make_unique<TPatchSet>());
        std::vector<std::vector<std::uint8_t>> oldContents;
        std::vector<std::string> versions;
        for (const std::string& old : build.OldFiles) {
            TFileSignature signature = SignatureOf(build.TargetPath, old, build.CheckVersion);
            // Each version line ends in the old file's digest, so that whoever
            // rebuilds from the patch alone can tell a wrong old file first.
            versions.push_back((build.CheckVersion ? signature.Version : version::GetFileVersionText(old)) + " md5:" +
                               signature.Hash);
            patch.OldFiles.Add(std::make_unique<TFileSignature>(std::move(signature)));
            oldContents.push_back(ReadWholeFile(old));
        }
        const TFileSignature target = SignatureOf(build.TargetPath, build.NewFile, true);
        const std::vector<std::uint8_t> newContent = ReadWholeFile(build.NewFile);
        std::vector<patch::TQvtBytes> olds(oldContents.begin(), oldContents.end());
        const std::vector<std::uint8_t> patchFile =
            patch::MakePatchFile(olds, newContent, versions, manifest.PatchNote);
        patch.Segment = AppendSegment(segmentData, patchFile);
        if (static_cast<std::int64_t>(segmentData.size()) > maxSegmentData)
            throw Exception("Datele de actualizare au deja " + std::to_string(segmentData.size()) +
                            " octeti: nu incap in 10 volume (cel mult " + std::to_string(maxSegmentData) +
                            " octeti)");
        patch.NewVersion = target.Version;
        patch.NewSize = target.Size;
        patch.NewHash = target.Hash;
        patch.TargetFileName = build.TargetPath;
    }
    update.TagText = MakeTagText(manifest.Release, manifest.ReleaseDate, update.MustHaveSets);
    return update;
}

TPatchHeader BuildPackage(const TBuildManifest& manifest, const std::string& outputFileName, int volumes,
                          std::int64_t volumeSize, TPackageFiles* files, std::vector<std::string> inputs)
{
    for (const auto& set : manifest.MustHaveSets)
        for (const TBuildFile& file : set)
            inputs.push_back(file.SourceFile);
    for (const TBuildPatch& patch : manifest.Patches) {
        inputs.insert(inputs.end(), patch.OldFiles.begin(), patch.OldFiles.end());
        inputs.push_back(patch.NewFile);
    }
    std::vector<std::uint8_t> segmentData;
    const std::int64_t limit = volumeSize > 0 && volumeSize <= INT64_MAX / kMaxVolumes ? volumeSize * kMaxVolumes
                                                                                         : INT64_MAX;
    const TUpdate update = MakeUpdate(manifest, segmentData, limit);
    std::vector<std::int32_t> volumeSizes;
    if (volumes > 0)
        volumeSizes = SplitIntoVolumes(segmentData.size(), volumes);
    else if (volumeSize > 0)
        volumeSizes = SplitByVolumeSize(segmentData.size(), volumeSize);
    return WritePackage(manifest.Stub, outputFileName, update, segmentData, volumeSizes, files, inputs);
}

} // namespace upd::package
