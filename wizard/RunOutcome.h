// How a run of the wizard ended, as its exit code tells a script.
//
// The places that decide a run's fate tell the outcome as it happens (a
// finding of the validation, an error of a stage, a file that stayed in use,
// a rollback, the user's stop, the update done); the first that decides
// counts, except that an installation that could not be put back overrides
// everything else. Codes start at 10 so that none can be taken for the codes
// that Windows gives a program that crashed or aborted (3, 5, 9, ...).
// docs/wizard.md lists them for administrators.
#pragma once

#include <mutex>

namespace upd::wizard {

enum TExitCode : int {
    kExitUpdated = 0,          ///< every file replaced and the tag written
    kExitUpToDate = 10,        ///< a file to update already has the update's version
    kExitRefused = 11,         ///< the installation does not match the package (validation)
    kExitDataDamaged = 12,     ///< the patch data is missing or damaged
    kExitFileInUse = 13,       ///< a file stayed in use; nothing changed
    kExitFailedRestored = 14,  ///< failed; the installation is as it was
    kExitFailedUnrestored = 15, ///< failed and a file could not be put back
    kExitCancelled = 16,       ///< stopped by the user (or closed) before the end
    kExitAlreadyRunning = 17,  ///< another wizard is running
    kExitBadCommandLine = 18,  ///< an argument that is not an option
};

/// The stages a run goes through, as the outcome tells errors apart.
enum class TRunStage { Start, Validation, Archive, Update };

class TRunOutcome {
public:
    /// A stage begins.
    void Stage(TRunStage stage) noexcept;
    /// The validation stopped at a finding; `alreadyUpdated` when the file
    /// is already at the update's own version.
    void Finding(bool alreadyUpdated) noexcept;
    /// The package inside the program cannot be read.
    void PackageUnreadable() noexcept;
    /// An error ended the running stage. `ownError`: one of the stage's own
    /// errors (the package's data), not a failure of the system.
    void Failed(bool ownError) noexcept;
    /// The update stopped because a file stayed in use.
    void FileInUse() noexcept;
    /// The replacement failed and was rolled back, wholly or not.
    void RolledBack(bool whole) noexcept;
    /// A replacement that an earlier run left half done could not be undone.
    void RecoveryFailed() noexcept;
    /// The user stopped the run.
    void Cancelled() noexcept;
    /// The update stage ended well.
    void Updated() noexcept;

    /// The code of what was told first; kExitCancelled when nothing was
    /// (the wizard was closed before any stage ended).
    int ExitCode() const noexcept;

    /// Back to a run that has told nothing (tests).
    void Reset() noexcept;

private:
    void Decide(int code) noexcept;

    mutable std::mutex m_mutex;
    TRunStage m_stage = TRunStage::Start;
    int m_code = -1;
};

/// A short English name of an exit code, for the log.
const char* ExitCodeName(int code) noexcept;

/// The outcome of this process's run.
TRunOutcome& RunOutcome() noexcept;

} // namespace upd::wizard
