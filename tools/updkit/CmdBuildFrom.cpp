// updkit build --from: a whole package derived from release folders.
#include "tools/updkit/Commands.h"
#include "tools/updkit/Files.h"

#include <cstdio>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "base/File.h"
#include "package/PatchDataEngine.h"
#include "package/ReleaseKit.h"
#include "tools/updkit/Manifest.h"

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

// Letters on the console: a UTF-8 name takes one column per code point.
std::size_t Columns(const std::string& text)
{
    std::size_t columns = 0;
    for (char c : text)
        columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return columns;
}

// `text` padded with blanks to `width` columns.
std::string Padded(std::string text, std::size_t width)
{
    const std::size_t columns = Columns(text);
    if (columns < width)
        text.append(width - columns, ' ');
    return text;
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
        width = std::max(width, Columns(f.Relative));
    std::string releases;
    for (const std::string& name : kit.Names)
        releases += name + " ";
    const std::size_t versionsWidth = std::max<std::size_t>(Columns(releases), 12);
    std::printf("%s  %s  %10s  %6s  %s\n", Padded("file", width).c_str(), Padded("old versions", versionsWidth).c_str(),
                "patch", "ratio", "decision");
    std::printf("%s  %s\n", Padded("", width).c_str(), releases.c_str());
    std::size_t patch = 0;
    for (const TKitFile& f : kit.Files) {
        std::string versions;
        for (std::size_t i = 0; i < f.VersionOf.size(); ++i)
            versions += Padded(f.VersionOf[i] < 0 ? "-" : std::to_string(f.VersionOf[i] + 1),
                               Columns(kit.Names[i]) + 1);
        std::string size = "-", ratio = "-";
        if (f.Decision == TKitDecision::Patch) {
            if (patch < sizes.size()) {
                const auto [patchSize, newSize] = sizes[patch];
                size = std::to_string(patchSize);
                // A share of an empty file means nothing; past ten times the
                // file the figure only says the patch is no saving.
                if (newSize > 0 && patchSize < 10 * newSize) {
                    char text[16];
                    std::snprintf(text, sizeof text, "%.1f%%",
                                  100.0 * static_cast<double>(patchSize) / static_cast<double>(newSize));
                    ratio = text;
                } else if (newSize > 0) {
                    ratio = ">999%";
                }
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
        std::printf("%s  %s  %10s  %6s  %s\n", Padded(f.Relative, width).c_str(),
                    Padded(versions, versionsWidth).c_str(), size.c_str(), ratio.c_str(), decision.c_str());
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
        if (arg == "-h" || arg == "--help") {
            std::printf("usage: updkit %s\n", kUsage);
            return 0;
        }
        if (!hasValue)
            return UsageError(arg + " needs a value", kUsage);
        const std::string& value = args[++i];
        if (arg == "--from")
            input.OldReleases.push_back(value);
        else if (arg == "--to" && input.NewRelease.empty())
            input.NewRelease = value;
        else if (arg == "-o" && output.empty())
            output = value;
        else if (arg == "--title" && !haveTitle)
            title = upd::KeptByCp1250(value), haveTitle = true;
        else if (arg == "--description" && !haveDescription)
            description = upd::KeptByCp1250(value), haveDescription = true;
        else if (arg == "--release" && release.empty())
            release = upd::KeptByCp1250(value);
        else if (arg == "--release-date" && releaseDate.empty())
            releaseDate = upd::KeptByCp1250(value);
        else if (arg == "--root")
            input.InstalledRoot = upd::KeptByCp1250(value);
        else if (arg == "--tag-file" && tagFile.empty())
            tagFile = upd::KeptByCp1250(value);
        else if (arg == "--must-have")
            input.MustHave.push_back(value);
        else if (arg == "--must-have-list" && mustHaveList.empty())
            mustHaveList = value;
        else if (arg == "--write-manifest" && manifestOut.empty())
            manifestOut = value;
        else if (arg == "--stub" && stub.empty())
            stub = value;
        else if (arg == "--patch-note" && note.empty())
            note = upd::KeptByCp1250(value);
        else if (arg == "--volumes" || arg == "--volume-size") {
            const std::string why = VolumeOption(arg, value, volumes, volumeSize);
            if (!why.empty())
                return UsageError(why, kUsage);
        } else
            return UsageError("unknown or repeated option " + arg, kUsage);
    }
    std::string missing;
    for (const auto& [given, name] : {std::pair{!input.OldReleases.empty(), "--from"},
                                      {!input.NewRelease.empty(), "--to"}, {!output.empty(), "-o"},
                                      {haveTitle, "--title"}, {haveDescription, "--description"},
                                      {!release.empty(), "--release"}, {!releaseDate.empty(), "--release-date"}})
        if (!given)
            missing += std::string(missing.empty() ? "" : ", ") + name;
    if (!missing.empty())
        return UsageError("missing " + missing, kUsage);
    if (!mustHaveList.empty())
        for (const std::string& name : ReadList(mustHaveList))
            input.MustHave.push_back(name);

    TReleaseKit kit = DeriveReleaseKit(input);
    TBuildManifest& manifest = kit.Manifest;
    manifest.Stub = stub.empty() ? DefaultStub() : stub;
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
    if (!upd::FileExists(manifest.Stub)) {
        if (!stub.empty())
            return Fail("there is no wizard program " + stub + " to append the package to");
        return Fail("there is no wizard program to append the package to: give it with --stub (the release "
                    "build's setup.exe; see docs/making-updates.md), or put it beside updkit as " + manifest.Stub);
    }

    // Every output is checked before the first patch is built.
    TOutputPlan plan;
    if (!mustHaveList.empty())
        plan.Input(mustHaveList);
    plan.Input(manifest.Stub);
    for (const std::string& folder : input.OldReleases)
        plan.Folder(folder);
    plan.Folder(input.NewRelease);
    PlanPackage(plan, output, static_cast<int>(volumes), volumeSize > 0);
    if (!manifestOut.empty())
        plan.Output(manifestOut, "the manifest");
    plan.Check();
    std::vector<std::string> inputs{manifest.Stub};
    if (!mustHaveList.empty())
        inputs.push_back(mustHaveList);
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
    FinishPackage(files, header);
    return 0;
}

} // namespace updkit
