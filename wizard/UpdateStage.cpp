#include "wizard/UpdateStage.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <memory>
#include <vector>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "base/File.h"
#include "package/CautaFisier.h"
#include "package/Md5Hash.h"
#include "package/PatchDataEngine.h"
#include "patch/PatchIo.h"
#include "patch/UnPatchEngine.h"
#include "version/FileOps.h"
#include "wizard/StageControl.h"
#include "wizard/UpdateFiles.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateLog.h"
#include "wizard/UpdateTransaction.h"

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

// A work file held open from its creation (nobody else may write, rename or
// delete it meanwhile), closed and deleted when it goes out of scope,
// whatever happened.
class TScratchFile {
public:
    explicit TScratchFile(TFile file) : File(std::move(file)) {}
    ~TScratchFile()
    {
        const TPath name = File.Name();
        File.Close();
        if (FileExists(name))
            DeleteFileNamed(name);
    }
    TScratchFile(const TScratchFile&) = delete;
    TScratchFile& operator=(const TScratchFile&) = delete;
    TFile File;
};

void CopySegment(TFile& patchData, std::int64_t position, std::int32_t size, TFile& out,
                 const TStageControl& control)
{
    patchData.Seek(position);
    std::vector<std::uint8_t> block(64 * 1024);
    std::int64_t left = size;
    while (left > 0) {
        control.CheckCancelled();
        std::size_t asked = static_cast<std::size_t>(std::min<std::int64_t>(left, block.size()));
        std::size_t got = patchData.Read(block.data(), asked);
        if (got == 0)
            break;
        out.Write(block.data(), got);
        left -= static_cast<std::int64_t>(got);
    }
}

// Ten progress steps per file whatever its instruction count, so that the
// bar ends exactly where the stage does.
constexpr int kInstructionSteps = 10;

// Moves the bar by the instructions written and lets a closing wizard stop
// the rebuild between them.
class TRebuildProgress : public patch::TQvtUnPatchProgress {
public:
    TRebuildProgress(TProgress& progress, const TStageControl& control) : m_progress(progress), m_control(control) {}
    void Applied(std::int32_t done, std::int32_t count) override
    {
        m_control.CheckCancelled();
        const int due = count > 0 ? static_cast<int>(static_cast<std::int64_t>(done) * kInstructionSteps / count)
                                  : kInstructionSteps;
        for (; m_reported < due; ++m_reported)
            m_progress.Step();
    }
    void Finish()
    {
        for (; m_reported < kInstructionSteps; ++m_reported)
            m_progress.Step();
    }

private:
    TProgress& m_progress;
    const TStageControl& m_control;
    int m_reported = 0;
};

void Rebuild(const TPath& patchFile, const package::TPatchSet& set, TFile& output, TProgress& progress,
             const TStageControl& control)
{
    // The package says how large the new file is: a patch that would make
    // more, or need more memory than such a file justifies, is refused
    // before anything is written.
    patch::TQvtUnPatchLimits limits;
    if (set.NewSize >= 0)
        limits.MaxOutput = set.NewSize;
    control.CheckCancelled();
    TFile old(set.SourceFileName, TFileMode::ReadShared);
    patch::TQvtFileSource source(old);
    patch::TQvtFileOutput sink(output);
    TRebuildProgress rebuilt(progress, control);
    // One pass: the patch is inflated once, and every code is checked before
    // the first byte of the new file is written (the native build may write
    // while the literal bytes are still inflated, and starts the file again
    // if it has to fall back). A new file of 4 MB or more is written in two
    // halves at once; the progress is still told on this thread, so closing
    // the wizard stops both.
    patch::TQvtUnPatchEngine::ApplyFile(patchFile, source, set.SourceIndex, sink, limits, &rebuilt);
    rebuilt.Finish();
    sink.Flush();
}

std::string ReasonOf(const std::exception& e)
{
    const auto* own = dynamic_cast<const Exception*>(&e);
    return own ? own->Message() : std::string(e.what());
}

// Builds and checks the new file of one patch set in the work folder. The
// segment copy is held open from its creation until it is decoded, so the
// decoder reads the bytes that were hashed; the new file is held open too,
// hashed through its own handle, and handed back still open: nobody can
// change it before it is copied beside its target.
TFile BuildNewFile(TFile& patchData, std::int64_t dataStart, package::TPatchSet& set, TProgress& progress,
                   package::TPatchDataEngine& engine, const TRunRecords& records, const TStageControl& control)
{
    TFile output = version::CreateTempFile("Patched", "bin");
    set.PatchedFileName = output.Name();
    engine.TempFiles.push_back(set.PatchedFileName);
    records.Journal.AddTempFile(set.PatchedFileName.Text());
    TScratchFile segment(version::CreateTempFile("Patch", "Patch"));
    records.Journal.AddTempFile(segment.File.Name().Text());
    progress.Step();
    CopySegment(patchData, dataStart + set.Segment.Offset, set.Segment.Size, segment.File, control);
    if (segment.File.Size() != set.Segment.Size)
        throw Exception(kSegmentSizeMessage);
    progress.Step();
    if (package::OpenFileMD5Text(segment.File) != set.Segment.Hash)
        throw Exception(CorruptSegmentMessage(set.TargetFileName));
    try {
        Rebuild(segment.File.Name(), set, output, progress, control);
    } catch (const std::exception& e) {
        // Half a file must not be taken for the new version; the user is told
        // what to do, and support sees the engine's reason after it.
        output.Close();
        DeleteFileNamed(set.PatchedFileName);
        throw Exception(FailedUpdateMessage(set.TargetFileName) + "\r\n" + ReasonOf(e));
    } catch (...) {
        output.Close();
        DeleteFileNamed(set.PatchedFileName);
        throw;
    }
    control.CheckCancelled();
    if (package::OpenFileMD5Text(output) != set.NewHash)
        throw Exception(FailedUpdateMessage(set.TargetFileName));
    records.Log.Rebuilt(set);
    progress.Step();
    return output;
}

