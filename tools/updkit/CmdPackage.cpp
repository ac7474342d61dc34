// updkit info and build: packages seen from outside the wizard.
#include "tools/updkit/Commands.h"
#include "tools/updkit/Files.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "base/File.h"
#include "package/FileSignature.h"
#include "package/ImageSlot.h"
#include "package/MemMappedFile.h"
#include "package/PatchDataEngine.h"
#include "package/UpdateBuilder.h"
#include "tools/updkit/Json.h"
#include "tools/updkit/Manifest.h"
#include "tools/updkit/PackageJson.h"

namespace updkit {

using namespace upd::package;

/// Opens a package for the console: an error becomes one line (system errors
/// carry their code and text on two lines).
std::unique_ptr<TPatchDataEngine> OpenPackage(const std::string& exe)
{
    CheckInput(exe);
    try {
        return std::make_unique<TPatchDataEngine>(exe);
    } catch (const upd::Exception& e) {
        std::string line = e.what();
        std::string flat;
        for (char c : line) {
            if (c == '\r' || c == '\n') {
                if (!flat.empty() && flat.back() != ' ')
                    flat += ' ';
            } else {
                flat += c;
            }
        }
        throw upd::Exception(flat);
    }
}

int CmdInfo(const TArgs& args)
{
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-')
        return Usage("info EXE");
    const auto opened = OpenPackage(args[0]);
    const TPatchDataEngine& engine = *opened;
    const TPatchHeader& header = engine.Header;
    // Only the volumes the package has; the entries after them are never read.
    const int volumes = std::clamp(header.VolumeCount, 0, kMaxVolumes);

    TJsonWriter json;
    json.BeginObject();
    json.Key("header_offset").Int(engine.HeaderOffset);
    json.Key("title").String(header.Title);
    json.Key("description").String(header.Description);
    json.Key("package_size").Int(header.PackageSize);
    json.Key("volume_count").Int(header.VolumeCount);
    json.Key("package_digest").String(header.PackageDigest);
    json.Key("volume_digests").BeginArray();
    for (int i = 0; i < volumes; ++i)
        json.String(header.VolumeDigests[i]);
    json.EndArray();
    json.Key("volume_sizes").BeginArray();
    for (int i = 0; i < volumes; ++i)
        json.Int(header.VolumeSizes[i]);
    json.EndArray();
    // A program signed after its package was appended ends with its certificate table.
    json.Key("certificate_table");
    if (engine.CertificateTable) {
        json.BeginObject();
        json.Key("offset").Int(engine.CertificateTable->Offset);
        json.Key("size").Int(engine.CertificateTable->Size);
        json.EndObject();
    } else {
        json.Null();
    }
    // The package's identity in the program image: whether the wizard will
    // take this package as its own ("absent" for a program without the slot).
    {
        const TMemMappedFile image(engine.ExeFile());
        const auto offset = static_cast<std::size_t>(engine.HeaderOffset);
        json.Key("image_slot").String(SlotStateName(SlotStateOf(
            image.Data(), offset, image.Data() + offset, static_cast<std::size_t>(header.PackageSize))));
    }
    json.Key("update");
    WriteUpdate(json, *engine.Update);
    json.EndObject();
    const std::string text = json.Text();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

int CmdBuild(const TArgs& args)
{
    if (std::find(args.begin(), args.end(), "--from") != args.end())
        return CmdBuildFrom(args);
    const char* usage = "build MANIFEST.json -o SETUP.EXE [--volumes N | --volume-size BYTES]\n"
                        "   or: updkit build --from OLD_DIR... --to NEW_DIR -o SETUP.EXE ... "
                        "(see updkit build --from --help)";
    std::string manifestFile, output;
    std::int64_t volumes = 0, volumeSize = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "-h" || arg == "--help") {
            std::printf("usage: updkit %s\n", usage);
            return 0;
        }
        if (arg == "-o" && hasValue && output.empty()) {
            output = args[++i];
        } else if ((arg == "--volumes" || arg == "--volume-size") && hasValue) {
            const std::string why = VolumeOption(arg, args[++i], volumes, volumeSize);
            if (!why.empty())
                return UsageError(why, usage);
        } else if (!arg.empty() && arg[0] != '-' && manifestFile.empty()) {
            manifestFile = arg;
        } else {
            return Usage(usage);
        }
    }
    if (manifestFile.empty() || output.empty())
        return Usage(usage);
    CheckInput(manifestFile);
    CheckOutput(output, {manifestFile});
    const TBuildManifest manifest = ReadManifest(manifestFile);
    TOutputPlan plan;
    plan.Input(manifestFile);
    plan.Input(manifest.Stub);
    for (const auto& set : manifest.MustHaveSets)
        for (const TBuildFile& file : set)
            plan.Input(file.SourceFile);
    for (const TBuildPatch& patch : manifest.Patches) {
        for (const std::string& old : patch.OldFiles)
            plan.Input(old);
        plan.Input(patch.NewFile);
    }
    PlanPackage(plan, output, static_cast<int>(volumes), volumeSize > 0);
    plan.Check();
    TPackageFiles files;
    const TPatchHeader header =
        BuildPackage(manifest, output, static_cast<int>(volumes), volumeSize, &files, {manifestFile});
    FinishPackage(files, header);
    return 0;
}

} // namespace updkit
