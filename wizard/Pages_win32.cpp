#include "wizard/Pages_win32.h"

#include "ui/ControlIds.h"
#include "base/Dpi_win32.h"
#include "base/Handles_win32.h"
#include "ui/CautaFisier_win32.h"
#include "package/PatchDataEngine.h"
#include "text/LetterCodes.h"
#include "version/Process_win32.h"
#include "wizard/EfectueazaActualizarea_win32.h"
#include "wizard/PaginaCitescArhiva_win32.h"
#include "wizard/UpdateLog.h"
#include "ui/MessageBox_win32.h"

namespace upd::wizard {

using namespace upd::ui;
using text::DecodeDiacritics;
using text::StarsToTags;

namespace {

constexpr int kDescriptionTop = 72;
constexpr int kDescriptionHeight = 121;

// Shown in place of the description when the package cannot be read: nothing
// can follow, so the user is told how to leave.
const char kNoPackageText[] =
    "Programul de actualizare nu poate fi utilizat deoarece datele de actualizare pe care le contine nu pot fi "
    "citite. Va rugam apasati butonul \"Renun@t\" pentru a p@ar@asi acest program si descarcati din nou programul "
    "de actualizare.";

} // namespace

TPaginaIntro::TPaginaIntro(HWND host, int id) : TPaginaActualizare(host, id)
{
    HWND title = AddLabel(kIdLabel1, 16, 16, 305, 57, 21, true, "");
    try {
        SetControlText(title, DecodeDiacritics(package::GetPatchDataEngine().Header.Title));
        m_packageOpened = true;
    } catch (const std::exception& e) {
        ShowException(host, e);
    }
    if (m_packageOpened) {
        QvtParagraf1 = std::make_unique<text::TQvtParagraf>();
        QvtParagraf1->SetBkColor(text::clWindow);
        QvtParagraf1->Create(Handle(),
                             Scaled(RECT{16, kDescriptionTop, 16 + 289, kDescriptionTop + kDescriptionHeight}),
                             kIdQvtParagraf1);
        QvtParagraf1->OnResize = [this](text::TQvtParagrafCore&) { QvtParagraf1Resize(); };
        QvtParagraf1->SetAutoHeight(true);
        try {
            const package::TPatchDataEngine& engine = package::GetPatchDataEngine();
            QvtParagraf1->SetText("<p>" + StarsToTags(DecodeDiacritics(engine.Update->Description)) + "</p>");
        } catch (const std::exception& e) {
            ShowException(host, e);
            // The header's short description, tags and all, in a plain box.
            std::string shortText =
                "<p>" + StarsToTags(DecodeDiacritics(package::GetPatchDataEngine().Header.Description)) + "</p>";
            ShowMessageBox(::GetAncestor(host, GA_ROOT), shortText, MB_OK);
        }
    } else {
        AddLabel(kIdQvtParagraf1, 16, kDescriptionTop, 289, kDescriptionHeight, 13, true,
                 DecodeDiacritics(kNoPackageText));
    }
    AddLabel(kIdLabel3, 16, 216, 305, 57, 13, true,
             m_packageOpened ? DecodeDiacritics("Pentru a @incepe actualizarea programului ap@asa@ti butonul "
                                                "\"@Inainte\". Pentru a p@ar@asi acest program de actualizare "
                                                "ap@asa@ti butonul \"Renun@t\"")
                             : std::string());
    QvtParagraf1Resize();
}

void TPaginaIntro::QvtParagraf1Resize()
{
    RECT r{};
    HWND description = Control(kIdQvtParagraf1);
    ::GetWindowRect(description, &r);
    ::MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&r), 2);
    if (HWND label = Control(kIdLabel3))
        ::SetWindowPos(label, nullptr, Scaled(16), r.bottom + Scaled(16), 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

TPaginaCitescArhiva::TPaginaCitescArhiva(HWND host, int id, const TRunRecords& records)
    : TPaginaEtapa(host, id, records,
                   package::GetPatchDataEngine().Header.VolumeCount != 0
                       ? "Acum programul verific@a integritatea dischetelor. Pe parcursul acestei etape vi se vor "
                         "solicita, pe r@and, toate dischetele"
                       : "Acum programul verific@a integritatea datelor arhivate. V@a rug@m a@stepta@ti pu@tin...",
                   kProgressPerStage)
{
}

std::unique_ptr<TFirEtapa> TPaginaCitescArhiva::CreateWorker(HWND pageWindow)
{
    return std::make_unique<TFirCitescArhiva>(pageWindow, Records);
}

LRESULT TPaginaCitescArhiva::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    // The worker waits in the send until the request has its answer.
    if (message == ui::WM_REQUESTVOLUME)
        return HandleVolumeRequest(Handle(), wParam);
    return TPaginaEtapa::WindowProc(message, wParam, lParam);
}

TEfectueazaActualizarea::TEfectueazaActualizarea(HWND host, int id, const TRunRecords& records)
    : TPaginaEtapa(host, id, records,
                   "Toate informa@tiile necesare actualiz@arii au fost acumulate, urmeaz@a ultima etapa - "
                   "actualizarea propriuzisa. V@a rug@am a@stepta@ti pu@tin...",
                   2 * kProgressPerStage)
{
    // The status line stands above the waiting notice.
    AddLabel(kIdLabel4, 24, 233, 281, 15, 11, false, "");
}

std::unique_ptr<TFirEtapa> TEfectueazaActualizarea::CreateWorker(HWND pageWindow)
{
    return std::make_unique<TFirActualizarePropriuzisa>(pageWindow, Records);
}

TPaginaFinal::TPaginaFinal(HWND host, int id, const TRunRecords& records)
    : TPaginaActualizare(host, id), m_records(records)
{
    AddLabel(kIdLabel1, 16, 16, 305, 57, 21, true, DecodeDiacritics(package::GetPatchDataEngine().Header.Title));
    AddLabel(kIdLabel2, 16, 80, 305, 193, 13, true,
             DecodeDiacritics("Actualizarea programelor s-a @incheiat cu succes. Nu mai r@am@hne dec@ht s@a "
                              "re@improsp@atez datele de salarizare din programul de centralizare. V@a rug@am "
                              "ap@asa@ti butonul \"Finalizeaz@a\" pentru a @inchide acest program @si pentru a "
                              "initializa procesul de actualizare a datelor."));
}

void TPaginaFinal::Finish()
{
    THandOff none;
    THandOff& handOff = m_records.HandOff ? *m_records.HandOff : none;
    std::string why;
    THandOffResult result = THandOffResult::NotVerified;
    try {
        // Not waited for: the wizard closes right after.
        result = handOff.Start(kPayrollArgument, version::SystemUserSession(), why);
    } catch (const std::exception& e) {
        m_records.Log.Write("handoff", std::string("not started: ") + e.what());
        throw;
    }
    if (result == THandOffResult::Started) {
        m_records.Log.Write("handoff", std::string("started ") + kPayrollProgram + " as the desktop user");
        return;
    }
    m_records.Log.Write("handoff", std::string(result == THandOffResult::NoDesktopUser ? "not started, no desktop user: "
                                                                                         : "not started, not verified: ") +
                                       why);
    // The update itself succeeded: a warning, not an error.
    ShowMessageBox(::GetAncestor(Handle(), GA_ROOT), THandOff::NotStartedMessage(result, why),
                   MB_OK | MB_ICONWARNING);
}

} // namespace upd::wizard
