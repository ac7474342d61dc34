// The log of a run, for the people who support users on the phone.
//
// A plain UTF-8 text file (with a byte order mark, so that Notepad reads the
// Romanian letters right), appended to by every run, one line per event:
//
//   2026-12-08 14:03:11.042 <event> <text>
//
// Events, in the order a run makes them (docs/support-log.md explains each):
//   start      a run begins: the program's path
//   recovery   what the start did about a run that was killed before
//   package    title "..." digest <package digest> volumes <n>
//   step       validation | archive | update: a stage begins
//   checked    <done>/<total> sets of the validation taken up
//   version    <path> <version text found>
//   finding    <warning | fatal> <kind> <n>/<count> verdict <d> (<name>) version <v> | <message>
//   source     <n> <index> <path>: the old version a patch set rebuilds from
//   data       from the program <path>, <bytes> bytes
//   volume     <n> read from <path>, <bytes> bytes, digest <digest>
//   refused    <n> <path> (<why>)
//   archive    <digest> (ok | damaged)
//   rebuilt    <target> from version <index>: <size> bytes, digest <digest>
//   replaced   <target>
//   tag        <tag file written>
//   rollback   whole | incomplete
//   committed  every file is in place
//   done       <stage>: the stage ended well
//   error      <stage> <class> | <message, line breaks as " | ">
//   abandoned  <stage>: the user closed the wizard or stopped it
//   mode       <quiet | passive | full>, log <file>: the command line of the run
//   busy       a file that another program holds, while an unattended run waits for it
//   end        <success | finding | error | closed> <stage> (status <n>)
//   handoff    held <program> digest <d> | not held <program>: <why> | started <program> as the desktop user |
//              not started, not verified: <why> | not started, no desktop user: <why>
//   nolog      <file>: the /log file that could not be used, and why
//
// A line never breaks: line breaks inside a message are written as " | ".
// Each file is opened once, as itself (TFileMode::AppendAsItself): a link
// under its name is never followed, and every line goes through that open
// file, so that nobody can lead a later line elsewhere. Writing is best effort. A log that cannot be opened or written is skipped:
// it never stops or slows an update, and it never changes what the user sees.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "base/File.h"

namespace upd::package {
class TPatchDataEngine;
struct TPatchSet;
} // namespace upd::package

namespace upd::wizard {

struct TFinding;

/// Where the wizard keeps its log: beside the tag folder, with the journal.
inline constexpr const char* kLogFile = "C:\\Program Files\\Tarvix\\Kp3Tag\\Actualizare.log";
/// Its name in a fallback folder when the place above cannot be written.
inline constexpr const char* kLogFileName = "Actualizare.log";
/// A log grown beyond this is moved to "<name>.vechi" at the next start.
inline constexpr std::int64_t kLogLimit = 512 * 1024;

class TUpdateLog {
public:
    /// Chooses the file: `preferred` when it can be written (its folder is
    /// made), else kLogFileName in `fallbackFolder` (none when it is empty,
    /// as for the wizard, which must not write where the user's programs can
    /// redirect it); none when neither can.
    void Open(const std::string& preferred, const std::string& fallbackFolder) noexcept;
    const std::string& FileName() const noexcept { return m_fileName; }
    /// Writes every line from now on to `file` as well (the /log of an
    /// unattended run), made with its folder when missing; the file is
    /// neither moved aside nor replaced. When it cannot be opened as itself
    /// (a link, a second hard link, not writable) nothing is written to it;
    /// a "nolog" line of the wizard's own log and the standard error say so.
    /// Returns whether it is used.
    bool AlsoWriteTo(const std::string& file) noexcept;

    /// Writes one event line.
    void Write(const char* event, const std::string& text) noexcept;

    void Start(const std::string& program) noexcept;
    /// `what` as RecoverInterruptedUpdate answered (0 nothing, 1 rolled back, 2 finished, 3 temp files).
    void Recovery(int what) noexcept;
    void Package(const package::TPatchDataEngine& engine) noexcept;
    /// A stage begins: "validation", "archive" or "update".
    void Step(const char* stage) noexcept;
    void Checked(std::int32_t done, std::int32_t total) noexcept;
    void VersionFound(const std::string& path, const std::string& version) noexcept;
    void Finding(bool fatal, const TFinding& finding) noexcept;
    void SourceChosen(std::int32_t n, std::int32_t index, const std::string& path) noexcept;
    void DataFromProgram(const std::string& path, std::int64_t bytes) noexcept;
    void VolumeRead(int n, const std::string& path, std::int64_t bytes, const std::string& digest) noexcept;
    void VolumeRefused(int n, const std::string& path, bool exists) noexcept;
    void Archive(const std::string& digest, bool whole) noexcept;
    void Rebuilt(const package::TPatchSet& set) noexcept;
    void Replaced(const std::string& target) noexcept;
    void TagWritten(const std::string& file) noexcept;
    void RolledBack(bool whole) noexcept;
    void Committed() noexcept;
    /// The stage that runs ended well.
    void StepDone() noexcept;
    void Error(const std::string& className, const std::string& message) noexcept;
    void Abandoned() noexcept;
    /// The program ends with `status`; says how the run ended.
    void End(int status) noexcept;

private:
    std::mutex m_mutex;
    std::string m_fileName;
    TFile m_file;                 ///< open from Open to the end, when usable
    TFile m_copy;                 ///< the second file of AlsoWriteTo
    std::string m_stage = "start";
    std::string m_ending;         ///< the first "finding" or "error" of the run
    std::string m_lastPath;       ///< the path of the last version read, for the finding that follows
    std::string m_lastVersion;
    bool m_finished = false;      ///< the update stage ended well
};

/// The line's text as the log writes it: UTF-8, line breaks as " | ".
std::string LogText(const std::string& text);

} // namespace upd::wizard
