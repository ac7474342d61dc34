#include "wizard/EfectueazaActualizarea_win32.h"

#include <functional>

#include "package/PatchDataEngine.h"
#include "wizard/UpdateStage.h"

namespace upd::wizard {

namespace {

class TWorkerHost : public TUpdateStageHost {
public:
    explicit TWorkerHost(std::function<void(std::int32_t, const std::string&)> notify) : m_notify(std::move(notify))
    {
    }
    void Progress(std::int32_t done, std::int32_t total) override
    {
        m_notify(NOTIFY_PROGRESS, std::to_string(done) + "|" + std::to_string(total));
    }
    void Status(const std::string& text) override { m_notify(NOTIFY_STATUS, text); }

private:
    std::function<void(std::int32_t, const std::string&)> m_notify;
};

} // namespace

void TFirActualizarePropriuzisa::Execute()
{
    TWorkerHost host([this](std::int32_t code, const std::string& text) { Notify(code, text); });
    RunUpdateStage(package::GetPatchDataEngine(), host);
    Notify(NOTIFY_DONE, "");
}

} // namespace upd::wizard
