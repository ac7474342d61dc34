// updkit extract: one file's patch data taken out of a package, checked
// against its digest, so that support can rebuild the file and compare.
#include <algorithm>
#include <cstdio>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "base/File.h"
#include "package/Md5Hash.h"
#include "package/PatchDataEngine.h"
#include "tools/updkit/Commands.h"
#include "tools/updkit/Files.h"

namespace updkit {

using namespace upd::package;

namespace {

// `size` bytes from `position` of the segment data: behind the description in
// a single-file package, else the volumes one after the other.
std::vector<std::uint8_t> ReadSegmentData(const TPatchDataEngine& engine, std::int64_t position, std::int64_t size)
{
    std::vector<std::uint8_t> bytes;
    auto take = [&](const std::string& file, std::int64_t start, std::int64_t end) {
        // The part of [position, position + size) that lies in [start, end) of the data.
        const std::int64_t from = std::max(position, start), to = std::min(position + size, end);
        if (from >= to)
            return;
        upd::TFile in(file, upd::TFileMode::ReadShared);
        const std::int64_t at = from - start + (engine.Header.VolumeCount == 0 ? engine.HeaderOffset +
                                                                                     engine.Header.PackageSize
                                                                               : 0);
        if (at + (to - from) > in.Size())
            throw upd::Exception(file + ": ends before the patch data it should hold");
        bytes.resize(bytes.size() + static_cast<std::size_t>(to - from));
        in.ReadExactAt(at, bytes.data() + bytes.size() - static_cast<std::size_t>(to - from),
                       static_cast<std::size_t>(to - from));
    };
    if (engine.Header.VolumeCount == 0) {
        take(engine.GetExeFileName().Text(), 0, position + size);
        return bytes;
    }
    std::int64_t start = 0;
    for (int n = 1; n <= engine.Header.VolumeCount && n <= kMaxVolumes; ++n) {
        const std::int64_t end = start + engine.Header.VolumeSizes[n - 1];
        if (position < end && position + size > start) {
            const std::string name = engine.GetVolumeFileName(n).Text();
            if (!upd::IsRegularFile(name))
                throw upd::Exception(name + ": volume " + std::to_string(n) + " is missing");
            take(name, start, end);
        }
        start = end;
    }
    if (static_cast<std::int64_t>(bytes.size()) != size)
        throw upd::Exception("the volumes hold less patch data than the package says");
    return bytes;
}

} // namespace

int CmdExtract(const TArgs& args)
{
    const char* usage = "extract EXE N -o PATCH";
    if (args.size() != 4 || args[2] != "-o" || args[0].empty() || args[0][0] == '-')
        return Usage(usage);
    const long long number = PositiveNumber(args[1]);
    const std::string& exe = args[0];
    const std::string& output = args[3];
    const auto engine = OpenPackage(exe);
    const int count = engine->Update->PatchSets.Count();
    if (number < 1 || number > count)
        return UsageError("the package has patch sets 1 to " + std::to_string(count) + ", not '" + args[1] + "'",
                          usage);
    TOutputPlan plan;
    plan.Input(exe);
    for (int n = 1; n <= engine->Header.VolumeCount && n <= kMaxVolumes; ++n)
        plan.Input(engine->GetVolumeFileName(n).Text());
    plan.Output(output, "the patch");
    plan.Check();

    const TPatchSet& set = engine->Update->PatchSets.Items(static_cast<int>(number - 1));
    const std::vector<std::uint8_t> bytes = ReadSegmentData(*engine, set.Segment.Offset, set.Segment.Size);
    const std::string digest = MD5Text(bytes.data(), bytes.size());
    if (digest != set.Segment.Hash)
        throw upd::Exception("the patch data of patch set " + std::to_string(number) + " is damaged (MD5 digest " +
                             digest + ", the package says " + set.Segment.Hash + "); nothing was written");
    upd::TPendingFile pending(output);
    upd::WriteWholeFile(pending.Name(), bytes.data(), bytes.size());
    pending.Commit();
    std::printf("%s: %zu bytes, the patch of %s from %d old versions (updkit dump-patch lists them)\n",
                output.c_str(), bytes.size(), set.TargetFileName.c_str(), set.OldFiles.Count());
    return 0;
}

} // namespace updkit
