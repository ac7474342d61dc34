#include "wizard/ValidationStage.h"

#include <algorithm>

#include "base/Exception.h"
#include "package/DuplicateNames.h"
#include "package/Update.h"
#include "version/VersionText.h"
#include "wizard/UpdateLog.h"

namespace upd::wizard {

namespace {

using upd::version::CompareVersions;
using upd::version::IsVersionText;
using upd::version::kInfoNotAvailable;

std::string Tag(const char* kind, TVerdict verdict, std::int32_t n, std::int32_t count)
{
    return " (" + std::to_string(n) + "/" + std::to_string(count) + "/" + kind + "/" +
           std::to_string(static_cast<int>(verdict)) + ")";
}

// The texts that the must-have and the patch messages share.
std::string CommonText(TVerdict verdict, const std::string& path, const std::string& version)
{
    switch (verdict) {
    case TVerdict::Between:
        return "Versiunea fisierului " + path + " (" + version +
               ") se afla intre cea mai veche si cea mai noua versiune recunoscuta de acest program de "
               "actualizare. "
               "Aceasta varianta de actualizare nu poate continua deoarece integritatea acestui fisier nu poate "
               "fi validata. Va rugam contactati "
               "Tarvix sau descarcati de pe internet varianta \"completa\" de actualizare a programului ";
    case TVerdict::Older:
        return "Versiunea fisierului " + path + " (" + version +
               ") este mai veche decat cea mai veche versiune recunoscuta de acest program. "
               "Va rugam contactati Tarvix sau descarcati de pe internet versiunea \"completa\" a programului "
               "de actualizare ";
    case TVerdict::Newer:
        return "Versiunea fisierului " + path + " (" + version +
               ") este mai NOUA decat versiunea pe care o stie actualiza acest program. "
               "Probabil incercati sa utilizati un program de actualizare mai vechi decat programul deja "
               "instalat! ";
    case TVerdict::NoVersion:
        return "Fisierul " + path +
               " a fost modificat si nu mai poate fi utilizat in cadrul acestei actualizari."
               " Cel mai probabil fisierul a fost modificat de catre un virus."
               " Din nefericire aceasta eroare inseamna ca nu pot continua actualizarea. Va rugam contactati "
               "Tarvix pentru informatii suplimentare sau descarcati de pe internet varianta \"completa\" a "
               "programului de actualizare.";
    case TVerdict::Corrupt:
        return "Fisierul " + path +
               " a fost corupt si nu mai poate fi utilizat in cadrul acestei actualizari."
               " Acesta poate fi primul semn al unor probleme mult mai grave pe care le poate avea calculatorul "
               "dumneavoastra, va rugam contactati Tarvix cat mai curand cu putinta si solicitati verificarea "
               "completa a calculatorului!";
    default:
        // Modified and Missing have texts of their own in both callers.
        throw Exception(TErrorKind::Internal, "bug");
    }
}

// A set's message with its tag's facts beside it; defined below the messages.
TFinding MustHaveFinding(TVerdict verdict, const std::string& path, const std::string& version, std::int32_t n,
                         std::int32_t count);
TFinding PatchFinding(TVerdict verdict, const std::string& path, const std::string& version, std::int32_t n,
                      std::int32_t count);

// Reads the installed version of a set's file and tells the sink.
std::string ReadVersion(const std::string& path, const TFileProbe& probe, TValidationSink& sink)
{
    std::string version = InstalledVersion(path, probe);
    sink.VersionFound(path, version);
    return version;
}

// Version flags of an unmatched set against the known versions that are valid
// version texts.
struct TFlags {
    bool Older = false;
    bool Same = false;
    bool Newer = false;
    std::int32_t SameIndex = -1; ///< the last known version equal to the installed one

