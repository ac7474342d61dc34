#include "wizard/UpdateTransaction.h"

#include <chrono>
#include <thread>

#include "base/Exception.h"
#include "base/File.h"
#include "wizard/UpdateFiles.h"
#include "wizard/RunOutcome.h"
#include "wizard/UpdateLog.h"

namespace upd::wizard {

namespace {

// A scanner may hold a file for a moment right after it changed: putting a
// file back is tried a few times before it counts as failed.
template <class TStep>
void Persist(TStep step)
{
    for (int attempt = 1;; ++attempt) {
        try {
            step();
            return;
        } catch (const Exception&) {
            if (attempt == 3)
                throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
}

struct TRestoreFailure {
    std::string File;
    std::string Reason;
};

// Undoes the journal's entries, the last first. Every entry is looked at
// whatever became of the others; the first failure is returned.
bool RollBack(const TUpdateJournal& journal, TRestoreFailure& failure)
{
    bool whole = true;
    auto attempt = [&](const std::string& file, auto step) {
        try {
            Persist(step);
        } catch (const Exception& e) {
            if (whole)
                failure = {file, e.Message()};
            whole = false;
        }
    };
    for (auto it = journal.Entries.rbegin(); it != journal.Entries.rend(); ++it) {
        const TJournalEntry& e = *it;
        bool staged = FileExists(e.Staged);
        if (e.Existed) {
            if (FileExists(e.Backup)) {
                if (!FileExists(e.Target))
                    attempt(e.Target, [&] { RenameFile(e.Backup, e.Target); });
                else if (!staged)
                    // The new file stands in the target's place: the backup goes back over it.
                    attempt(e.Target, [&] { ReplaceWithStaged(e.Backup, e.Target); });
            }
        } else if (!staged && FileExists(e.Target)) {
            // A twin that did not exist before the run.
            attempt(e.Target, [&] {
                if (!RemoveFile(e.Target))
                    throw Exception("Nu pot sterge fisierul " + e.Target);
            });
        }
        if (staged)
            RemoveFile(e.Staged);
    }
    if (!journal.TagFile.empty()) {
        RemoveFile(journal.TagFile);
        RemoveFile(journal.TagFile + ".tmp");
    }
    return whole;
}

void RemoveBackups(const TUpdateJournal& journal)
{
    for (const TJournalEntry& e : journal.Entries) {
        RemoveFile(e.Staged);
        RemoveFile(e.Backup);
    }
    if (!journal.TagFile.empty())
        RemoveFile(journal.TagFile + ".tmp");
}

// Back to gathering, without the files of the replacement; best effort:
// a journal that keeps the old entries is only undone once more.
void ForgetReplacement(TUpdateJournal& journal) noexcept
{
    journal.State = TJournalState::Gathering;
    journal.Entries.clear();
    journal.TagFile.clear();
    try {
        journal.Save(SystemFileOps());
    } catch (...) {
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
                TUpdateJournal& journal, TFileOps& ops, const std::function<void()>& afterEach)
{
    journal.Entries.clear();
    for (const TReplacement& f : files) {
        TJournalEntry entry;
        entry.Existed = FileExists(f.Target);
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
            ops.CopyDurable(files[i].NewFile, journal.Entries[i].Staged, true);
        }
        current = journal.FileName();
        journal.State = TJournalState::Replacing;
        journal.Save(ops);
        for (const TJournalEntry& e : journal.Entries) {
            current = e.Target;
            if (e.Existed)
                ops.Rename(e.Target, e.Backup);
            ops.Rename(e.Staged, e.Target);
            RunLog().Replaced(e.Target);
            afterEach();
        }
        if (!journal.TagFile.empty()) {
            current = journal.TagFile;
            std::size_t slash = journal.TagFile.find_last_of("\\/");
            if (slash != std::string::npos)
                ForceFolders(journal.TagFile.substr(0, slash));
            ops.WriteDurable(journal.TagFile, tagText);
            RunLog().TagWritten(journal.TagFile);
        }
        current = journal.FileName();
        journal.State = TJournalState::Committed;
        journal.Save(ops);
        RunLog().Committed();
    } catch (const std::exception& e) {
        const auto* own = dynamic_cast<const Exception*>(&e);
        std::string reason = own ? own->Message() : std::string(e.what());
        TRestoreFailure failure;
        const bool whole = RollBack(journal, failure);
        RunLog().RolledBack(whole);
        RunOutcome().RolledBack(whole);
        if (!whole)
            throw Exception(RestoreFailedMessage(current, reason, failure.File, failure.Reason));
        ForgetReplacement(journal);
        throw Exception(ReplaceFailedMessage(current, reason));
    }
    RemoveBackups(journal);
    ForgetReplacement(journal);
}

TRecovery RecoverInterruptedUpdate(const std::string& journalFile)
{
    TUpdateJournal journal;
    if (!TUpdateJournal::Load(journalFile, journal)) {
        RemoveFile(journalFile + ".tmp");
        if (FileExists(journalFile))
            RemoveFile(journalFile);
        return TRecovery::Nothing;
    }
    TRecovery done = TRecovery::TempFilesOnly;
    if (journal.State == TJournalState::Committed) {
        RemoveBackups(journal);
        done = TRecovery::Finished;
    } else if (!journal.Entries.empty()) {
        TRestoreFailure failure;
        if (!RollBack(journal, failure))
            throw Exception(InterruptedRestoreMessage(failure.File, failure.Reason));
        done = TRecovery::RolledBack;
    }
    for (const std::string& name : journal.TempFiles)
        RemoveFile(name);
    RemoveFile(journalFile);
    RemoveFile(journalFile + ".tmp");
    return done;
}

} // namespace upd::wizard
