#include "wizard/EfectueazaActualizarea_win32.h"

#include <algorithm>
#include <functional>

#include "package/PatchDataEngine.h"
#include "wizard/CommandLine.h"
#include "wizard/HandOff_win32.h"
#include "wizard/RunOutcome.h"
#include "wizard/StageControl.h"
#include "wizard/UpdateFiles.h"
#include "wizard/UpdateLog.h"
#include "wizard/UpdateStage.h"

namespace upd::wizard {

namespace {

class TWorkerHost : public TUpdateStageHost {
public:
    TWorkerHost(TUpdateLog& log, std::function<void(std::int32_t, const std::string&)> notify,
                std::function<bool(const std::string&)> ask)
        : m_log(log), m_notify(std::move(notify)), m_ask(std::move(ask))
    {
    }
    void Progress(std::int32_t done, std::int32_t total) override
    {
        m_notify(NOTIFY_PROGRESS, std::to_string(done) + "|" + std::to_string(total));
    }
    void Status(const std::string& text) override { m_notify(NOTIFY_STATUS, text); }
    bool AskRetry(const std::string& message) override
    {
        if (!RunMode().Unattended())
            return m_ask(message);
        return WaitWhileInUse(message);
    }

private:
    // Nobody can be asked: the files get RunMode's wait in all, from the
    // first one found in use, tried again every second; then the update
    // stops with nothing changed.
    bool WaitWhileInUse(const std::string& message)
    {
        const std::uint32_t wait = RunMode().FileInUseWaitMs;
        const ULONGLONG now = ::GetTickCount64();
        if (m_deadline == 0) {
            m_deadline = now + wait;
            m_log.Write("busy", message + "\r\n(waiting up to " + std::to_string(wait / 1000) + " s)");
        }
        if (now >= m_deadline) {
            m_log.Write("busy", "still in use after " + std::to_string(wait / 1000) +
                                    " s: the update stops, nothing changed");
            // The page's question, which an unattended run answers by itself
            // with Cancel: the program ends as when a user stops there.
            return m_ask(message);
        }
        const ULONGLONG until = std::min<ULONGLONG>(m_deadline, now + 1000);
        // A passive run's user may stop it meanwhile: the stage looks at that
        // as soon as this returns.
        while (::GetTickCount64() < until && !StageControl().Cancelled())
            ::Sleep(50);
        return true;
    }

    TUpdateLog& m_log;
    ULONGLONG m_deadline = 0;
    std::function<void(std::int32_t, const std::string&)> m_notify;
    std::function<bool(const std::string&)> m_ask;
};

} // namespace

void TFirActualizarePropriuzisa::Execute()
{
    TWorkerHost host(Records.Log, [this](std::int32_t code, const std::string& text) { Notify(code, text); },
                     [this](const std::string& text) { return Ask(text); });
    // The tests' hook for failing or slowing the replacement's steps.
    std::unique_ptr<TFileOps> testOps = FileOpsFromEnvironment();
    Records.Log.Step("update");
    RunOutcome().Stage(TRunStage::Update);
    TUpdateStageOptions options;
    options.Ops = testOps.get();
    RunUpdateStage(package::GetPatchDataEngine(), host, Records, options);
    // At once after the commit, before the final page waits: from here on
    // the payroll program cannot be exchanged, and what was verified is
    // what the hand-off starts.
    if (Records.HandOff) {
        std::string why;
        const std::string digest = ExpectedDigest(*package::GetPatchDataEngine().Update, kPayrollProgram);
        if (Records.HandOff->Hold(kPayrollProgram, kPayrollFolder, digest, why))
            Records.Log.Write("handoff", std::string("held ") + kPayrollProgram + " digest " + Records.HandOff->Digest());
        else
            Records.Log.Write("handoff", std::string("not held ") + kPayrollProgram + ": " + why);
    }
    Notify(NOTIFY_DONE, "");
}

} // namespace upd::wizard
