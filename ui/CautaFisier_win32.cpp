#include "ui/CautaFisier_win32.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

#include "base/Handles_win32.h"
#include "ui/PaginaActualizare_win32.h"
#include "base/Dpi_win32.h"
#include "base/File.h"
#include "base/SystemLibrary_win32.h"
#include "base/Win32_win32.h"
#include "ui/Window_win32.h"

namespace upd::ui {

using package::TVolumeSearchHost;

namespace {

constexpr wchar_t kClassName[] = L"TCautaFisier";
constexpr int kClientWidth = 441;
constexpr int kClientHeight = 201;
constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr int kAnimationResource = 150; // the shell's find-folder animation
constexpr int kAnimationStopFrame = 29;

TFontHandle MakeTitleFont()
{
    LOGFONTW font{};
    font.lfHeight = -Scaled(15);
    font.lfWeight = FW_BOLD;
    font.lfCharSet = EASTEUROPE_CHARSET;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
    lstrcpyW(font.lfFaceName, L"Arial");
    return TFontHandle(::CreateFontIndirectW(&font));
}

class TCautaFisier {
public:
    TCautaFisier(HWND owner, TVolumeSearchHost& host) : m_owner(owner), m_host(host) {}

    bool Run(const std::string& explanation, const TPath& startPath, const TPath& filter,
             TPath& path, bool& closed);

    static LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls(const std::string& explanation, const TPath& startPath);
    HWND AddControl(const wchar_t* className, const TPath& text, DWORD style, int id, int x, int y,
                    int width, int height, HFONT font);
    void CautaClick();
    void OkClick();
    void RenuntClick();
    TPath EditText() const;

    HWND m_owner;
    TVolumeSearchHost& m_host;
    HWND m_window = nullptr;
    TPath m_filter;
    TPath m_path;
    bool m_done = false;
    bool m_ok = false;
    bool m_closed = false;
    TFontHandle m_font = ui::MakeArialFont(13);
    TFontHandle m_editFont = ui::MakeArialFont(12);
    TFontHandle m_titleFont = MakeTitleFont();
};

void RegisterClassOnce()
{
    static bool registered = false;
    if (registered)
        return;
    InitCommonControlClasses(ICC_ANIMATE_CLASS);
    WNDCLASSW wc{};
    wc.lpfnWndProc = &TCautaFisier::StaticProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    ::RegisterClassW(&wc);
    registered = true;
}

HWND TCautaFisier::AddControl(const wchar_t* className, const TPath& text, DWORD style, int id, int x, int y,
                              int width, int height, HFONT font)
{
    // Places are those of the 96-dpi layout, scaled.
    const RECT r = Scaled(RECT{x, y, x + width, y + height});
    HWND control = ::CreateWindowExW(className == std::wstring(L"EDIT") ? WS_EX_CLIENTEDGE : 0, className,
                                     text.Native().c_str(), WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                                     r.right - r.left, r.bottom - r.top,
                                     m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                     ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

void TCautaFisier::CreateControls(const std::string& explanation, const TPath& startPath)
{
    // As wide as the dialog: a bold title grows faster than its font at
    // larger scales (its strokes are rounded up to whole pixels).
    AddControl(L"STATIC", "Programul de actualizare nu gaseste un fisier", SS_LEFTNOWORDWRAP | SS_NOPREFIX,
               kIdCautaLabel2, 8, 8, kClientWidth - 16, 18, m_titleFont.Get());
    HWND animation = AddControl(ANIMATE_CLASSW, "", ACS_TRANSPARENT, kIdCautaAnimate1, 18, 47, 80, 50,
                                m_font.Get());
    if (::SendMessageW(animation, ACM_OPENW, reinterpret_cast<WPARAM>(::GetModuleHandleW(L"shell32.dll")),
                       reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(kAnimationResource))))
        ::SendMessageW(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, kAnimationStopFrame));
    AddControl(L"STATIC", explanation, SS_LEFT | SS_NOPREFIX, kIdCautaLabel1, 128, 32, 305, 97, m_font.Get());
    AddControl(L"STATIC", "Fisier:", SS_LEFTNOWORDWRAP, kIdCautaLabel3, 16, 120, 40, 16, m_font.Get());
    AddControl(L"EDIT", startPath, ES_AUTOHSCROLL | WS_TABSTOP, kIdCautaEdit1, 16, 136, 337, 23, m_editFont.Get());
    AddControl(L"BUTTON", "Cauta", BS_PUSHBUTTON | WS_TABSTOP, kIdCautaButton, 360, 136, 75, 23, m_font.Get());
    AddControl(L"BUTTON", "Ok", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, 16, 168, 75, 25, m_font.Get());
    AddControl(L"BUTTON", "Renunt", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL, 96, 168, 75, 25, m_font.Get());
}

bool TCautaFisier::Run(const std::string& explanation, const TPath& startPath, const TPath& filter, TPath& path,
                       bool& closed)
{
    RegisterClassOnce();
    m_filter = filter;
    DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
    DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT frame{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    m_window = ::CreateWindowExW(exStyle, kClassName, Wide(kCautaFisierCaption).c_str(), style, 0, 0,
                                 frame.right - frame.left, frame.bottom - frame.top, m_owner, nullptr,
                                 ::GetModuleHandleW(nullptr), this);
    if (!m_window)
        RaiseLastOSError();
    CreateControls(explanation, startPath);
    CenterOnWorkArea(m_window);
    bool ownerWasEnabled = m_owner && ::IsWindowEnabled(m_owner);
    if (ownerWasEnabled)
        ::EnableWindow(m_owner, FALSE);
    ::ShowWindow(m_window, SW_SHOW);
    ::SetFocus(::GetDlgItem(m_window, kIdCautaEdit1));
    // The dialog's own loop; it also ends when the dialog goes with its owner.
    MSG msg;
    while (!m_done && ::IsWindow(m_window)) {
        int got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (::IsDialogMessageW(m_window, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (ownerWasEnabled && ::IsWindow(m_owner))
        ::EnableWindow(m_owner, TRUE);
    if (::IsWindow(m_window))
        ::DestroyWindow(m_window);
    m_window = nullptr;
    path = m_ok ? m_path : std::string();
    closed = m_closed;
    return m_ok;
}

LRESULT CALLBACK TCautaFisier::StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TCautaFisier*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self || !self->m_window)
        return ::DefWindowProcW(window, message, wParam, lParam);
    try {
        return self->WindowProc(message, wParam, lParam);
    } catch (const std::exception& e) {
        ui::ShowException(window, e);
        return 0;
    }
}

LRESULT TCautaFisier::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case DM_GETDEFID:
        return MAKELRESULT(IDOK, DC_HASDEFID);
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == ::GetDlgItem(m_window, kIdCautaLabel2)) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetTextColor(dc, kNavy);
            ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            switch (LOWORD(wParam)) {
            case kIdCautaButton:
                CautaClick();
                return 0;
            case IDOK:
                OkClick();
                return 0;
            case IDCANCEL:
                RenuntClick();
                return 0;
            default:
                break;
            }
        }
        break;
    case WM_CLOSE:
        RenuntClick();
        return 0;
    case WM_DESTROY:
        m_done = true;
        break;
    default:
        break;
    }
    return ::DefWindowProcW(m_window, message, wParam, lParam);
}

