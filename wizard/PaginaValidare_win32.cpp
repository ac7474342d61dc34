#include "wizard/PaginaValidare_win32.h"

#include <functional>

#include "package/PatchDataEngine.h"
#include "wizard/FileProbes.h"
#include "wizard/RunOutcome.h"
#include "wizard/StageControl.h"
#include "wizard/UpdateLog.h"
#include "wizard/ValidationStage.h"

namespace upd::wizard {

namespace {

// Turns the stage's findings into notifications for the page.
class TNotifyingSink : public TValidationSink {
public:
    explicit TNotifyingSink(std::function<void(std::int32_t, const std::string&, bool)> notify)
        : m_notify(std::move(notify))
    {
    }
    void Progress(std::int32_t done, std::int32_t total) override
    {
        // Between two files: the place where a closing program stops the stage.
        StageControl().CheckCancelled();
        m_notify(NOTIFY_PROGRESS, std::to_string(done) + "|" + std::to_string(total), false);
    }
    void Warning(const TFinding& finding) override { m_notify(NOTIFY_WARNING, finding.Text, true); }
    void AlreadyUpdated() override { m_alreadyUpdated = true; }
    void Fatal(const TFinding& finding) override
    {
        RunOutcome().Finding(m_alreadyUpdated);
        m_notify(NOTIFY_FATAL, finding.Text, false);
    }
    void SourceChosen(std::int32_t, std::int32_t, const std::string&) override {}

private:
    std::function<void(std::int32_t, const std::string&, bool)> m_notify;
    bool m_alreadyUpdated = false;
};

} // namespace

void TFirValidareVersiune::Execute()
{
    TNotifyingSink sink([this](std::int32_t code, const std::string& text, bool wait) { Notify(code, text, wait); });
    TValidationLogger logged(Records.Log, sink);
    TSystemFileProbe probe;
    Records.Log.Package(package::GetPatchDataEngine());
    Records.Log.Step("validation");
    RunOutcome().Stage(TRunStage::Validation);
    if (RunValidation(*package::GetPatchDataEngine().Update, logged, probe))
        Notify(NOTIFY_DONE, "Ok");
}

TPaginaValidare::TPaginaValidare(HWND host, int id, const TRunRecords& records)
    : TPaginaEtapa(host, id, records,
                   "@In acest moment programul verific@a integritatea versiunii de salarii deja instalate, v@a "
                   "rug@am a@stepta@ti pu@tin...",
                   0)
{
}

std::unique_ptr<TFirEtapa> TPaginaValidare::CreateWorker(HWND pageWindow)
{
    return std::make_unique<TFirValidareVersiune>(pageWindow, Records);
}

} // namespace upd::wizard
