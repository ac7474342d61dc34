#include "wizard/UpdateStage.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "base/Exception.h"
#include "base/File.h"
#include "package/CautaFisier.h"
#include "package/Md5Hash.h"
#include "package/PatchDataEngine.h"
#include "patch/PatchIo.h"
#include "patch/UnPatchEngine.h"
#include "version/FileOps.h"
#include "wizard/UpdateFiles.h"

namespace upd::wizard {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

class TProgress {
public:
    TProgress(TUpdateStageHost& host, std::int32_t total) : m_host(host), m_total(total) {}
    void Step() { m_host.Progress(++m_done, m_total); }

private:
    TUpdateStageHost& m_host;
    std::int32_t m_total;
    std::int32_t m_done = 0;
};

// A temporary file deleted when it goes out of scope, whatever happened.
class TScratchFile {
public:
    explicit TScratchFile(std::string name) : Name(std::move(name)) {}
    ~TScratchFile()
    {
        if (FileExists(Name))
            DeleteFileNamed(Name);
    }
    TScratchFile(const TScratchFile&) = delete;
    TScratchFile& operator=(const TScratchFile&) = delete;
    const std::string Name;
};

void CopySegment(TFile& patchData, std::int64_t position, std::int32_t size, const std::string& target)
{
    patchData.Seek(position);
    TFile out(target, TFileMode::Create);
    std::vector<std::uint8_t> block(64 * 1024);
    std::int64_t left = size;
    while (left > 0) {
        std::size_t asked = static_cast<std::size_t>(std::min<std::int64_t>(left, block.size()));
        std::size_t got = patchData.Read(block.data(), asked);
        if (got == 0)
            break;
        out.Write(block.data(), got);
        left -= static_cast<std::int64_t>(got);
    }
}

void Rebuild(const std::string& patchFile, const package::TPatchSet& set, TProgress& progress)
{
    patch::TQvtUnPatchEngine engine;
    engine.LoadFromFile(patchFile);
    engine.CheckVersionIndex(set.SourceIndex);
    TFile output(set.PatchedFileName, TFileMode::Create);
    TFile old(set.SourceFileName, TFileMode::ReadShared);
    patch::TQvtFileSource source(old);
    patch::TQvtFileOutput sink(output);
    std::int32_t position = 0;
    int count = engine.Count();
    int step = count / 10;
    int threshold = 0;
    for (int i = 0; i < count; ++i) {
        engine.Instructions(i).Apply(sink, source, set.SourceIndex, position);
        if (i > threshold) {
            progress.Step();
            threshold += step;
        }
    }
    sink.Flush();
}

void BuildNewFile(TFile& patchData, std::int64_t dataStart, package::TPatchSet& set, TProgress& progress,
                  package::TPatchDataEngine& engine)
{
    set.PatchedFileName = version::MakeTempFileName("Patched", "bin");
    engine.TempFiles.push_back(set.PatchedFileName);
    TScratchFile segment(version::MakeTempFileName("Patch", "Patch"));
    progress.Step();
    CopySegment(patchData, dataStart + set.Segment.Offset, set.Segment.Size, segment.Name);
    if (version::GetFileSizeOf(segment.Name) != set.Segment.Size)
        throw Exception(kSegmentSizeMessage);
    progress.Step();
    if (package::FileMD5Text(segment.Name) != set.Segment.Hash)
        throw Exception(CorruptSegmentMessage(set.TargetFileName));
    try {
        Rebuild(segment.Name, set, progress);
    } catch (...) {
        // Half a file must not be taken for the new version.
        DeleteFileNamed(set.PatchedFileName);
        throw;
    }
    if (package::FileMD5Text(set.PatchedFileName) != set.NewHash)
        throw Exception(FailedUpdateMessage(set.TargetFileName));
    progress.Step();
}

// A free name beside `target` for the copy that will take its place.
std::string StagingName(const std::string& target)
{
    for (int n = 1;; ++n) {
        std::string name = target + ".nou" + std::to_string(n);
        if (!FileOrFolderExists(name))
            return name;
    }
}

void DiscardStaged(std::vector<std::string>& staged)
{
    for (const std::string& name : staged) {
        if (FileExists(name)) {
            ClearAttributes(name);
            DeleteFileNamed(name);
        }
    }
    staged.clear();
}

void ReplaceInstalledFiles(package::TPatchSetList& sets, TProgress& progress)
{
    // Every new file and twin is first copied beside its place; the renames
    // that follow cannot run out of room half-way.
    std::vector<std::string> staged;
    try {
        for (int i = 0; i < sets.Count(); ++i) {
            package::TPatchSet& set = sets.Items(i);
            SetReadOnly(set.PatchedFileName);
            for (const std::string& target : {set.SourceFileName, set.SourceFileName + "vf"}) {
                staged.push_back(StagingName(target));
                CopyFileOver(set.PatchedFileName, staged.back());
            }
        }
        std::size_t next = 0;
        for (int i = 0; i < sets.Count(); ++i) {
            package::TPatchSet& set = sets.Items(i);
            for (const std::string& target : {set.SourceFileName, set.SourceFileName + "vf"}) {
                ReplaceWithStaged(staged[next], target);
                staged[next++].clear();
                progress.Step();
            }
        }
    } catch (...) {
        DiscardStaged(staged);
        // Read-only by now: the package engine could not remove them at the end.
        for (int i = 0; i < sets.Count(); ++i)
            ClearAttributes(sets.Items(i).PatchedFileName);
        throw;
    }
    for (int i = 0; i < sets.Count(); ++i) {
        const package::TPatchSet& set = sets.Items(i);
        ClearAttributes(set.PatchedFileName);
        DeleteFileNamed(set.PatchedFileName);
    }
}

void WriteTagFile(const package::TUpdate& update, const std::string& tagFolder)
{
    ForceFolders(tagFolder);
    std::string name = tagFolder + kSeparator + update.TagFileName;
    if (FileExists(name))
        return;
    std::string text = TagFileText(update.TagText);
    WriteWholeFile(name, text.data(), text.size());
}

} // namespace