    bool Any() const { return Older || Same || Newer; }
};

TFlags CompareWithKnown(const std::string& installed, const TSignatureList& known)
{
    TFlags flags;
    for (std::size_t i = 0; i < known.size(); ++i) {
        if (!IsVersionText(known[i]->Version))
            continue;
        std::int32_t sign = CompareVersions(installed, known[i]->Version);
        if (sign < 0) {
            flags.Older = true;
        } else if (sign > 0) {
            flags.Newer = true;
        } else {
            flags.Same = true;
            flags.SameIndex = static_cast<std::int32_t>(i);
        }
    }
    return flags;
}

// The first rule that applies among "between", "older", "newer".
TVerdict RangeVerdict(const TFlags& flags)
{
    if (flags.Older && flags.Newer)
        return TVerdict::Between;
    return flags.Older ? TVerdict::Older : TVerdict::Newer;
}

std::int32_t FirstMatch(const TSignatureList& signatures, const TFileProbe& probe)
{
    for (std::size_t i = 0; i < signatures.size(); ++i)
        if (probe.SignatureMatches(*signatures[i]))
            return static_cast<std::int32_t>(i);
    return -1;
}

// Returns false after a fatal finding.
bool CheckMustHaveSet(const TSignatureList& set, std::int32_t n, std::int32_t count, TValidationSink& sink,
                      const TFileProbe& probe)
{
    if (FirstMatch(set, probe) >= 0)
        return true;
    if (set.empty())
        throw Exception("List index out of bounds (0)"); // its first signature is missing
    const std::string& path = set.front()->FileName;
    if (!probe.FileExists(path)) {
        sink.Fatal(MustHaveFinding(TVerdict::Missing, path, {}, n, count));
        return false;
    }
    std::string version = ReadVersion(path, probe, sink);
    if (version == kInfoNotAvailable) {
        TVerdict verdict = IsVersionedFileName(path) ? TVerdict::NoVersion : TVerdict::Corrupt;
        sink.Fatal(MustHaveFinding(verdict, path, version, n, count));
        return false;
    }
    // An installed text that is no version number fails inside the comparison.
    TFlags flags = CompareWithKnown(version, set);
    if (!flags.Any())
        return true;
    if (flags.Same) {
        sink.Warning(MustHaveFinding(TVerdict::Modified, path, version, n, count));
        return true;
    }
    sink.Fatal(MustHaveFinding(RangeVerdict(flags), path, version, n, count));
    return false;
}

bool CheckPatchSet(const TPatchSetView& set, std::int32_t n, std::int32_t count, TValidationSink& sink,
                   const TFileProbe& probe)
{
    std::int32_t match = FirstMatch(set.OldFiles, probe);
    if (match >= 0) {
        sink.SourceChosen(n, match, set.OldFiles[match]->FileName);
        return true;
    }
    const std::string& path = set.TargetFileName;
    if (!probe.FileExists(path)) {
        sink.Fatal(PatchFinding(TVerdict::Missing, path, {}, n, count));
        return false;
    }
    std::string version = ReadVersion(path, probe, sink);
    if (version == kInfoNotAvailable || !IsVersionText(version)) {
        TVerdict verdict = IsVersionedFileName(path) ? TVerdict::NoVersion : TVerdict::Corrupt;
        sink.Fatal(PatchFinding(verdict, path, version, n, count));
        return false;
    }
    TFlags flags = CompareWithKnown(version, set.OldFiles);
    if (!flags.Any()) {
        sink.Fatal(UntaggedFinding(kNoVerdictMessage));
        return false;
    }
    if (flags.Same) {
        sink.Warning(PatchFinding(TVerdict::Modified, path, version, n, count));
        // The update patches the modified file as if it were that old version.
        sink.SourceChosen(n, flags.SameIndex, set.OldFiles[flags.SameIndex]->FileName);
        return true;
    }
    TVerdict verdict = RangeVerdict(flags);
    if (verdict == TVerdict::Newer && version == set.NewVersion) {
        sink.AlreadyUpdated();
        sink.Fatal(UntaggedFinding(AlreadyUpdatedMessage(path, version)));
    } else {
        sink.Fatal(PatchFinding(verdict, path, version, n, count));
    }
    return false;
}

} // namespace

bool IsVersionedFileName(const std::string& path)
{
    std::size_t dot = path.find_last_of(".\\:");
    if (dot == std::string::npos || path[dot] != '.')
        return false;
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return extension == ".exe" || extension == ".dll";
}

std::string InstalledVersion(const std::string& path, const TFileProbe& probe)
{
    return IsVersionedFileName(path) ? probe.FileVersionText(path) : std::string(kInfoNotAvailable);
}

std::string MustHaveMessage(TVerdict verdict, const std::string& path, const std::string& version,
                            std::int32_t n, std::int32_t count)
{
    std::string text;
    switch (verdict) {
    case TVerdict::Modified:
        text = "Fisierul " + path + " cu versiunea " + version +
               ", fisier necesar bunei functionari a programului "
               "a fost modificat - cel mai probabil din cauza unui virus. Programul de actualizare va ignora "
               "aceasta problema "
               "dar este necesar sa va verificati calculatorul cu un program antivirus cat mai curand cu putinta. ";
        break;
    case TVerdict::Missing:
        text = "Fisierul " + path +
               " ar fi trebuit sa existe pe calculatorul dumneavoastra dar NU exista. "
               "Acest fisier este necesar bunei functionari a programelor si fara el nu se poate face actualizarea. "
               "Va rugam contactati Tarvix si solicitati reinstalarea programului";
        break;
    default:
        text = CommonText(verdict, path, version);
        break;
    }
    return text + Tag("Test", verdict, n, count);
}

std::string PatchMessage(TVerdict verdict, const std::string& path, const std::string& version, std::int32_t n,
                         std::int32_t count)
{
    std::string text;
    switch (verdict) {
    case TVerdict::Modified:
        text = "Fisierul " + path + " cu versiunea " + version +
               ", fisier care urmeaza sa fie actualizat a fost modificat, "
               "cel mai probabil de catre un virus. Aceasta este o eroare foarte serioasa care poate conduce la "
               "esecul intregii actualizari. Programul va incerca sa efectueze actualizarea chiar si pe baza "
               "acestui fisier insa succesul nu poate fi garantat. ";
        break;
    case TVerdict::Missing:
        text = "Fisierul " + path + " nu exista, nu pot continua actualizarea. Va rugam contactati Tarvix.";
        break;
    default:
        text = CommonText(verdict, path, version);
        break;
    }
    return text + Tag("Patch", verdict, n, count);
}

namespace {

TFinding Tagged(std::string text, TSetKind kind, TVerdict verdict, std::int32_t n, std::int32_t count)
{
    return TFinding{std::move(text), kind, n, count, verdict};
}

TFinding MustHaveFinding(TVerdict verdict, const std::string& path, const std::string& version, std::int32_t n,
                         std::int32_t count)
{
    return Tagged(MustHaveMessage(verdict, path, version, n, count), TSetKind::MustHave, verdict, n, count);
}

TFinding PatchFinding(TVerdict verdict, const std::string& path, const std::string& version, std::int32_t n,
                      std::int32_t count)
{
    return Tagged(PatchMessage(verdict, path, version, n, count), TSetKind::Patch, verdict, n, count);
}

} // namespace

std::string AlreadyUpdatedMessage(const std::string& path, const std::string& version)
{
    return "Fisierul " + path + " a fost deja actualizat la versiunea " + version +
           " - probabil ati pornit acelasi program de actualizare a doua oara!";
}

bool RunValidation(const TValidationInput& input, TValidationSink& sink, const TFileProbe& probe)
{
    auto total = static_cast<std::int32_t>(input.MustHaveSets.size() + input.PatchSets.size());
    std::int32_t done = 0;
    sink.Progress(done, total);
    // Two patch sets replacing one file could never both succeed: refused
    // before any file is looked at.
    std::vector<std::string> targets;
    for (const TPatchSetView& set : input.PatchSets)
        targets.push_back(set.TargetFileName);
    if (auto same = upd::package::FindSameFileTwice(targets)) {
        sink.Fatal(UntaggedFinding(upd::package::SameFileTwiceMessage(*same)));
        return false;
    }

    auto mustHaveCount = static_cast<std::int32_t>(input.MustHaveSets.size());
    for (std::int32_t i = 0; i < mustHaveCount; ++i) {
        sink.Progress(++done, total);
        if (!CheckMustHaveSet(input.MustHaveSets[i], i + 1, mustHaveCount, sink, probe))
            return false;
    }
    auto patchCount = static_cast<std::int32_t>(input.PatchSets.size());
    for (std::int32_t i = 0; i < patchCount; ++i) {
        sink.Progress(++done, total);
        if (!CheckPatchSet(input.PatchSets[i], i + 1, patchCount, sink, probe))
            return false;
    }
    return true;
}

namespace {

// Writes the chosen old version into the patch set before passing the event on.
class TSourceRecorder : public TValidationSink {
public:
    TSourceRecorder(upd::package::TUpdate& update, TValidationSink& next) : m_update(update), m_next(next) {}

