#include "wizard/RunOutcome.h"

namespace upd::wizard {

void TRunOutcome::Decide(int code) noexcept
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // An installation that is not whole is what a script must hear about,
    // whatever happened before.
    if (m_code < 0 || code == kExitFailedUnrestored)
        m_code = code;
}

void TRunOutcome::Stage(TRunStage stage) noexcept
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stage = stage;
}

void TRunOutcome::Finding(bool alreadyUpdated) noexcept { Decide(alreadyUpdated ? kExitUpToDate : kExitRefused); }

void TRunOutcome::PackageUnreadable() noexcept { Decide(kExitDataDamaged); }

void TRunOutcome::Failed(bool ownError) noexcept
{
    TRunStage stage;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stage = m_stage;
    }
    // The archive stage only gathers and checks the patch data; the update
    // stage's own errors before the replacement (a segment's size or digest,
    // a rebuilt file that is not the new version, names the package should
    // not carry) are about that data too. The system's errors, and anything
    // in the other stages, leave the installation as it was.
    const bool data = stage == TRunStage::Archive || (stage == TRunStage::Update && ownError);
    Decide(data ? kExitDataDamaged : kExitFailedRestored);
}

void TRunOutcome::FileInUse() noexcept { Decide(kExitFileInUse); }

void TRunOutcome::RolledBack(bool whole) noexcept { Decide(whole ? kExitFailedRestored : kExitFailedUnrestored); }

void TRunOutcome::RecoveryFailed() noexcept { Decide(kExitFailedUnrestored); }

void TRunOutcome::Cancelled() noexcept { Decide(kExitCancelled); }

void TRunOutcome::Updated() noexcept { Decide(kExitUpdated); }

int TRunOutcome::ExitCode() const noexcept
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_code < 0 ? kExitCancelled : m_code;
}

void TRunOutcome::Reset() noexcept
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stage = TRunStage::Start;
    m_code = -1;
}

const char* ExitCodeName(int code) noexcept
{
    switch (code) {
    case kExitUpdated:
        return "updated";
    case kExitUpToDate:
        return "already up to date";
    case kExitRefused:
        return "installation does not match the package";
    case kExitDataDamaged:
        return "patch data missing or damaged";
    case kExitFileInUse:
        return "a file stayed in use";
    case kExitFailedRestored:
        return "failed, installation as it was";
    case kExitFailedUnrestored:
        return "failed, installation not restored";
    case kExitCancelled:
        return "cancelled";
    case kExitAlreadyRunning:
        return "already running";
    case kExitBadCommandLine:
        return "bad command line";
    default:
        return "unknown";
    }
}

TRunOutcome& RunOutcome() noexcept
{
    static TRunOutcome outcome;
    return outcome;
}

} // namespace upd::wizard