TPath TCautaFisier::EditText() const
{
    // The user may type or pick any name: read it in the system's own form.
    HWND edit = ::GetDlgItem(m_window, kIdCautaEdit1);
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(edit)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
    return TPath::FromNative(std::move(text));
}

void TCautaFisier::CautaClick()
{
    std::wstring filter = m_filter.Native();
    for (wchar_t& c : filter)
        if (c == L'|')
            c = L'\0';
    filter.push_back(L'\0');
    std::vector<wchar_t> file(MAX_PATH * 4, L'\0');
    std::wstring start = EditText().Native();
    start.copy(file.data(), std::min(start.size(), file.size() - 1));
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = m_window;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (::GetOpenFileNameW(&ofn))
        ::SetWindowTextW(::GetDlgItem(m_window, kIdCautaEdit1), file.data());
}

void TCautaFisier::OkClick()
{
    TPath text = EditText();
    std::string verdict = CheckChosenFile(text, m_host);
    if (!verdict.empty()) {
        ui::ShowMessageBox(m_window, verdict, MB_OK);
        return;
    }
    m_path = text;
    m_ok = true;
    m_done = true;
}

void TCautaFisier::RenuntClick()
{
    if (!m_host.RequestClose()) {
        // The close question has enabled the main window again.
        if (m_owner && ::IsWindow(m_window))
            ::EnableWindow(m_owner, FALSE);
        return;
    }
    m_closed = true;
    m_done = true;
}

} // namespace

bool ShowCautaFisier(HWND owner, TVolumeSearchHost& host, const std::string& explanation, const TPath& startPath,
                     const TPath& filter, TPath& path, bool& closed)
{
    TCautaFisier dialog(owner, host);
    return dialog.Run(explanation, startPath, filter, path, closed);
}

bool TWin32VolumeSearchHost::FileExists(const TPath& path) { return upd::FileExists(path); }

std::vector<TPath> TWin32VolumeSearchHost::FolderEntries(const TPath& folder)
{
    std::vector<TPath> entries;
    WIN32_FIND_DATAW data{};
    HANDLE find = ::FindFirstFileW((folder + "\\*").Native().c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return entries;
    do {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back(TPath::FromNative(std::move(name)));
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return entries;
}

bool TWin32VolumeSearchHost::PromptForDiskette(const std::string& text)
{
    // OK tries the drive again; Cancel stands for Abort.
    return ui::ShowMessageBox(m_main, text, MB_OKCANCEL | MB_ICONWARNING) == IDOK;
}

bool TWin32VolumeSearchHost::RequestClose()
{
    ::SendMessageW(m_main, WM_CLOSE, 0, 0);
    // The main window destroys itself when the close is accepted.
    return !::IsWindow(m_main);
}

bool TWin32VolumeSearchHost::ShowDialog(const std::string& explanation, const TPath& startPath, const TPath& filter,
                                        TPath& path, bool& closed)
{
    return ShowCautaFisier(m_main, *this, explanation, startPath, filter, path, closed);
}

} // namespace upd::ui
