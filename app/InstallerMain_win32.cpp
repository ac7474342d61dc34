#include "app/InstallerMain_win32.h"
#include "wizard/CommandLine.h"
#include "wizard/RunOutcome.h"
#include "wizard/StageControl.h"

#include "ui/ControlIds.h"
#include "app/Resources.h"
#include "base/Dpi_win32.h"
#include "base/Exception.h"
#include "base/Win32_win32.h"
#include "wizard/PaginaValidare_win32.h"
#include "wizard/Pages_win32.h"
#include "wizard/Worker_win32.h"

#include <type_traits>

namespace upd::app {

using namespace upd::ui;

namespace {

const wchar_t kMainClass[] = L"TInstallerMain";
const wchar_t kPanelClass[] = L"TInstallerPanel";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 50;
constexpr int kClientWidth = 492;
constexpr int kClientHeight = 356;
constexpr int kPanelHeight = 314;
constexpr int kPictureWidth = 164;

const char kCloseQuestion[] =
    "In acest moment programul efectueaza actualizarea. Daca inchideti programul acum, programele in curs de "
    "actualizare pot ramane intr-o stare intermediara de actualizare care nu va mai permite actualizarea "
    "utilizand programe de actualizare descarcate de pe internet.\r\nSigur doriti sa opriti programula cum?";

template <class TPage>
std::unique_ptr<TPaginaActualizare> MakePage(HWND host, int id, const wizard::TRunRecords& records)
{
    // Only the stage pages write to the run's records.
    if constexpr (std::is_constructible_v<TPage, HWND, int, const wizard::TRunRecords&>)
        return std::make_unique<TPage>(host, id, records);
    else
        return std::make_unique<TPage>(host, id);
}

void RegisterClasses()
{
    static bool registered = false;
    if (registered)
        return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &TInstallerMain::StaticWindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kMainClass;
    if (!::RegisterClassExW(&wc))
        RaiseLastOSError();
    // The panel paints its own window-coloured background instead of showing
    // the parent's themed one.
    WNDCLASSEXW panel{};
    panel.cbSize = sizeof(panel);
    panel.lpfnWndProc = &::DefWindowProcW;
    panel.hInstance = wc.hInstance;
    panel.hCursor = wc.hCursor;
    panel.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    panel.lpszClassName = kPanelClass;
    if (!::RegisterClassExW(&panel))
        RaiseLastOSError();
    registered = true;
}

} // namespace

void TPageArray::AddPageClass(TPageClass pageClass)
{
    PageClasses.push_back(pageClass);
    PageInstances.emplace_back();
}

TPaginaActualizare& TPageArray::GetPage(int index)
{
    auto slot = static_cast<std::size_t>(index);
    if (!PageInstances.at(slot))
        PageInstances[slot] = PageClasses[slot](Host, kIdFirstPage + index, Records);
    return *PageInstances[slot];
}

bool TPageArray::HasPage(int index) const
{
    return index >= 0 && index < PageCount() && PageInstances[static_cast<std::size_t>(index)] != nullptr;
}

TInstallerMain::TInstallerMain(const wizard::TRunRecords& records) : m_records(records) {}

TInstallerMain::~TInstallerMain()
{
    // Pages first: their windows are children of the main window.
    Pages.reset();
    if (::IsWindow(m_window)) {
        ::SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        ::DestroyWindow(m_window);
    }
}

void TInstallerMain::Create()
{
    RegisterClasses();
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
    ::AdjustWindowRectEx(&frame, style, FALSE, 0);
    m_window = ::CreateWindowExW(WS_EX_CONTROLPARENT, kMainClass, Wide(kWizardCaption).c_str(), style,
                                 CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                                 nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
    if (!m_window)
        RaiseLastOSError();
    FormCreate();
}

void TInstallerMain::Show()
{
    // A quiet run keeps every window hidden from start to end.
    if (wizard::RunMode().Quiet())
        return;
    ::ShowWindow(m_window, SW_SHOWNORMAL);
    ::UpdateWindow(m_window);
}

void TInstallerMain::FormCreate()
{
    // The whole screen, not the work area; integer halves.
    RECT r{};
    ::GetWindowRect(m_window, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    ::SetWindowPos(m_window, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                   (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    // Places are those of the 96-dpi layout, scaled.
    auto child = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, HWND parent,
                     int id) {
        const RECT r = Scaled(RECT{x, y, x + w, y + h});
        HWND control = ::CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                                         r.right - r.left, r.bottom - r.top, parent,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        if (!control)
            RaiseLastOSError();
        return control;
    };
    m_panel1 = child(kPanelClass, L"", WS_CLIPCHILDREN, 0, 0, kClientWidth, kPanelHeight, m_window, kIdPanel1);
    ::SetWindowLongPtrW(m_panel1, GWL_EXSTYLE, WS_EX_CONTROLPARENT);
    m_picture.Reset(LoadScaledBitmap(instance, kSidePictureId));
    HWND image = child(L"STATIC", L"", SS_BITMAP, 0, 0, kPictureWidth, kPanelHeight, m_panel1, kIdImage1);
    ::SendMessageW(image, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(m_picture.Get()));

    m_buttonFont = MakeButtonFont();
    HFONT buttonFont = m_buttonFont.Get();
    m_button1 = child(L"BUTTON", Wide("Inainte >>").c_str(), WS_TABSTOP | BS_DEFPUSHBUTTON, 329, 324, 75, 25,
                      m_window, kIdButton1);
    m_button2 = child(L"BUTTON", Wide("Renunt").c_str(), WS_TABSTOP | BS_PUSHBUTTON, 409, 324, 75, 25, m_window,
                      kIdButton2);
    ::SendMessageW(m_button1, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont), FALSE);
    ::SendMessageW(m_button2, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont), FALSE);

    Pages = std::make_unique<TPageArray>(m_panel1, m_records);
    Pages->AddPageClass(&MakePage<wizard::TPaginaIntro>);
    Pages->AddPageClass(&MakePage<wizard::TPaginaValidare>);
    Pages->AddPageClass(&MakePage<wizard::TPaginaCitescArhiva>);
    Pages->AddPageClass(&MakePage<wizard::TEfectueazaActualizarea>);
    Pages->AddPageClass(&MakePage<wizard::TPaginaFinal>);
    CurrentPage = 0;
    Pages->GetPage(0).Show();
    const bool opened = Pages->GetPage(0).CanAdvance();
    if (!opened)
        wizard::RunOutcome().PackageUnreadable();
    SetButton1(opened);
    ::SetTimer(m_window, kTimer1, kTimer1Interval, nullptr);
    // An unattended run starts with the first stage, before the window is
    // on show; without a package there is nothing to run.
    if (wizard::RunMode().Unattended()) {
        if (opened)
            Button1Click();
        else
            ::PostMessageW(m_window, WM_CLOSE, 0, 0);
    }
}

void TInstallerMain::SetButton1(bool enabled) { ::EnableWindow(m_button1, enabled ? TRUE : FALSE); }

void TInstallerMain::Timer1Timer()
{
    try {
        TPaginaActualizare& page = Pages->GetPage(CurrentPage);
        SetButton1(!page.IsBusy() && page.CanAdvance());
    } catch (const std::exception& e) {
        ::KillTimer(m_window, kTimer1);
        ShowException(m_window, e);
    }
}

void TInstallerMain::Button1Click()
{
    TPaginaActualizare& page = Pages->GetPage(CurrentPage);
    if (page.IsBusy() || !page.CanAdvance())
        return;
    if (CurrentPage + 1 < Pages->PageCount()) {
        // The next page is made before CurrentPage moves, so a page that cannot
        // be made leaves the wizard on a page that exists (and can be closed).
        TPaginaActualizare& next = Pages->GetPage(CurrentPage + 1);
        // The final page follows only the update stage's success.
        if (CurrentPage + 1 == Pages->PageCount() - 1) {
            wizard::RunOutcome().Updated();
            if (wizard::RunMode().Unattended()) {
                FinishUnattended(next);
                return;
            }
        }
        ++CurrentPage;
        next.Show();
        page.Hide();
        SetButton1(!next.IsBusy() && next.CanAdvance());
        bool last = CurrentPage == Pages->PageCount() - 1;
        SetControlText(m_button1, last ? "Finalizeaza" : "Inainte >>");
        return;
    }
    // The hand-off is the user's news of a successful update: the end of
    // the program has nothing left to tell.
    wizard::TComunicareFir done;
    wizard::TakeFinalReport(done);
    page.Finish();
    ::SendMessageW(m_window, WM_CLOSE, 0, 0);
}

void TInstallerMain::FinishUnattended(TPaginaActualizare& finalPage)
{
    // The hand-off of the final page, without the page: the update is done
    // whether or not the payroll program starts (the log says which).
    try {
        finalPage.Finish();
    } catch (const std::exception& e) {
        ShowException(m_window, e);
    }
    ::SendMessageW(m_window, WM_CLOSE, 0, 0);
}

void TInstallerMain::Button2Click() { ::SendMessageW(m_window, WM_CLOSE, 0, 0); }

bool TInstallerMain::AskToClose()
{
    wizard::StageControl().SetAsking(true);
    const bool yes = ShowMessageBox(m_window, kCloseQuestion, MB_YESNO | MB_ICONQUESTION) == IDYES;
    // Before the flag drops: a stage asking again must find itself cancelled.
    if (yes)
        wizard::StageControl().Cancel();
    wizard::StageControl().SetAsking(false);
    return yes;
}

bool TInstallerMain::CloseQuery()
{
    // The replacement of the installed files takes moments and must complete
    // or roll back: no question while it runs.
    if (wizard::StageControl().InReplacement()) {
        CloseAccepted = false;
        return false;
    }
    bool busy = false;
    if (Pages && Pages->HasPage(CurrentPage))
        busy = Pages->GetPage(CurrentPage).IsBusy();
    // A passive run's user stops it without a question: nothing has changed.
    CloseAccepted = !busy || wizard::RunMode().Unattended() || AskToClose();
    // The stage stops at its next block; a replacement that began while the
    // question was open is waited for at the end of the program instead.
    if (CloseAccepted && busy) {
        wizard::StageControl().Cancel();
        wizard::RunOutcome().Cancelled();
    }
    return CloseAccepted;
}

LRESULT CALLBACK TInstallerMain::StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TInstallerMain*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return ::DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCCREATE)
        self->m_window = window;
    // No error may unwind through the system's dispatcher.
    try {
        return self->WindowProc(message, wParam, lParam);
    } catch (const std::exception& e) {
        ShowException(window, e);
        // Nobody can go on from here in an unattended run (a page that
        // cannot be made): it ends.
        if (wizard::RunMode().Unattended()) {
            wizard::RunOutcome().Failed(false);
            ::PostQuitMessage(0);
        }
        return 0;
    }
}

LRESULT TInstallerMain::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == kTimer1)
            Timer1Timer();
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            if (LOWORD(wParam) == kIdButton1)
                Button1Click();
            else if (LOWORD(wParam) == kIdButton2)
                Button2Click();
        }
        return 0;
    case WM_ADVANCE_PAGE:
        // Through the button's own click path, as if the user had pressed Next.
        Button1Click();
        return 0;
    case WM_CLOSE:
        if (CloseQuery())
            ::DestroyWindow(m_window);
        return 0;
    case WM_DESTROY:
        ::KillTimer(m_window, kTimer1);
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(m_window, message, wParam, lParam);
    }
}

} // namespace upd::app
