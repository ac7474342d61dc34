#include "wizard/UpdateTransaction.h"

#include <chrono>
#include <thread>

#include "base/Exception.h"
#include "base/File.h"
#include "package/DuplicateNames.h"
#include "wizard/UpdateFiles.h"
#include "wizard/RunOutcome.h"
#include "wizard/UpdateLog.h"

namespace upd::wizard {

namespace {

// A scanner may hold a file for a moment right after it changed: a step of
// putting things back is tried a few times before it counts as failed.
template <class TStep>
void Persist(TFileOps& ops, TStep step)
{
    for (int attempt = 1;; ++attempt) {
        try {
            step();
            return;
        } catch (const Exception&) {
            if (attempt == 3)
                throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(ops.RetryPauseMs()));
        }
    }
}

struct TRestoreFailure {
    std::string File;
    std::string Reason;
};

class TRestore {
public:
    explicit TRestore(TFileOps& ops) : m_ops(ops) {}

    // Runs one step of putting things back; the first failure is kept.
    template <class TStep>
    void Attempt(const std::string& file, TStep step)
    {
        try {
            Persist(m_ops, step);
        } catch (const Exception& e) {
            Fail(file, e.Message());
        }
    }
    void RemoveIfThere(const std::string& name)
    {
        if (FileOrFolderExists(name))
            Attempt(name, [&] { m_ops.Remove(name); });
    }
    void Fail(const std::string& file, const std::string& reason)
    {
        if (m_whole)
            m_failure = {file, reason};
        m_whole = false;
    }
    bool Whole() const noexcept { return m_whole; }
    const TRestoreFailure& Failure() const noexcept { return m_failure; }

private:
    TFileOps& m_ops;
    bool m_whole = true;
    TRestoreFailure m_failure;
};

std::string ForeignBackupReason(const std::string& backup)
{
    return "Fisierul " + backup +
           " nu este copia facuta de programul de actualizare (l-a pus acolo un alt program), asa ca nu il pun in "
           "locul fisierului instalat.";
}

std::string UnknownBackupReason(const std::string& backup)
{
    return "Jurnalul, scris de o versiune mai veche a programului de actualizare, nu spune care este copia " + backup +
           ", asa ca nu o pun in locul fisierului instalat.";
}

// Whether the installation is as it was before the run: every target that
// existed is its own file again (the identity the journal keeps; without
// one, a file with no backup left: a backup is made only by renaming the
// target, so while there is none the target holds its own bytes), every
// target that did not exist is absent, no staged copy is left, nor the tag
// file the run wrote. A file that another program put under a backup's name
// is not the wizard's: it neither counts nor is touched.
void CheckRestored(const TUpdateJournal& journal, TRestore& restore)
{
    for (const TJournalEntry& e : journal.Entries) {
        if (e.Existed && !e.Identity.empty()) {
            if (FileIdentity(e.Backup) == e.Identity)
                restore.Fail(e.Target, "Fisierul vechi se afla inca in " + e.Backup + ".");
            else if (FileIdentity(e.Target) != e.Identity && FileOrFolderExists(e.Backup))
                restore.Fail(e.Target, ForeignBackupReason(e.Backup));
            else if (FileIdentity(e.Target) != e.Identity)
                restore.Fail(e.Target, "Fisierul lipseste sau nu mai este cel dinainte, iar copia lui " + e.Backup +
                                           " nu mai exista.");
        } else if (e.Existed && FileOrFolderExists(e.Backup))
            restore.Fail(e.Target, "Fisierul vechi se afla inca in " + e.Backup + ".");
        else if (e.Existed && !FileExists(e.Target))
            restore.Fail(e.Target, "Fisierul lipseste, iar copia lui " + e.Backup + " nu mai exista.");
        else if (!e.Existed && FileOrFolderExists(e.Target))
            restore.Fail(e.Target, "Fisierul nu exista inainte de actualizare si nu a putut fi sters.");
        if (FileOrFolderExists(e.Staged))
            restore.Fail(e.Staged, "Copia noua a fisierului nu a putut fi stearsa.");
    }
    for (const std::string& name : {journal.TagFile, journal.TagFile + ".tmp"})
        if (!journal.TagFile.empty() && FileOrFolderExists(name))
            restore.Fail(name, "Fisierul de marcaj scris de actualizare nu a putut fi sters.");
}

// Undoes the journal's entries, the last first, from whatever state of
// target, staged copy and backup a failed step or a kill left. Every entry
// is looked at whatever became of the others; true only when CheckRestored
// finds the installation as it was.
// Raises EFolderMoved, with nothing done through it, when a folder of the
// files moved or became a link.
bool RollBack(const TUpdateJournal& journal, TFileOps& ops, const THeldFolders& folders, TRestoreFailure& failure)
{
    TRestore restore(ops);
    for (auto it = journal.Entries.rbegin(); it != journal.Entries.rend(); ++it) {
        const TJournalEntry& e = *it;
        folders.Verify();
        if (e.Existed && FileOrFolderExists(e.Backup) && e.Identity.empty()) {
            restore.Fail(e.Target, UnknownBackupReason(e.Backup));
        } else if (e.Existed && FileOrFolderExists(e.Backup)) {
            // The user's bytes are in the backup alone, if it is still the
            // file the wizard moved there. Over the target goes whatever
            // stands there: the new file, a file a program created meanwhile,
            // or a second name of the backup itself.
            restore.Attempt(e.Target, [&] {
                if (FileIdentity(e.Backup) != e.Identity)
                    return;
                if (FileOrFolderExists(e.Target))
                    ops.RenameOver(e.Backup, e.Target);
                else
                    ops.Rename(e.Backup, e.Target);
            });
        } else if (!e.Existed) {
            // A twin that did not exist before the run.
            restore.RemoveIfThere(e.Target);
        }
        restore.RemoveIfThere(e.Staged);
    }
    if (!journal.TagFile.empty()) {
        restore.RemoveIfThere(journal.TagFile);
        restore.RemoveIfThere(journal.TagFile + ".tmp");
    }
    if (restore.Whole())
        CheckRestored(journal, restore);
    failure = restore.Failure();
    return restore.Whole();
}

// After the commit point: the new files are in place; what is left are the
// backups and copies. One that cannot go now is only a file too many.
void RemoveBackups(const TUpdateJournal& journal, TFileOps& ops, const THeldFolders& folders)
{
    TRestore cleanup(ops);
    for (const TJournalEntry& e : journal.Entries) {
        folders.Verify();
        cleanup.RemoveIfThere(e.Staged);
        if (e.Identity.empty() || FileIdentity(e.Backup) == e.Identity)
            cleanup.RemoveIfThere(e.Backup);
    }
    if (!journal.TagFile.empty())
        cleanup.RemoveIfThere(journal.TagFile + ".tmp");
}

// Back to gathering, without the files of the replacement; best effort:
// a journal that keeps the old entries is only undone once more.
void ForgetReplacement(TUpdateJournal& journal, TFileOps& ops)
{
    journal.State = TJournalState::Gathering;
    journal.Entries.clear();
    journal.TagFile.clear();
    try {
        journal.Save(ops);
    } catch (const Exception&) {
    }
}

} // namespace