    void Progress(std::int32_t done, std::int32_t total) override { m_next.Progress(done, total); }
    void Warning(const TFinding& finding) override { m_next.Warning(finding); }
    void Fatal(const TFinding& finding) override { m_next.Fatal(finding); }
    void VersionFound(const std::string& path, const std::string& version) override
    {
        m_next.VersionFound(path, version);
    }
    void AlreadyUpdated() override { m_next.AlreadyUpdated(); }
    void SourceChosen(std::int32_t n, std::int32_t index, const std::string& path) override
    {
        auto& set = m_update.PatchSets.Items(n - 1);
        set.SourceFileName = path;
        set.SourceIndex = index;
        m_next.SourceChosen(n, index, path);
    }

private:
    upd::package::TUpdate& m_update;
    TValidationSink& m_next;
};

TSignatureList View(const upd::package::TMustHaveSet& set)
{
    TSignatureList list;
    for (const auto& signature : set)
        list.push_back(signature.get());
    return list;
}

} // namespace

bool RunValidation(upd::package::TUpdate& update, TValidationSink& sink, const TFileProbe& probe)
{
    TValidationInput input;
    for (const auto& set : update.MustHaveSets)
        input.MustHaveSets.push_back(View(*set));
    for (const auto& set : update.PatchSets)
        input.PatchSets.push_back({View(set->OldFiles), set->TargetFileName, set->NewVersion});
    TSourceRecorder recorder(update, sink);
    return RunValidation(input, recorder, probe);
}

void TValidationLogger::Progress(std::int32_t done, std::int32_t total)
{
    m_log.Checked(done, total);
    m_next.Progress(done, total);
}

void TValidationLogger::Warning(const TFinding& finding)
{
    m_log.Finding(false, finding);
    m_next.Warning(finding);
}

void TValidationLogger::Fatal(const TFinding& finding)
{
    m_log.Finding(true, finding);
    m_next.Fatal(finding);
}

void TValidationLogger::VersionFound(const std::string& path, const std::string& version)
{
    m_log.VersionFound(path, version);
    m_next.VersionFound(path, version);
}

void TValidationLogger::SourceChosen(std::int32_t n, std::int32_t index, const std::string& path)
{
    m_log.SourceChosen(n, index, path);
    m_next.SourceChosen(n, index, path);
}

} // namespace upd::wizard
