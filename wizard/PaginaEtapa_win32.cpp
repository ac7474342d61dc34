#include "wizard/PaginaEtapa_win32.h"

#include <commctrl.h>

#include <charconv>

#include "ui/ControlIds.h"
#include "base/Dpi_win32.h"
#include "base/Exception.h"
#include "package/PatchDataEngine.h"
#include "text/LetterCodes.h"
#include "wizard/RunOutcome.h"
#include "wizard/StageControl.h"

namespace upd::wizard {

using namespace upd::ui;

namespace {

std::int64_t ParseCount(const std::string& text)
{
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        throw Exception("'" + text + "' is not a valid integer value");
    return value;
}

} // namespace

bool ProgressPosition(const std::string& text, int base, int& position)
{
    std::size_t bar = text.find('|');
    if (bar == std::string::npos)
        throw Exception("'" + text + "' is not a valid integer value");
    std::int64_t done = ParseCount(text.substr(0, bar));
    std::int64_t total = ParseCount(text.substr(bar + 1));
    if (total == 0)
        return false;
    // 64-bit for every stage: the archive stage counts bytes.
    position = static_cast<int>(base + done * kProgressPerStage / total);
    return true;
}

TPaginaEtapa::TPaginaEtapa(HWND host, int id, const TRunRecords& records, const std::string& stageText,
                           int progressBase)
    : TPaginaActualizare(host, id), Records(records), m_progressBase(progressBase)
{
    using text::DecodeDiacritics;
    AddLabel(kIdLabel1, 16, 16, 305, 57, 21, true,
             DecodeDiacritics(package::GetPatchDataEngine().Header.Title));
    AddLabel(kIdLabel2, 16, 80, 305, 73, 13, true, DecodeDiacritics(stageText));
    AddLabel(kIdLabel3, 24, 248, 0, 0, 11, false, DecodeDiacritics("A@steptati pu@tin..."));
    const RECT place = Scaled(RECT{24, 264, 24 + 281, 264 + 17});
    HWND bar = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, place.left, place.top,
                                 place.right - place.left, place.bottom - place.top, Handle(),
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdProgressBar1)),
                                 ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(bar, PBM_SETRANGE32, 0, kProgressMax);
    ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(progressBase), 0);
}

void TPaginaEtapa::HandleCreated()
{
    if (ThreadStarted)
        return;
    if (auto worker = CreateWorker(Handle())) {
        TFirEtapa::Start(std::move(worker));
        ThreadStarted = true;
    }
}

LRESULT TPaginaEtapa::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_WORKER_ASK) {
        auto* question = reinterpret_cast<TIntrebareFir*>(wParam);
        if (!question)
            return 0;
        HWND top = ::GetAncestor(Handle(), GA_ROOT);
        question->Retry = ShowMessageBox(top, question->Text, MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
        if (!question->Retry) {
            // The user stopped the update: the program ends, nothing changed.
            RunOutcome().FileInUse();
            StageControl().Cancel();
            ::PostQuitMessage(0);
        }
        return 0;
    }
    if (message != WM_WORKER_NOTIFY)
        return TPaginaActualizare::WindowProc(message, wParam, lParam);
    // Destroyed when the handler ends, whether it succeeded or not.
    std::unique_ptr<TComunicareFir> notification = TakeNotification(wParam);
    if (notification)
        HandleNotification(*notification);
    return 0;
}

void TPaginaEtapa::HandleNotification(const TComunicareFir& notification)
{
    HWND top = ::GetAncestor(Handle(), GA_ROOT);
    // An error shown here is not shown again at the end of the program. A
    // success is left for the final page's hand-off to take.
    if (notification.Code == NOTIFY_FATAL || notification.Code == NOTIFY_EXCEPTION) {
        TComunicareFir shown;
        TakeFinalReport(shown);
    }
    switch (notification.Code) {
    case NOTIFY_PROGRESS: {
        int position = 0;
        if (ProgressPosition(notification.Text, m_progressBase, position))
            ::SendMessageW(Control(kIdProgressBar1), PBM_SETPOS, static_cast<WPARAM>(position), 0);
        break;
    }
    case NOTIFY_DONE:
        Finished = true;
        RequestNext();
        break;
    case NOTIFY_STATUS:
        if (HWND status = Control(kIdLabel4))
            SetControlText(status, notification.Text);
        break;
    case NOTIFY_WARNING:
        if (HandlesWarnings())
            ShowMessageBox(top, notification.Text, MB_OK | MB_ICONWARNING);
        break;
    case NOTIFY_FATAL:
    case NOTIFY_EXCEPTION:
        ShowMessageBox(top, notification.Text, MB_OK | MB_ICONERROR);
        // Ends the program without the close question.
        ::PostQuitMessage(0);
        break;
    default:
        break;
    }
}

} // namespace upd::wizard
