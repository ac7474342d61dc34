// Replacing the installed files all or nothing.
//
// Every new file first gets a flushed, read-only copy beside its target (the
// staged copy). Then each target is renamed to a backup beside it and its
// staged copy, hashed again and found equal to the package's digest, renamed
// into its place (a copy that another program changed fails the step); the tag file is written; the journal
// is marked as committed; only then are the backups removed. When any step
// fails, every target already replaced is put back from its backup, in the
// reverse order, and the error names the file and says that the installation
// is as it was. The journal (written and flushed before the first change)
// lets the next start of the wizard do the same after a kill.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/Path.h"
#include "wizard/UpdateJournal.h"

namespace upd::wizard {

class TFileOps;
class TUpdateLog;

struct TReplacement {
    TPath NewFile;       ///< the checked new file in the work folder
    std::string Target;  ///< the installed file (or twin) it replaces
    std::string Digest;  ///< the package's MD5 digest text of the new file
};

/// Puts every new file in place, or none, writing each step to `log`. `afterEach` runs after each target
/// is in place (for progress). The tag file `tagFile` is written with
/// `tagText` when it does not exist yet (nothing when `tagFile` is empty).
/// The journal must carry the run's file name (or none, for tests that need
/// no recovery). Before anything changes, the folders of the targets are held
/// (THeldFolders) and every existing target and twin is found to be a file of
/// its own, its identity kept in the journal: Exception with
/// LinkedFileMessage for a link or a file with a second name, EFolderMoved for
/// a folder that is a link or leads elsewhere. Raises Exception with
/// ReplaceFailedMessage when a step failed and every file was put back, with
/// RestoreFailedMessage when even that failed (the journal is then kept for
/// the next start), EFolderMoved when a folder moved during the run (nothing
/// more is done through it; the journal is kept). A backup is put back only
/// when it is still the file that was moved there.
void ReplaceAll(const std::vector<TReplacement>& files, const std::string& tagFile, const std::string& tagText,
                TUpdateJournal& journal, TUpdateLog& log, TFileOps& ops, const std::function<void()>& afterEach);

/// What the next start found and did.
enum class TRecovery { Nothing, RolledBack, Finished, TempFilesOnly };

/// At the start of the wizard, before anything reads the installation: undoes
/// (or, after the commit point, finishes) a replacement that a kill left half
/// done, removes the staged copies, backups and temporary files that the
/// journal names, then the journal itself, every step through `ops`. Raises
/// Exception with InterruptedRestoreMessage when a file cannot be put back,
/// and with DamagedJournalMessage, before touching anything, when the journal
/// cannot be read whole or understood (a file outside `places` included), and
/// with EFolderMoved when a folder of its files is a link or leads elsewhere
/// (held as in ReplaceAll before anything is done); in every such case the
/// journal is kept. A backup whose identity is not the one the journal keeps
/// (or a journal of an earlier wizard, which keeps none) is not put back.
TRecovery RecoverInterruptedUpdate(const std::string& journalFile, TFileOps& ops, const TJournalPlaces& places = {});
TRecovery RecoverInterruptedUpdate(const std::string& journalFile);

/// The replacements of the update stage: for each {new file, installed file},
/// the installed file and its twin (its name followed by "vf"), both by the
/// long names the file system keeps. Raises Exception with
/// FolderInPlaceMessage when either is a folder, and with the package's
/// SameFileTwiceMessage when two of them are one file.
std::vector<TReplacement> PlanReplacements(const std::vector<TReplacement>& targets);

/// A free name beside `target`: target + suffix + n for the first n from 1
/// that names nothing yet.
std::string FreeNameBeside(const std::string& target, const std::string& suffix);

std::string ReplaceFailedMessage(const std::string& file, const std::string& reason);
std::string RestoreFailedMessage(const std::string& file, const std::string& reason, const std::string& restoreFile,
                                 const std::string& restoreReason);
std::string InterruptedRestoreMessage(const std::string& file, const std::string& reason);
std::string DamagedJournalMessage(const std::string& journalFile, const std::string& problem);
std::string FolderInPlaceMessage(const std::string& path);

} // namespace upd::wizard