std::string CorruptSegmentMessage(const std::string& targetFileName)
{
    return "Segmentul de date necesar actualizarii fisierului " + targetFileName + " este corupt";
}

std::string FailedUpdateMessage(const std::string& targetFileName)
{
    return "Actualizarea fisierului " + package::ExtractName(targetFileName) +
           " a esuat. Programul de actualizare nu poate continua dupa aceasta eroare. Va rugam contactati Tarvix "
           "sau descarcati de pe internet versiunea de actualizare COMPLETA.";
}

std::string UpdatingStatus(const std::string& targetFileName)
{
    return "Actualizez " + package::ExtractName(targetFileName);
}

std::string TagFileText(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

void RunUpdateStage(package::TPatchDataEngine& engine, TUpdateStageHost& host, const std::string& tagFolder)
{
    package::TUpdate& update = *engine.Update;
    TFile patchData(engine.PatchTotalFileName, TFileMode::ReadDenyWrite);
    const std::int64_t dataStart =
        static_cast<std::int64_t>(engine.Header.PackageSize) - static_cast<std::int64_t>(package::kPatchHeaderSize);
    TProgress progress(host, 15 * update.PatchSets.Count());
    for (int i = 0; i < update.PatchSets.Count(); ++i) {
        package::TPatchSet& set = update.PatchSets.Items(i);
        host.Status(UpdatingStatus(set.TargetFileName));
        BuildNewFile(patchData, dataStart, set, progress, engine);
    }
    if (update.CopySets.Count() > 0)
        throw Exception(kCopySetsMessage);
    host.Status(kFinishingStatus);
    ReplaceInstalledFiles(update.PatchSets, progress);
    WriteTagFile(update, tagFolder);
}

} // namespace upd::wizard
