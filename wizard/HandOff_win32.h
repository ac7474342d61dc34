// The hand-off to the payroll program after a successful update.
//
// The wizard runs elevated; the payroll program it starts at the end lives in
// C:\Pravion, a folder at the root of C: that standard users may change. So
// the program is started only as the file the update verified, and only with
// the desktop user's rights: the update stage's worker takes the hold right
// after the commit (the file opened sharing reading alone, so that it can be
// neither written, renamed nor deleted, its folder held against renames),
// checks its digest, and the final page starts it from that hold, however
// long the page waits.
#pragma once

#include <string>

#include "base/Handles_win32.h"
#include "version/Process_win32.h"

namespace upd::package {
class TUpdate;
}

namespace upd::wizard {

inline constexpr const char* kPayrollProgram = "C:\\Pravion\\kp3.exe";
inline constexpr const char* kPayrollFolder = "C:\\Pravion";
inline constexpr const char* kPayrollArgument = "pregateste_kelmira";

/// The digest the payroll program must have after `update`: the new digest
/// of the patch set that rebuilds `program`, or empty when none does.
std::string ExpectedDigest(const package::TUpdate& update, const std::string& program);

enum class THandOffResult {
    Started,
    /// The file is not the one the update verified (or was never held).
    NotVerified,
    /// Nobody uses the desktop (a service's run): nothing is started.
    NoDesktopUser,
};

class THandOff {
public:
    /// Holds `folder` and `program` in it and checks the program's digest
    /// against `digest` (empty: the package leaves the program as it was,
    /// and the digest of the file held now is the one kept). False, with the
    /// reason in `why`, when the file cannot be held as itself or does not
    /// match; nothing is held then.
    bool Hold(const std::string& program, const std::string& folder, const std::string& digest, std::string& why);
    bool Held() const noexcept { return static_cast<bool>(m_file); }
    /// The digest of the held file.
    const std::string& Digest() const noexcept { return m_digest; }
    /// Starts the held program with `arguments` as the desktop user, after
    /// checking that its name still leads to the held file and that the
    /// file still has its digest; releases the hold. `why` tells what was
    /// not started and why. Raises EOSError when the start itself fails.
    THandOffResult Start(const std::string& arguments, version::TUserSession& session, std::string& why);
    void Release() noexcept;

    /// What the user reads when the program is not started.
    static std::string NotStartedMessage(THandOffResult result, const std::string& why);

private:
    std::string m_program;
    std::string m_folderName;
    std::string m_digest;
    std::string m_refusal;  ///< why the hold was refused, for the start
    TFileHandle m_folder;
    TFileHandle m_file;
};

} // namespace upd::wizard
