// updkit build --from: a whole package derived from release folders.
#include "tools/updkit/Commands.h"
#include "tools/updkit/Files.h"

#include <cstdio>
#include <filesystem>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "base/File.h"
#include "package/PatchDataEngine.h"
#include "package/ReleaseKit.h"
#include "tools/updkit/Json.h"

namespace updkit {

using namespace upd::package;

namespace {

const char kUsage[] =
    "build --from OLD_DIR... --to NEW_DIR -o SETUP.EXE --title T --description D --release N --release-date D\n"
    "             [--root C:\\Pravion] [--tag-file NAME] [--must-have PATTERN]... [--must-have-list FILE]\n"
    "             [--leave-out-added] [--write-manifest FILE] [--stub EXE] [--patch-note T]\n"
    "             [--volumes N | --volume-size BYTES]";

// One name per line; blank lines and lines starting with '#' are skipped.
std::vector<std::string> ReadList(const std::string& file)
{
    CheckInput(file);
    const auto bytes = upd::ReadWholeFile(file);
    std::vector<std::string> names;
    std::string line;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        char c = i < bytes.size() ? static_cast<char>(bytes[i]) : '\n';
        if (c != '\n') {
            line += c;
            continue;
        }
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            names.push_back(line);
        line.clear();
    }
    return names;
}

// A real file name as JSON: the names are code page 1250 on Windows, UTF-8 elsewhere.
void RealName(TJsonWriter& json, const std::string& name)
{
    const auto u8 = std::filesystem::absolute(std::filesystem::u8path(
#ifdef _WIN32
                                                  upd::Cp1250ToUtf8(name)
#else
                                                  name
#endif
                                                      ))
                        .lexically_normal()
                        .u8string();
    json.Utf8String(std::string(u8.begin(), u8.end()));
}

void WriteManifest(const std::string& fileName, const TBuildManifest& m, bool stubGiven)
{
    TJsonWriter json;
    json.BeginObject();
    if (stubGiven) {
        json.Key("stub");
        RealName(json, m.Stub);
    }
    json.Key("title").String(m.Title);
    json.Key("description").String(m.Description);
    json.Key("release").String(m.Release);
    json.Key("release_date").String(m.ReleaseDate);
    json.Key("tag_file_name").String(m.TagFileName);
    if (!m.PatchNote.empty())
        json.Key("patch_note").String(m.PatchNote);
    json.Key("must_have").BeginArray();
    for (const auto& set : m.MustHaveSets) {
        json.BeginObject();
        json.Key("path").String(set.front().InstalledPath);
        json.Key("file");
        RealName(json, set.front().SourceFile);
        json.EndObject();
    }
    json.EndArray();
    json.Key("patches").BeginArray();
    for (const TBuildPatch& patch : m.Patches) {
        json.BeginObject();
        json.Key("target").String(patch.TargetPath);
        json.Key("old").BeginArray();
        for (const std::string& old : patch.OldFiles)
            RealName(json, old);
        json.EndArray();
        json.Key("new");
        RealName(json, patch.NewFile);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    const std::string text = json.Text();
    upd::TPendingFile pending(fileName);
    upd::WriteWholeFile(pending.Name(), text.data(), text.size());
    pending.Commit();
}

const char* DecisionText(TKitDecision decision)
{
    switch (decision) {
    case TKitDecision::Patch:
        return "patch";
    case TKitDecision::MustHave:
        return "must-have";
    case TKitDecision::Unchanged:
        return "unchanged, not checked";
    case TKitDecision::Added:
        return "NEW: refused, the wizard cannot add files";
    case TKitDecision::Removed:
        return "removed: stays installed";
    }
    return "?";
}

// The table of decisions; `sizes` holds the patch and new sizes of the patch
// sets in order (empty before the package is built).
void PrintTable(const TReleaseKit& kit, const std::vector<std::pair<std::int64_t, std::int64_t>>& sizes)
{
    std::size_t width = 4;
    for (const TKitFile& f : kit.Files)
        width = std::max(width, f.Relative.size());
    std::string releases;
    for (const std::string& name : kit.Names)
        releases += name + " ";
    std::printf("%-*s  %-*s  %10s  %6s  %s\n", static_cast<int>(width), "file",
                static_cast<int>(std::max<std::size_t>(releases.size(), 12)), "old versions", "patch", "ratio",
                "decision");
    std::printf("%-*s  %-*s\n", static_cast<int>(width), "", static_cast<int>(releases.size()), releases.c_str());
    std::size_t patch = 0;
    for (const TKitFile& f : kit.Files) {
        std::string versions;
        for (std::size_t i = 0; i < f.VersionOf.size(); ++i) {
            std::string cell = f.VersionOf[i] < 0 ? "-" : std::to_string(f.VersionOf[i] + 1);
            cell.resize(kit.Names[i].size() + 1, ' ');
            versions += cell;
        }
        std::string size = "-", ratio = "-";
        if (f.Decision == TKitDecision::Patch) {
            if (patch < sizes.size()) {
                size = std::to_string(sizes[patch].first);
                char text[16];
                std::snprintf(text, sizeof text, "%.1f%%",
                              sizes[patch].second > 0 ? 100.0 * static_cast<double>(sizes[patch].first) /
                                                            static_cast<double>(sizes[patch].second)
                                                      : 0.0);
                ratio = text;
            }
            ++patch;
        }
        std::string decision = DecisionText(f.Decision);
        if (f.Decision == TKitDecision::Patch) {
            decision += " (" + std::to_string(f.Old.size()) + " old version" + (f.Old.size() == 1 ? "" : "s") + ")";
            for (std::size_t i = 0; i < f.VersionOf.size(); ++i)
                if (f.VersionOf[i] < 0)
                    decision += "; missing in " + kit.Names[i] + ": the validation stops there";
        }
        std::printf("%-*s  %-*s  %10s  %6s  %s\n", static_cast<int>(width), f.Relative.c_str(),
                    static_cast<int>(std::max<std::size_t>(releases.size(), 12)), versions.c_str(), size.c_str(),
                    ratio.c_str(), decision.c_str());
    }
}

} // namespace

int CmdBuildFrom(const TArgs& args)
{
    TReleaseKitInput input;
    std::string output, manifestOut, stub, mustHaveList, tagFile;
    std::string title, description, release, releaseDate, note;
    bool haveTitle = false, haveDescription = false, leaveOutAdded = false;
    std::int64_t volumes = 0, volumeSize = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--leave-out-added") {
            leaveOutAdded = true;
            continue;
        }
        if (!hasValue)
            return Usage(kUsage);
        const std::string& value = args[++i];
        if (arg == "--from")
            input.OldReleases.push_back(value);
        else if (arg == "--to" && input.NewRelease.empty())
            input.NewRelease = value;
        else if (arg == "-o" && output.empty())
            output = value;
        else if (arg == "--title" && !haveTitle)
            title = upd::Utf8ToCp1250(value), haveTitle = true;
        else if (arg == "--description" && !haveDescription)
            description = upd::Utf8ToCp1250(value), haveDescription = true;
        else if (arg == "--release" && release.empty())
            release = upd::Utf8ToCp1250(value);
        else if (arg == "--release-date" && releaseDate.empty())
            releaseDate = upd::Utf8ToCp1250(value);
        else if (arg == "--root")
            input.InstalledRoot = upd::Utf8ToCp1250(value);
        else if (arg == "--tag-file" && tagFile.empty())
            tagFile = upd::Utf8ToCp1250(value);
        else if (arg == "--must-have")
            input.MustHave.push_back(value);
        else if (arg == "--must-have-list" && mustHaveList.empty())
            mustHaveList = value;
        else if (arg == "--write-manifest" && manifestOut.empty())
            manifestOut = value;
        else if (arg == "--stub" && stub.empty())
            stub = value;
        else if (arg == "--patch-note" && note.empty())
            note = upd::Utf8ToCp1250(value);
        else if (arg == "--volumes" && volumes == 0 && volumeSize == 0 &&
                 (volumes = PositiveNumber(value)) >= 1 && volumes <= kMaxVolumes)
            continue;
        else if (arg == "--volume-size" && volumes == 0 && volumeSize == 0 && (volumeSize = PositiveNumber(value)) >= 1)
            continue;
        else
            return Usage(kUsage);
    }
    if (input.OldReleases.empty() || input.NewRelease.empty() || output.empty() || !haveTitle || !haveDescription ||
        release.empty() || releaseDate.empty())
        return Usage(kUsage);
    if (!mustHaveList.empty())
        for (const std::string& name : ReadList(mustHaveList))
            input.MustHave.push_back(name);

    TReleaseKit kit = DeriveReleaseKit(input);
    TBuildManifest& manifest = kit.Manifest;
    const std::string exe = RunningExeFileName().Text();
    manifest.Stub = stub.empty() ? exe.substr(0, exe.find_last_of("/\\") + 1) + "setup.exe" : stub;
    manifest.Title = title;
    manifest.Description = description;
    manifest.Release = release;
    manifest.ReleaseDate = releaseDate;
    manifest.TagFileName = tagFile.empty() ? "sig-" + release + ".txt" : tagFile;
    manifest.PatchNote = note;

    std::string added;
    for (const TKitFile& f : kit.Files)
        if (f.Decision == TKitDecision::Added)
            added += (added.empty() ? "" : ", ") + f.Relative;
    if (!added.empty() && !leaveOutAdded) {
        PrintTable(kit, {});
        return Fail("files new in " + input.NewRelease + " cannot be put in place by the wizard, which only patches "
                    "installed files: " + added + " (ship them with a full installer, or leave them out of this "
                    "update with --leave-out-added)");
    }
    if (manifest.Patches.empty())
        return Fail("no file changed between the old releases and " + input.NewRelease + ": nothing to update");
    if (!upd::FileExists(manifest.Stub))
        return Fail("there is no wizard program " + manifest.Stub + " to append the package to (see --stub)");

    std::vector<std::string> inputs;
    if (!mustHaveList.empty())
        inputs.push_back(mustHaveList);
    CheckOutput(output, inputs);
    if (!manifestOut.empty())
        CheckOutput(manifestOut, inputs);
    TPackageFiles files;
    const TPatchHeader header =
        BuildPackage(manifest, output, static_cast<int>(volumes), volumeSize, &files, inputs);
    std::vector<std::pair<std::int64_t, std::int64_t>> sizes;
    {
        TPatchDataEngine engine(files.ExeFileName);
        for (const auto& set : engine.Update->PatchSets)
            sizes.emplace_back(set->Segment.Size, set->NewSize);
    }
    PrintTable(kit, sizes);
    if (!manifestOut.empty())
        WriteManifest(manifestOut, manifest, !stub.empty());
    std::printf("%s: %d bytes of package, patch data digest %s\n", files.ExeFileName.c_str(), header.PackageSize,
                header.PackageDigest.c_str());
    for (std::size_t i = 0; i < files.VolumeFileNames.size(); ++i)
        std::printf("%s: %d bytes\n", files.VolumeFileNames[i].c_str(), header.VolumeSizes[i]);
    return 0;
}

} // namespace updkit
