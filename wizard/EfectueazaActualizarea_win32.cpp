#include "wizard/EfectueazaActualizarea_win32.h"

#include <functional>

#include "package/PatchDataEngine.h"
#include "wizard/UpdateFiles.h"
#include "wizard/UpdateLog.h"
#include "wizard/UpdateStage.h"

namespace upd::wizard {

namespace {

class TWorkerHost : public TUpdateStageHost {
public:
    TWorkerHost(std::function<void(std::int32_t, const std::string&)> notify,
                std::function<bool(const std::string&)> ask)
        : m_notify(std::move(notify)), m_ask(std::move(ask))
    {
    }
    void Progress(std::int32_t done, std::int32_t total) override
    {
        m_notify(NOTIFY_PROGRESS, std::to_string(done) + "|" + std::to_string(total));
    }
    void Status(const std::string& text) override { m_notify(NOTIFY_STATUS, text); }
    bool AskRetry(const std::string& message) override { return m_ask(message); }

private:
    std::function<void(std::int32_t, const std::string&)> m_notify;
    std::function<bool(const std::string&)> m_ask;
};

} // namespace

void TFirActualizarePropriuzisa::Execute()
{
    TWorkerHost host([this](std::int32_t code, const std::string& text) { Notify(code, text); },
                     [this](const std::string& text) { return Ask(text); });
    // The tests' hook for failing or slowing the replacement's steps.
    std::unique_ptr<TFileOps> testOps = FileOpsFromEnvironment();
    RunLog().Step("update");
    TUpdateStageOptions options;
    options.Ops = testOps.get();
    RunUpdateStage(package::GetPatchDataEngine(), host, options);
    Notify(NOTIFY_DONE, "");
}

} // namespace upd::wizard