// Every target and twin must be free before the first one changes: a file
// that another program holds is named to the user, who may close that
// program and try again, or stop with nothing changed.
void WaitUntilReplaceable(const std::vector<TReplacement>& files, TFileOps& ops, TUpdateStageHost& host,
                          const TStageControl& control)
{
    for (const TReplacement& file : files) {
        std::string reason;
        while (!ops.CanReplace(file.Target, reason)) {
            if (!host.AskRetry(FileInUseMessage(file.Target, reason, ProgramsUsing(file.Target))))
                throw TStageAbandoned{};
            control.CheckCancelled();
        }
    }
}

void RemoveNewFiles(const package::TPatchSetList& sets)
{
    for (int i = 0; i < sets.Count(); ++i)
        RemoveFile(sets.Items(i).PatchedFileName);
}

} // namespace

std::string CorruptSegmentMessage(const std::string& targetFileName)
{
    return "Segmentul de date necesar actualizarii fisierului " + targetFileName + " este corupt";
}

std::string FailedUpdateMessage(const std::string& targetFileName)
{
    return "Actualizarea fisierului " + package::ExtractName(targetFileName).Text() +
           " a esuat. Programul de actualizare nu poate continua dupa aceasta eroare. Va rugam contactati Tarvix "
           "sau descarcati de pe internet versiunea de actualizare COMPLETA.";
}

std::string UpdatingStatus(const std::string& targetFileName)
{
    return "Actualizez " + package::ExtractName(targetFileName).Text();
}

std::string TagFileText(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    // The file keeps the package's code page, byte for byte.
    return Utf8ToCp1250(text);
}

std::string FileInUseMessage(const std::string& path, const std::string& reason, const std::string& programs)
{
    std::string text = "Fisierul " + path + " nu poate fi inlocuit acum";
    text += programs.empty() ? std::string(": este folosit de un alt program.") : " deoarece il foloseste " + programs + ".";
    if (!reason.empty())
        text += "\r\n" + reason;
    return text + "\r\nInchideti programul care il foloseste, apoi apasati \"Reincercare\". Daca apasati \"Revocare\", "
                  "actualizarea se opreste si niciun fisier instalat nu este schimbat.";
}

bool IsPlainFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || Utf8Letters(name) > 255)
        return false;
    for (unsigned char c : name)
        if (c < 32 || std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
            return false;
    // Windows drops trailing dots and spaces, and a device name stays a
    // device whatever extension follows it.
    if (name.back() == '.' || name.back() == ' ')
        return false;
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (base == device)
            return false;
    if (base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '0' &&
        base[3] <= '9')
        return false;
    return true;
}

std::string BadTagFileNameMessage(const std::string& name)
{
    return "Numele fisierului de marcaj \"" + name +
           "\" din pachetul de actualizare nu este un nume de fisier valid. Pachetul de actualizare este deteriorat; "
           "va rugam descarcati de pe internet din nou programul de actualizare.";
}

void RunUpdateStage(package::TPatchDataEngine& engine, TUpdateStageHost& host, const TRunRecords& records,
                    const TUpdateStageOptions& options)
{
    TFileOps& ops = options.Ops ? *options.Ops : SystemFileOps();
    TStageControl& control = options.Control ? *options.Control : StageControl();
    package::TUpdate& update = *engine.Update;
    // Refused before anything is built: the name would place the tag file
    // outside its folder, or nowhere.
    if (!IsPlainFileName(update.TagFileName))
        throw Exception(BadTagFileNameMessage(update.TagFileName));
    TFile patchData(engine.PatchTotalFileName, TFileMode::ReadDenyWrite);
    const std::int64_t dataStart =
        static_cast<std::int64_t>(engine.Header.PackageSize) - static_cast<std::int64_t>(package::kPatchHeaderSize);
    TProgress progress(host, 15 * update.PatchSets.Count());
    // The new files stay open, refusing writers, until they are copied.
    std::vector<TFile> built;
    for (int i = 0; i < update.PatchSets.Count(); ++i) {
        control.CheckCancelled();
        package::TPatchSet& set = update.PatchSets.Items(i);
        host.Status(UpdatingStatus(set.TargetFileName));
        built.push_back(BuildNewFile(patchData, dataStart, set, progress, engine, records, control));
    }
    if (update.CopySets.Count() > 0)
        throw Exception(kCopySetsMessage);
    host.Status(kFinishingStatus);

    std::vector<TReplacement> targets;
    for (int i = 0; i < update.PatchSets.Count(); ++i) {
        const package::TPatchSet& set = update.PatchSets.Items(i);
        targets.push_back({set.PatchedFileName, set.SourceFileName, set.NewHash});
    }
    const std::vector<TReplacement> files = PlanReplacements(targets);
    WaitUntilReplaceable(files, ops, host, control);
    {
        TReplacementScope replacing(control);
        ReplaceAll(files, options.TagFolder + kSeparator + update.TagFileName, TagFileText(update.TagText),
                   records.Journal, records.Log, ops, [&] { progress.Step(); });
    }
    built.clear();
    RemoveNewFiles(update.PatchSets);
}

} // namespace upd::wizard