std::string FreeNameBeside(const std::string& target, const std::string& suffix)
{
    for (int n = 1;; ++n) {
        std::string name = target + suffix + std::to_string(n);
        if (!FileOrFolderExists(name))
            return name;
    }
}

std::string ReplaceFailedMessage(const std::string& file, const std::string& reason)
{
    return "Nu am putut inlocui fisierul " + file + ".\r\n" + reason +
           "\r\nToate fisierele au fost readuse la starea de dinainte: instalarea a ramas asa cum era. Inchideti "
           "programele care ar putea folosi acest fisier si porniti din nou programul de actualizare.";
}

std::string RestoreFailedMessage(const std::string& file, const std::string& reason, const std::string& restoreFile,
                                 const std::string& restoreReason)
{
    return "Nu am putut inlocui fisierul " + file + ".\r\n" + reason +
           "\r\nNu am putut readuce la starea de dinainte fisierul " + restoreFile + ".\r\n" + restoreReason +
           "\r\nInchideti programele care folosesc acest fisier si porniti din nou programul de actualizare: el va "
           "reface instalarea inainte de orice alta operatie.";
}

std::string InterruptedRestoreMessage(const std::string& file, const std::string& reason)
{
    return "O actualizare anterioara a fost intrerupta si nu am putut readuce la starea de dinainte fisierul " +
           file + ".\r\n" + reason +
           "\r\nInchideti programele care folosesc acest fisier si porniti din nou programul de actualizare.";
}

