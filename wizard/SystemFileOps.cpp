#include <vector>

#include "base/Exception.h"
#include "base/File.h"
#include "wizard/UpdateFiles.h"

namespace upd::wizard {

std::string StagedCopyChangedMessage(const std::string& staged)
{
    return "Copia noua " + staged +
           " nu mai este cea scrisa de programul de actualizare: a fost schimbata de un alt program. Nu o pun in "
           "locul fisierului instalat.";
}

std::string FolderMovedMessage(const std::string& folder)
{
    return "Directorul " + folder +
           " a fost mutat sau inlocuit de o legatura in timpul actualizarii, asa ca nu am mai schimbat nimic in el: "
           "fisierele ar fi ajuns in alt loc decat instalarea. Aduceti directorul instalarii la locul lui (nu o "
           "legatura catre el), apoi porniti din nou programul de actualizare: el va reface instalarea inainte de "
           "orice alta operatie.";
}

std::string LinkedFileMessage(const std::string& path)
{
    return "Fisierul " + path +
           " este o legatura catre alt fisier sau are mai multe nume, iar programul de actualizare nu inlocuieste un "
           "astfel de fisier. Niciun fisier instalat nu a fost schimbat. Puneti in locul lui fisierul insusi, apoi "
           "porniti din nou programul de actualizare.";
}

void ForceFolderOf(const std::string& name)
{
    std::string folder = TPath(name).Folder().Text();
    // The folder as ForceFolders names it in its message: without the closing separator.
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    if (!folder.empty() && !FileOrFolderExists(folder))
        ForceFolders(folder);
}

void TFileOps::Remove(const std::string& name)
{
    if (!RemoveFile(name))
        throw Exception("Nu pot sterge fisierul " + name);
}

namespace {

class TSystemFileOps : public TFileOps {
public:
    void CopyDurable(const TPath& from, const std::string& to, bool readOnly) override
    {
        TFile source(from, TFileMode::ReadShared);
        TFile target(to, TFileMode::CreateNew);
        // From here on the copy is ours: a failure removes it.
        try {
            std::vector<std::uint8_t> block(1 << 20);
            while (std::size_t got = source.Read(block.data(), block.size()))
                target.Write(block.data(), got);
            target.Flush();
            // Through the handle: the name may lead elsewhere once it is closed.
            if (readOnly)
                target.MarkReadOnly();
            target.Close();
        } catch (const EOSError& e) {
            target.Close();
            RemoveFile(to);
            throw EOSError(e.Code(), "Nu pot copia fisierul " + from.Text() + " in " + to + "\r\n" + e.Message());
        } catch (...) {
            target.Close();
            RemoveFile(to);
            throw;
        }
    }

    void Rename(const std::string& from, const std::string& to) override { RenameFile(from, to); }

    void RenameOver(const std::string& from, const std::string& to) override { ReplaceWithStaged(from, to); }

    void WriteDurable(const std::string& name, const std::string& bytes) override
    {
        const std::string scratch = name + ".tmp";
        RemoveFile(scratch);
        try {
            TFile file(scratch, TFileMode::CreateNew);
            file.Write(bytes.data(), bytes.size());
            file.Flush();
            file.Close();
            ReplaceWithStaged(scratch, name);
        } catch (...) {
            RemoveFile(scratch);
            throw;
        }
    }
};

} // namespace

TFileOps& SystemFileOps()
{
    static TSystemFileOps ops;
    return ops;
}

} // namespace upd::wizard
