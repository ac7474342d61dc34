#include "app/PaginaActualizare_win32.h"

#include "app/ControlIds.h"
#include "base/Dpi_win32.h"
#include "base/Win32_win32.h"
#include "wizard/CommandLine.h"
#include "wizard/UpdateLog.h"

namespace upd::app {

namespace {

const wchar_t kPageClass[] = L"TPaginaActualizare";

void RegisterPageClass()
{
    static bool registered = false;
    if (registered)
        return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kPageClass;
    if (!::RegisterClassExW(&wc))
        RaiseLastOSError();
    registered = true;
}

// The window is created before the object is complete, so the object is
// attached right after CreateWindowExW and its messages arrive from then on.
TPaginaActualizare* PageOf(HWND window)
{
    return reinterpret_cast<TPaginaActualizare*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

} // namespace

TPaginaActualizare::TPaginaActualizare(HWND host, int id)
{
    RegisterPageClass();
    const RECT r = Scaled(RECT{kPageLeft, 0, kPageLeft + kPageWidth, kPageHeight});
    m_window = ::CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"", WS_CHILD | WS_CLIPCHILDREN, r.left, r.top,
                                 r.right - r.left, r.bottom - r.top, host,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                                 nullptr);
    if (!m_window)
        RaiseLastOSError();
    ::SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StaticWindowProc));
}

TPaginaActualizare::~TPaginaActualizare()
{
    if (::IsWindow(m_window)) {
        ::SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&::DefWindowProcW));
        ::DestroyWindow(m_window);
    }
}

void TPaginaActualizare::RequestNext()
{
    HWND top = m_window;
    while (HWND parent = ::GetParent(top))
        top = parent;
    ::PostMessageW(top, WM_ADVANCE_PAGE, 0, 0);
}

void TPaginaActualizare::Show()
{
    ::ShowWindow(m_window, SW_SHOW);
    if (!m_shown) {
        m_shown = true;
        HandleCreated();
    }
}

void TPaginaActualizare::Hide() { ::ShowWindow(m_window, SW_HIDE); }

LRESULT TPaginaActualizare::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CTLCOLORSTATIC: {
        // Labels stand on the page's window colour, not on a themed parent.
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
    }
    default:
        return ::DefWindowProcW(m_window, message, wParam, lParam);
    }
}

LRESULT CALLBACK TPaginaActualizare::StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TPaginaActualizare* page = PageOf(window);
    if (!page)
        return ::DefWindowProcW(window, message, wParam, lParam);
    // No error may unwind through the system's dispatcher.
    try {
        return page->WindowProc(message, wParam, lParam);
    } catch (const std::exception& e) {
        ShowException(window, e);
        return 0;
    }
}

HWND TPaginaActualizare::AddLabel(int id, int x, int y, int width, int height, int fontHeight, bool wordWrap,
                                  const std::string& text)
{
    m_fonts.push_back(MakeArialFont(fontHeight));
    HFONT font = m_fonts.back().Get();
    std::wstring wide = Wide(text);
    const RECT place = Scaled(RECT{x, y, x + width, y + height});
    x = place.left;
    y = place.top;
    width = width ? place.right - place.left : 0;
    height = height ? place.bottom - place.top : 0;
    if (width == 0 || height == 0) {
        TScreenDc screen;
        TSelectGuard select(screen.Dc(), font);
        SIZE size{};
        ::GetTextExtentPoint32W(screen.Dc(), wide.c_str(), static_cast<int>(wide.size()), &size);
        width = width ? width : size.cx + 1;
        height = height ? height : size.cy;
    }
    DWORD style = WS_CHILD | WS_VISIBLE | SS_NOPREFIX | (wordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP);
    HWND label = ::CreateWindowExW(0, L"STATIC", wide.c_str(), style, x, y, width, height, m_window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                                   nullptr);
    if (!label)
        RaiseLastOSError();
    ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return label;
}

void SetControlText(HWND control, const std::string& text) { ::SetWindowTextW(control, Wide(text).c_str()); }

std::string ControlText(HWND control)
{
    int length = ::GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(control, text.data(), length + 1)));
    return SystemText(text);
}

namespace {

wizard::TUpdateLog* g_messageLog = nullptr;

// An unattended run shows no box. A message only informs (its finding or
// error is in the log already); a question gets the answer that changes
// nothing and stops: No, Cancel, Abort.
int UnattendedAnswer(const std::string& text, UINT flags)
{
    const UINT buttons = flags & MB_TYPEMASK;
    if (buttons == MB_OK)
        return IDOK;
    if (g_messageLog)
        g_messageLog->Write("question", text + "\r\n(unattended: answered so that nothing changes)");
    switch (buttons) {
    case MB_YESNO:
        return IDNO;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    default:
        return IDCANCEL;
    }
}

} // namespace

void SetMessageLog(wizard::TUpdateLog* log) noexcept { g_messageLog = log; }

int ShowMessageBox(HWND owner, const std::string& text, UINT flags)
{
    if (upd::wizard::RunMode().Unattended())
        return UnattendedAnswer(text, flags);
    return ::MessageBoxW(owner, Wide(text).c_str(), Wide(kWizardCaption).c_str(), flags);
}

void ShowException(HWND owner, const std::exception& error)
{
    if (g_messageLog)
        g_messageLog->Error("Exception", error.what());
    HWND top = owner;
    while (top && ::GetParent(top))
        top = ::GetParent(top);
    ShowMessageBox(top, error.what(), MB_OK | MB_ICONERROR);
}

TFontHandle MakeArialFont(int height)
{
    LOGFONTW font{};
    font.lfHeight = -Scaled(height);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = EASTEUROPE_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
    lstrcpyW(font.lfFaceName, L"Arial");
    TFontHandle handle(::CreateFontIndirectW(&font));
    if (!handle)
        RaiseLastOSError();
    return handle;
}

TFontHandle MakeButtonFont()
{
    // The dialog font's face (MS Shell Dlg), at the size of 8 points on a
    // 96-dpi screen, scaled like the rest: the stock GUI font keeps a fixed
    // size on some systems and grows on others.
    LOGFONTW font{};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
    font.lfHeight = -Scaled(11);
    font.lfWidth = 0;
    TFontHandle handle(::CreateFontIndirectW(&font));
    if (!handle)
        RaiseLastOSError();
    return handle;
}

} // namespace upd::app