void ReplaceAll(const std::vector<TReplacement>& files, const std::string& tagFile, const std::string& tagText,
                TUpdateJournal& journal, TUpdateLog& log, TFileOps& ops, const std::function<void()>& afterEach)
{
    // Before anything changes: the folders held as themselves, every target
    // and twin a file of its own whose identity the journal keeps.
    THeldFolders folders;
    journal.Entries.clear();
    for (const TReplacement& f : files) {
        folders.HoldFolderOf(f.Target);
        const TFileFacts facts = FileFacts(f.Target);
        if (facts.Exists && (facts.Linked || facts.Names != 1))
            throw Exception(LinkedFileMessage(f.Target));
        TJournalEntry entry;
        entry.Existed = facts.Exists;
        entry.Identity = facts.Identity;
        entry.Target = f.Target;
        entry.Staged = FreeNameBeside(f.Target, ".nou");
        entry.Backup = FreeNameBeside(f.Target, ".vechi");
        journal.Entries.push_back(entry);
    }
    journal.TagFile = !tagFile.empty() && !FileExists(tagFile) ? tagFile : std::string();

    std::string current = journal.FileName();
    try {
        journal.State = TJournalState::Preparing;
        journal.Save(ops);
        for (std::size_t i = 0; i < files.size(); ++i) {
            current = files[i].Target;
            folders.Verify();
            ops.CopyDurable(files[i].NewFile, journal.Entries[i].Staged, true);
        }
        current = journal.FileName();
        journal.State = TJournalState::Replacing;
        journal.Save(ops);
        for (std::size_t i = 0; i < files.size(); ++i) {
            const TJournalEntry& e = journal.Entries[i];
            current = e.Target;
            folders.Verify();
            if (e.Existed)
                ops.Rename(e.Target, e.Backup);
            // The staged copy lies where other programs may reach it: only
            // the bytes that hash to the package's digest go into place.
            folders.Verify();
            ops.RenameVerified(e.Staged, e.Target, files[i].Digest);
            log.Replaced(e.Target);
            afterEach();
        }
        if (!journal.TagFile.empty()) {
            current = journal.TagFile;
            ForceFolderOf(journal.TagFile);
            ops.WriteDurable(journal.TagFile, tagText);
            log.TagWritten(journal.TagFile);
        }
        current = journal.FileName();
        journal.State = TJournalState::Committed;
        journal.Save(ops);
        log.Committed();
    } catch (const std::exception& e) {
        // A folder that moved: nothing more is done through it, and the
        // journal stays for the next start.
        if (dynamic_cast<const EFolderMoved*>(&e)) {
            log.RolledBack(false);
            RunOutcome().RolledBack(false);
            throw;
        }
        const auto* own = dynamic_cast<const Exception*>(&e);
        std::string reason = own ? own->Message() : std::string(e.what());
        TRestoreFailure failure;
        bool whole = false;
        try {
            whole = RollBack(journal, ops, folders, failure);
        } catch (const EFolderMoved&) {
            log.RolledBack(false);
            RunOutcome().RolledBack(false);
            throw;
        }
        log.RolledBack(whole);
        RunOutcome().RolledBack(whole);
        if (!whole)
            throw Exception(RestoreFailedMessage(current, reason, failure.File, failure.Reason));
        ForgetReplacement(journal, ops);
        throw Exception(ReplaceFailedMessage(current, reason));
    }
    RemoveBackups(journal, ops, folders);
    ForgetReplacement(journal, ops);
}

