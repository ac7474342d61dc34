#include "package/CautaFisier.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <type_traits>

namespace upd::package {

TPath DisketteDrive(const TPath& exeFileName)
{
    const TPath::TNative& name = exeFileName.Native();
    if (name.size() < 3 || name[1] != ':' || name[2] != '\\')
        return {};
    const auto first = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<TPath::TNative::value_type>>(name[0]));
    char letter = first < 0x80 ? static_cast<char>(first) : '?';
    if (letter == 'a' || letter == 'b')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter != 'A' && letter != 'B')
        return {};
    return std::string(1, letter) + ":";
}

TPath ExtractFolder(const TPath& path)
{
    std::size_t slash = path.Native().rfind('\\');
    return slash == TPath::TNative::npos ? TPath() : TPath::FromNative(path.Native().substr(0, slash));
}

TPath ExtractName(const TPath& path) { return path.Name(); }

std::string VolumeRequestExplanation(const TPath& fileName, std::int32_t volumeNumber, bool fromDiskette)
{
    std::string text = "Programul de actualizare are nevoie de fisierul " + fileName.Text();
    if (fromDiskette)
        return text + " Acest fisier se gaseste pe discheta nr " + std::to_string(volumeNumber) +
               ". Va rugam introduceti aceasta discheta in unitate sau indicati calea catre fisierul respectiv";
    return text + " Va rugam indicati calea catre fisierul solicitat.";
}

std::string DisketteRequestText(std::int32_t volumeNumber)
{
    return "Va rog introduceti in unitate discheta " + std::to_string(volumeNumber);
}

TPath VolumeFileFilter(const TPath& fileName)
{
    return "Fisiere " + fileName + "|" + fileName + "|Orice fel de fisier|*.*";
}

std::string CheckChosenFile(const TPath& text, TVolumeSearchHost& host)
{
    if (text.Empty())
        return kEmptyFileNameMessage;
    if (host.FileExists(text))
        return {};
    return "Fisierul " + text.Text() + " nu exista";
}

namespace {

// The search that needs nobody: beside the executable, then one level down
// from its parent folder (one folder per downloaded diskette image). Calls
// `found` with each existing file in that order until it returns true.
template <typename TFound>
void SearchNearExecutable(const TPath& fileName, const TPath& folder, TVolumeSearchHost& host, TFound found)
{
    TPath beside = folder + "\\" + fileName;
    if (host.FileExists(beside) && found(beside))
        return;
    TPath parent = ExtractFolder(folder);
    // A folder right under a drive root has the bare drive as its parent:
    // searching the whole drive is not what the user expects.
    if (parent.Native().find('\\') == TPath::TNative::npos)
        return;
    for (const TPath& entry : host.FolderEntries(parent)) {
        TPath candidate = parent + "\\" + entry + "\\" + fileName;
        if (host.FileExists(candidate) && found(candidate))
            return;
    }
}

bool SearchNearExecutable(TRequestVolume& request, const TPath& folder, TVolumeSearchHost& host)
{
    bool any = false;
    SearchNearExecutable(request.FileName, folder, host, [&](const TPath& path) {
        request.Path = path;
        return any = true;
    });
    return any;
}

bool SamePathText(const TPath& a, const TPath& b)
{
    const std::string x = a.Text(), y = b.Text();
    return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), [](char p, char q) {
               return std::tolower(static_cast<unsigned char>(p)) == std::tolower(static_cast<unsigned char>(q));
           });
}

} // namespace

void ServeVolumeRequest(TRequestVolume& request, const TPath& exeFileName, TVolumeSearchHost& host)
{
    TPath folder = ExtractFolder(exeFileName);
    TPath drive = DisketteDrive(exeFileName);
    if (request.Attempt == 0) {
        if (SearchNearExecutable(request, folder, host))
            return;
        if (!drive.Empty()) {
            for (int prompt = 0; prompt < 2 && !host.FileExists(drive + "\\" + request.FileName); ++prompt) {
                if (host.PromptForDiskette(DisketteRequestText(request.VolumeNumber)))
                    continue;
                if (host.RequestClose()) {
                    request.Abandoned = true;
                    return;
                }
            }
        }
    }
    TPath start = (drive.Empty() ? folder : drive) + "\\" + request.FileName;
    TPath chosen;
    bool closed = false;
    std::string explanation = VolumeRequestExplanation(request.FileName, request.VolumeNumber, !drive.Empty());
    // A repeat tells the user first what was wrong with the last answer.
    if (request.Attempt > 0 && !request.Message.empty())
        explanation = request.Message + ". " + explanation;
    bool ok = host.ShowDialog(explanation, start, VolumeFileFilter(request.FileName), chosen, closed);
    request.Path = ok ? chosen : TPath();
    request.Abandoned = closed;
}

namespace {

const char kUnattendedStop[] = "Actualizarea s-a oprit si niciun fisier instalat nu a fost schimbat.";

} // namespace

std::string VolumeNotFoundMessage(const TPath& fileName, bool fromDiskette)
{
    return "Programul de actualizare are nevoie de fisierul " + fileName.Text() +
           ", dar nu l-a gasit nici langa el, nici in folderele alaturate" + (fromDiskette ? ", nici pe discheta" : "") +
           ". " + kUnattendedStop;
}

std::vector<TPath> VolumeCandidates(const TPath& fileName, const TPath& exeFileName, TVolumeSearchHost& host)
{
    std::vector<TPath> candidates;
    auto add = [&](const TPath& path) {
        // The executable's own folder is also one of its parent's entries.
        if (std::none_of(candidates.begin(), candidates.end(), [&](const TPath& c) { return SamePathText(c, path); }))
            candidates.push_back(path);
        return false;
    };
    SearchNearExecutable(fileName, ExtractFolder(exeFileName), host, add);
    const TPath drive = DisketteDrive(exeFileName);
    if (!drive.Empty() && host.FileExists(drive + "\\" + fileName))
        add(drive + "\\" + fileName);
    return candidates;
}

void FindVolumeUnattended(TRequestVolume& request, const TPath& exeFileName, TVolumeSearchHost& host)
{
    request.Path = {};
    const TPath drive = DisketteDrive(exeFileName);
    // Each repeat takes the next place: the worker refused the file found
    // before (a wrong file beside the program may hide the right one in a
    // sibling folder).
    const std::vector<TPath> candidates = VolumeCandidates(request.FileName, exeFileName, host);
    if (request.Attempt >= 0 && static_cast<std::size_t>(request.Attempt) < candidates.size()) {
        request.Path = candidates[static_cast<std::size_t>(request.Attempt)];
        return;
    }
    // The worker's reason says what was wrong with the last file found.
    request.Error = request.Attempt == 0 || request.Message.empty()
                        ? VolumeNotFoundMessage(request.FileName, !drive.Empty())
                        : request.Message + ". " + kUnattendedStop;
}

} // namespace upd::package
