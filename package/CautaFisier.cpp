#include "package/CautaFisier.h"

namespace upd::package {

std::string DisketteDrive(const std::string& exeFileName)
{
    if (exeFileName.size() < 3 || exeFileName[1] != ':' || exeFileName[2] != '\\')
        return {};
    char letter = exeFileName[0];
    if (letter == 'a' || letter == 'b')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter != 'A' && letter != 'B')
        return {};
    return std::string(1, letter) + ":";
}

std::string ExtractFolder(const std::string& path)
{
    std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string ExtractName(const std::string& path)
{
    std::size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string VolumeRequestExplanation(const std::string& fileName, std::int32_t volumeNumber, bool fromDiskette)
{
    std::string text = "Programul de actualizare are nevoie de fisierul " + fileName;
    if (fromDiskette)
        return text + " Acest fisier se gaseste pe discheta nr " + std::to_string(volumeNumber) +
               ". Va rugam introduceti aceasta discheta in unitate sau indicati calea catre fisierul respectiv";
    return text + " Va rugam indicati calea catre fisierul solicitat.";
}

std::string DisketteRequestText(std::int32_t volumeNumber)
{
    return "Va rog introduceti in unitate discheta " + std::to_string(volumeNumber);
}

std::string VolumeFileFilter(const std::string& fileName)
{
    return "Fisiere " + fileName + "|" + fileName + "|Orice fel de fisier|*.*";
}

std::string CheckChosenFile(const std::string& text, TVolumeSearchHost& host)
{
    if (text.empty())
        return kEmptyFileNameMessage;
    if (host.FileExists(text))
        return {};
    return "Fisierul " + text + " nu exista";
}

namespace {

// The search that needs nobody: beside the executable, then one level down
// from its parent folder (one folder per downloaded diskette image).
bool SearchNearExecutable(TRequestVolume& request, const std::string& folder, TVolumeSearchHost& host)
{
    std::string beside = folder + "\\" + request.FileName;
    if (host.FileExists(beside)) {
        request.Path = beside;
        return true;
    }
    std::string parent = ExtractFolder(folder);
    // A folder right under a drive root has the bare drive as its parent:
    // searching the whole drive is not what the user expects.
    if (parent.find('\\') == std::string::npos)
        return false;
    for (const std::string& entry : host.FolderEntries(parent)) {
        std::string candidate = parent + "\\" + entry + "\\" + request.FileName;
        if (host.FileExists(candidate)) {
            request.Path = candidate;
            return true;
        }
    }
    return false;
}

} // namespace

void ServeVolumeRequest(TRequestVolume& request, const std::string& exeFileName, TVolumeSearchHost& host)
{
    std::string folder = ExtractFolder(exeFileName);
    std::string drive = DisketteDrive(exeFileName);
    if (request.Attempt == 0) {
        if (SearchNearExecutable(request, folder, host))
            return;
        if (!drive.empty()) {
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
    std::string start = (drive.empty() ? folder : drive) + "\\" + request.FileName;
    std::string chosen;
    bool closed = false;
    std::string explanation = VolumeRequestExplanation(request.FileName, request.VolumeNumber, !drive.empty());
    // A repeat tells the user first what was wrong with the last answer.
    if (request.Attempt > 0 && !request.Message.empty())
        explanation = request.Message + ". " + explanation;
    bool ok = host.ShowDialog(explanation, start, VolumeFileFilter(request.FileName), chosen, closed);
    request.Path = ok ? chosen : std::string();
    request.Abandoned = closed;
}

} // namespace upd::package
