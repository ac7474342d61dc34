#include "wizard/PaginaCitescArhiva_win32.h"

#include "base/Exception.h"
#include "ui/CautaFisier_win32.h"
#include "package/PatchDataEngine.h"
#include "wizard/ArchiveStage.h"
#include "wizard/CommandLine.h"
#include "wizard/PaginaEtapa_win32.h"
#include "wizard/RunOutcome.h"
#include "wizard/StageControl.h"
#include "wizard/UpdateLog.h"

#include <functional>

namespace upd::wizard {

namespace {

// How often a volume request asked during the close question is sent again.
constexpr DWORD kDeferredRequestPauseMs = 50;

class TWorkerHost : public TArchiveStageHost {
public:
    TWorkerHost(HWND page, std::function<void(std::int32_t, const std::string&)> notify)
        : m_page(page), m_notify(std::move(notify))
    {
    }

    void Progress(std::int64_t done, std::int64_t total) override
    {
        // The bar moves in steps of 1/10000 of the stage: a report per block
        // of a large volume would only flood the page's queue.
        std::int64_t position = total > 0 ? done * kProgressPerStage / total : 0;
        if (position == m_lastPosition && done != total)
            return;
        m_lastPosition = position;
        m_notify(NOTIFY_PROGRESS, std::to_string(done) + "|" + std::to_string(total));
    }

    void RequestVolume(const TPath& fileName, const std::string& message, TPath& path,
                       std::int32_t volumeNumber, std::int32_t attempt) override
    {
        package::TRequestVolume request;
        request.FileName = fileName;
        request.Message = message;
        request.Path = path;
        request.VolumeNumber = volumeNumber;
        request.Attempt = attempt;
        if (!::IsWindow(m_page))
            throw TStageAbandoned{};
        ::SendMessageW(m_page, ui::WM_REQUESTVOLUME, reinterpret_cast<WPARAM>(&request), 0);
        // Asked while the close question was open: its answer decides.
        while (request.Deferred) {
            StageControl().CheckCancelled();
            ::Sleep(kDeferredRequestPauseMs);
            request.Deferred = false;
            if (!::IsWindow(m_page))
                throw TStageAbandoned{};
            ::SendMessageW(m_page, ui::WM_REQUESTVOLUME, reinterpret_cast<WPARAM>(&request), 0);
        }
        // A page that went during the request (the program is closing) has
        // answered nothing: asking again would only keep the program alive.
        if (request.Abandoned || !::IsWindow(m_page))
            throw TStageAbandoned{};
        // Asking again would fail again: the stage ends with the reason.
        if (!request.Error.empty())
            throw Exception(request.Error);
        path = request.Path;
    }

private:
    HWND m_page;
    std::function<void(std::int32_t, const std::string&)> m_notify;
    std::int64_t m_lastPosition = -1;
};

} // namespace

void TFirCitescArhiva::Execute()
{
    TWorkerHost host(PageWindow, [this](std::int32_t code, const std::string& text) { Notify(code, text); });
    Records.Log.Step("archive");
    RunOutcome().Stage(TRunStage::Archive);
    try {
        RunArchiveStage(package::GetPatchDataEngine(), host, Records);
    } catch (const TStageAbandoned&) {
        Records.Log.Abandoned();
        return;
    }
    Notify(NOTIFY_DONE, "");
}

LRESULT HandleVolumeRequest(HWND page, WPARAM wParam)
{
    auto* request = reinterpret_cast<package::TRequestVolume*>(wParam);
    if (!request)
        return 0;
    if (StageControl().Asking()) {
        request->Deferred = true;
        return 0;
    }
    try {
        ui::TWin32VolumeSearchHost host(::GetAncestor(page, GA_ROOT));
        // Nobody to ask: a volume that is not where the wizard looks ends the run.
        if (RunMode().Unattended())
            package::FindVolumeUnattended(*request, package::GetPatchDataEngine().GetExeFileName(), host);
        else
            package::ServeVolumeRequest(*request, package::GetPatchDataEngine().GetExeFileName(), host);
    } catch (const Exception& e) {
        request->Path = {};
        request->Error = e.Message();
    } catch (const std::exception& e) {
        request->Path = {};
        request->Error = e.what();
    } catch (...) {
        request->Path = {};
        request->Error = "Eroare necunoscuta la cautarea fisierului " + request->FileName.Text();
    }
    return 0;
}

} // namespace upd::wizard
