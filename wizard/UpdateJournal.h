// The journal of a run: what the next start of the wizard must clean up or
// undo when this run is killed or the machine loses power.
//
// It is a small text file at a fixed place beside the tag folder, replaced
// whole (written beside it, flushed, renamed over it) at every change, so that
// a reader always finds one whole version of it:
//
//   Jurnal de actualizare 1
//   stare <adunare | pregatire | inlocuire | incheiat>
//   temp <temporary file of the run>                    (any number)
//   fisier <1 | 0>|<target>|<staged copy>|<backup>      (one per file replaced)
//   identitate <target>|<volume>:<index>                (after its "fisier" line)
//   eticheta <tag file written by the run>              (at most one)
//
// Lines end in CR LF; names are code page 1250, a letter the page lacks (a
// system folder's) written as the byte 0x1A followed by its UTF-8 form.
// "fisier" lines start with 1 when the target existed before the run (a twin
// may not). "identitate" gives the identity of such a target, taken through
// the file itself before anything changed (on Windows its volume's serial
// number and its file index, on POSIX st_dev and st_ino; the text is opaque):
// a backup is put back, or removed, only when it is still that file, so a
// file that another program put under the backup's name is never put over the
// target. A journal of an earlier wizard has no such line: its backups are not
// known to be the wizard's own and are left for support to put back. The
// states, in order: the run gathers temporary files; it
// prepares the staged copies beside the targets; it replaces the targets
// (each moved to its backup, its staged copy renamed into its place); it has
// put every file in place (the commit point). A journal left behind in the
// states "pregatire" and "inlocuire" is undone at the next start, one in
// "incheiat" is finished; the temporary files are removed in every case.
//
// A journal is acted on only when it is whole and every line is understood:
// the header, CR LF after every line (the last one included), exactly one
// known state, known keys only, absolute paths without "." or ".." steps,
// every target (and the tag file) inside the installation's folders, staged
// copies and backups named after their target (target + ".nou" + n, target +
// ".vechi" + n), temporary files named as the wizard names its own
// (PatchTotal_n.bin, Patch_n.Patch, Patched_n.bin) and, when the work folder
// is known, lying in it and nowhere else. Anything else is a
// damaged journal: it is kept and nothing it names is touched.
#pragma once

#include <string>
#include <vector>

namespace upd::wizard {

class TFileOps;

/// Where the wizard keeps its journal.
inline constexpr const char* kJournalFile = "C:\\Program Files\\Tarvix\\Kp3Tag\\Actualizare.jurnal";

/// Where the files that a journal names may be: under one of these folders
/// (the installation's folders and the administrators-only folder). Empty:
/// the paths are checked for their form only.
struct TJournalPlaces {
    std::vector<std::string> Folders;
    /// The only folder a temporary file may be in ("": not checked).
    std::string WorkFolder;
};

enum class TJournalState { Gathering, Preparing, Replacing, Committed };

struct TJournalEntry {
    bool Existed = true;
    std::string Target;
    std::string Staged;
    std::string Backup;
    std::string Identity; ///< the target's, before the run ("" when it is not known)
};

class TUpdateJournal {
public:
    /// A journal kept in memory only until Open names its file.
    TUpdateJournal() = default;

    /// Names the file that Save writes (nothing is written yet).
    void Open(const std::string& fileName) { m_fileName = fileName; }
    const std::string& FileName() const noexcept { return m_fileName; }

    TJournalState State = TJournalState::Gathering;
    std::vector<std::string> TempFiles;
    std::vector<TJournalEntry> Entries;
    std::string TagFile;

    /// Records a temporary file of the run before it is created, and saves
    /// the journal through the system's operations. A journal that cannot be
    /// written costs only the clean-up after a kill: the error is swallowed.
    void AddTempFile(const std::string& name) noexcept;
    /// Writes the journal durably (nothing without a file name). Raises EOSError.
    void Save(TFileOps& ops);
    /// Whether a replacement is still pending (prepared, begun or committed
    /// but not cleaned up).
    bool Pending() const noexcept { return State != TJournalState::Gathering; }
    /// Ends the run: removes the journal file unless a replacement is still
    /// pending (a rollback that could not complete is retried at the next start).
    void Finish() noexcept;

    std::string Text() const;
    /// Reads a journal's text. False when it is not whole or not understood,
    /// with `problem` saying what is wrong (in words for the user, e.g.
    /// "linia 3: starea \"gata\" nu este cunoscuta"); `journal` must then
    /// not be acted on.
    static bool Parse(const std::string& text, TUpdateJournal& journal, std::string& problem,
                      const TJournalPlaces& places = {});
    static bool Parse(const std::string& text, TUpdateJournal& journal);
    /// Reads the journal file `fileName`: None when there is none, Damaged
    /// (with `problem`) when it cannot be read or understood. Never raises.
    enum class TRead { None, Whole, Damaged };
    static TRead Load(const std::string& fileName, TUpdateJournal& journal, std::string& problem,
                      const TJournalPlaces& places = {});
    /// True when the file exists and is a whole journal.
    static bool Load(const std::string& fileName, TUpdateJournal& journal);

private:
    std::string m_fileName;
};

} // namespace upd::wizard