TRecovery RecoverInterruptedUpdate(const std::string& journalFile, TFileOps& ops, const TJournalPlaces& places)
{
    TUpdateJournal journal;
    std::string problem;
    switch (TUpdateJournal::Load(journalFile, journal, problem, places)) {
    case TUpdateJournal::TRead::None:
        // A kill while the first journal was written: nothing was changed.
        if (FileExists(journalFile + ".tmp"))
            ops.Remove(journalFile + ".tmp");
        return TRecovery::Nothing;
    case TUpdateJournal::TRead::Damaged:
        throw Exception(DamagedJournalMessage(journalFile, problem));
    case TUpdateJournal::TRead::Whole:
        break;
    }
    // Nothing is done through a folder that is a link or leads elsewhere
    // now: EFolderMoved, the journal kept.
    THeldFolders folders;
    for (const TJournalEntry& e : journal.Entries)
        folders.HoldFolderOf(e.Target);
    TRecovery done = TRecovery::TempFilesOnly;
    if (journal.State == TJournalState::Committed) {
        RemoveBackups(journal, ops, folders);
        done = TRecovery::Finished;
    } else if (!journal.Entries.empty() || !journal.TagFile.empty()) {
        TRestoreFailure failure;
        if (!RollBack(journal, ops, folders, failure))
            throw Exception(InterruptedRestoreMessage(failure.File, failure.Reason));
        done = TRecovery::RolledBack;
    }
    for (const std::string& name : journal.TempFiles)
        if (FileExists(name))
            ops.Remove(name);
    // The journal goes last: until then the next start does all this again.
    ops.Remove(journalFile);
    if (FileExists(journalFile + ".tmp"))
        ops.Remove(journalFile + ".tmp");
    return done;
}

TRecovery RecoverInterruptedUpdate(const std::string& journalFile)
{
    return RecoverInterruptedUpdate(journalFile, SystemFileOps());
}

std::vector<TReplacement> PlanReplacements(const std::vector<TReplacement>& targets)
{
    std::vector<TReplacement> files;
    std::vector<std::string> names;
    for (const TReplacement& t : targets) {
        // The file system's own long name: a short (8.3) name renamed to the
        // backup would leave a file literally named by the short name.
        const std::string target = LongFileName(t.Target);
        const std::string twin = LongFileName(target + "vf");
        for (const std::string& name : {target, twin})
            if (IsFolder(name))
                throw Exception(FolderInPlaceMessage(name));
        files.push_back({t.NewFile, target, t.Digest});
        files.push_back({t.NewFile, twin, t.Digest});
        names.push_back(target);
    }
    if (auto same = package::FindSameFileTwice(names))
        throw Exception(package::SameFileTwiceMessage(*same));
    return files;
}

std::string DamagedJournalMessage(const std::string& journalFile, const std::string& problem)
{
    return "Jurnalul actualizarii anterioare, " + journalFile + ", este deteriorat: " + problem +
           ".\r\nNu pot afla ce fisiere trebuie readuse la starea de dinainte, asa ca nu am schimbat niciun fisier. "
           "Nu stergeti jurnalul si nu porniti programele Pravion si Kelmira: contactati Tarvix pentru refacerea "
           "instalarii.";
}

std::string FolderInPlaceMessage(const std::string& path)
{
    return "In locul fisierului " + path +
           " se afla un director, iar un director nu poate fi inlocuit. Niciun fisier instalat nu a fost schimbat. "
           "Mutati sau stergeti directorul, apoi porniti din nou programul de actualizare.";
}

} // namespace upd::wizard
