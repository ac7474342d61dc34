// updkit check: which known state each installed file is in, set by set, and
// whether the package can update the installation at all.
#include <cstdio>

#include "base/Cp1250.h"
#include "package/PatchDataEngine.h"
#include "tools/updkit/Commands.h"
#include "tools/updkit/Installation.h"
#include "tools/updkit/Manifest.h"

namespace updkit {

using namespace upd::package;

namespace {

std::string Names(const TMustHaveSet& set)
{
    std::string names;
    for (const auto& signature : set) {
        if (names.find(signature->FileName) == std::string::npos)
            names += (names.empty() ? "" : ", ") + signature->FileName;
    }
    return names;
}

/// The position of the first signature the installed file matches, or -1.
int FirstMatch(const TMustHaveSet& set, const upd::wizard::TFileProbe& probe)
{
    for (int i = 0; i < set.Count(); ++i)
        if (probe.SignatureMatches(set.Items(i)))
            return i;
    return -1;
}

bool AnyExists(const TMustHaveSet& set, const upd::wizard::TFileProbe& probe)
{
    for (const auto& signature : set)
        if (probe.FileExists(signature->FileName))
            return true;
    return false;
}

std::string Plural(int count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void Line(const std::string& line) { std::printf("%s\n", line.c_str()); }

} // namespace

int CmdCheck(const TArgs& args)
{
    const char* usage = "check EXE [--installed DIR | --root PREFIX]";
    std::string exe;
    TInstallation where;
    if (!ReadPackageAndInstallation(args, exe, where))
        return Usage(usage);
    const auto engine = OpenPackage(exe);
    const auto probe = where.Probe();
    const TUpdate& update = *engine->Update;
    CheckEachFileOnce(PackageSets(update), exe);
    Line(where.Where());

    int problems = 0;
    const int sets = update.MustHaveSets.Count();
    for (int i = 0; i < sets; ++i) {
        const TMustHaveSet& set = update.MustHaveSets.Items(i);
        const int match = FirstMatch(set, *probe);
        std::string verdict = "satisfied by alternative " + std::to_string(match + 1);
        if (match < 0) {
            ++problems;
            verdict = AnyExists(set, *probe) ? "NOT satisfied: modified, in none of its " +
                                                   Plural(set.Count(), "known state", "known states")
                                             : std::string("NOT satisfied: missing");
        }
        Line("must-have set " + std::to_string(i + 1) + "/" + std::to_string(sets) + ": " + verdict + " (" +
             Names(set) + ")");
    }
    const int patches = update.PatchSets.Count();
    for (int i = 0; i < patches; ++i) {
        const TPatchSet& patch = update.PatchSets.Items(i);
        const int olds = patch.OldFiles.Count();
        const int match = FirstMatch(patch.OldFiles, *probe);
        TFileSignature updated;
        updated.FileName = patch.TargetFileName;
        updated.Hash = patch.NewHash;
        updated.Size = patch.NewSize;
        updated.Version = patch.NewVersion;
        std::string verdict = "old version " + std::to_string(match + 1) + " of " + std::to_string(olds) +
                              " installed";
        if (match < 0) {
            ++problems;
            if (!probe->FileExists(patch.TargetFileName))
                verdict = "missing";
            else if (probe->SignatureMatches(updated))
                verdict = "already updated";
            else
                verdict = "modified: neither one of its " + Plural(olds, "old version", "old versions") +
                          " nor the new one";
        }
        Line("patch set " + std::to_string(i + 1) + "/" + std::to_string(patches) + ": " + verdict + " (" +
             patch.TargetFileName + ")");
    }
    for (const TVolumeFinding& volume : CheckVolumes(*engine)) {
        problems += volume.Problem.empty() ? 0 : 1;
        Line("volume " + std::to_string(volume.Number) + "/" + std::to_string(engine->Header.VolumeCount) + ": " +
             (volume.Problem.empty() ? "ok" : volume.Problem) + " (" + volume.Name + ")");
    }
    if (problems > 0)
        return Fail("the package cannot update this installation: " + Plural(problems, "finding", "findings") +
                    " above");
    Line("the package can update this installation");
    return 0;
}

} // namespace updkit
