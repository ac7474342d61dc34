#include "text/QvtParagraf_win32.h"

#include <algorithm>

#include "base/Dpi_win32.h"
#include "base/Win32_win32.h"

namespace upd::text {

namespace {

constexpr UINT_PTR kHoverTimerId = 1;

struct TFlagScope {
    explicit TFlagScope(bool& flag) : m_flag(flag) { m_flag = true; }
    ~TFlagScope() { m_flag = false; }
    bool& m_flag;
};

void RegisterClassOnce(WNDPROC proc)
{
    static bool registered = false;
    if (registered)
        return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = TQvtParagraf::WindowClassName();
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        RaiseLastOSError();
    registered = true;
}

std::int32_t SignedLow(LPARAM lp) { return static_cast<short>(LOWORD(lp)); }
std::int32_t SignedHigh(LPARAM lp) { return static_cast<short>(HIWORD(lp)); }

} // namespace

const wchar_t* TQvtParagraf::WindowClassName() noexcept
{
    return L"TQvtParagraf";
}

TQvtParagraf::TQvtParagraf() : m_measurer(std::make_unique<TQvtGdiMeasurer>(m_fonts))
{
    // The base built the table from the classic scheme; use the system's colours.
    BuildHoverColors();
}

TQvtParagraf::~TQvtParagraf()
{
    if (m_hwnd) {
        HWND hwnd = m_hwnd;
        DestroyWindow(hwnd); // WM_DESTROY releases the capture and detaches the window
    }
}

HWND TQvtParagraf::Create(HWND parent, const RECT& bounds, int controlId)
{
    if (m_hwnd)
        throw Exception(TErrorKind::Internal, "bug"); // one window per control
    RegisterClassOnce(&TQvtParagraf::WindowProc);
    HWND hwnd = CreateWindowExW(0, WindowClassName(), L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, bounds.left,
                                bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), GetModuleHandleW(nullptr),
                                this);
    if (!hwnd)
        RaiseLastOSError();
    // Creation normally sends a first WM_SIZE; lay out here when it did not.
    if (Parsed() && !Layout())
        HandleResize();
    return hwnd;
}

std::int32_t TQvtParagraf::Left() const
{
    if (!m_hwnd)
        return 0;
    RECT r;
    GetWindowRect(m_hwnd, &r);
    MapWindowPoints(nullptr, GetParent(m_hwnd), reinterpret_cast<POINT*>(&r), 2);
    return r.left;
}

std::int32_t TQvtParagraf::Top() const
{
    if (!m_hwnd)
        return 0;
    RECT r;
    GetWindowRect(m_hwnd, &r);
    MapWindowPoints(nullptr, GetParent(m_hwnd), reinterpret_cast<POINT*>(&r), 2);
    return r.top;
}

std::int32_t TQvtParagraf::Width() const
{
    RECT r{};
    if (m_hwnd)
        GetWindowRect(m_hwnd, &r);
    return r.right - r.left;
}

std::int32_t TQvtParagraf::Height() const
{
    RECT r{};
    if (m_hwnd)
        GetWindowRect(m_hwnd, &r);
    return r.bottom - r.top;
}

void TQvtParagraf::SetBounds(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height)
{
    if (m_hwnd)
        SetWindowPos(m_hwnd, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

std::int32_t TQvtParagraf::DevicePixels(std::int32_t pixels) const
{
    return Scaled(pixels);
}

std::wstring TQvtParagraf::WideText() const
{
    return Wide(Text());
}

void TQvtParagraf::SetWideText(const std::wstring& text)
{
    SetText(Narrow(text));
}

void TQvtParagraf::ApplyHeight(std::int32_t height)
{
    // Sends WM_SIZE at once when the height changes: the resize handling may
    // lay the text out again before this returns.
    if (m_hwnd)
        SetWindowPos(m_hwnd, nullptr, 0, 0, Width(), height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TQvtParagraf::Invalidate()
{
    if (m_hwnd)
        InvalidateRect(m_hwnd, nullptr, FALSE);
}

void TQvtParagraf::ShowHandCursor(bool hand)
{
    m_hand = hand;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(hand ? IDC_HAND : IDC_ARROW)));
}

TQvtColor TQvtParagraf::ResolveColor(TQvtColor color) const
{
    if (color & kSysColorFlag)
        return static_cast<TQvtColor>(GetSysColor(static_cast<int>(color & 0xFF)));
    return color;
}

LRESULT CALLBACK TQvtParagraf::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<TQvtParagraf*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->m_hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TQvtParagraf*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(hwnd, msg, wp, lp);
    // No exception may unwind through the window system.
    try {
        return self->OnMessage(msg, wp, lp);
    } catch (...) {
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

LRESULT TQvtParagraf::OnMessage(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_CREATE:
        SetTimer(m_hwnd, kHoverTimerId, kHoverIntervalMs, nullptr);
        return 0;
    case WM_ERASEBKGND:
        return 1; // the paint fills the background itself, off screen
    case WM_PAINT:
        Paint();
        return 0;
    case WM_SIZE:
        HandleResize();
        return 0;
    case WM_TIMER:
        if (wp == kHoverTimerId && HoverTick())
            Invalidate();
        return 0;
    case WM_MOUSEMOVE:
        MouseMove(SignedLow(lp), SignedHigh(lp));
        return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        MouseUp(msg, SignedLow(lp), SignedHigh(lp));
        return 0;
    case WM_SETCURSOR:
        if (LOWORD(lp) == HTCLIENT) {
            SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(m_hand ? IDC_HAND : IDC_ARROW)));
            return TRUE;
        }
        break;
    case WM_DESTROY:
        if (GetCapture() == m_hwnd)
            ReleaseCapture();
        KillTimer(m_hwnd, kHoverTimerId);
        return 0;
    case WM_NCDESTROY: {
        HWND hwnd = m_hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        m_hwnd = nullptr;
        // The layout measured on this window; without one there is none.
        Relayout();
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    default:
        break;
    }
    return DefWindowProcW(m_hwnd, msg, wp, lp);
}

void TQvtParagraf::Paint()
{
    TPaintGuard paint(m_hwnd);
    if (m_painting)
        return;
    TFlagScope painting(m_painting);
    RECT client;
    GetClientRect(m_hwnd, &client);
    // Composed off screen and shown at once, so the hover fade does not flicker.
    TMemoryDc mem(CreateCompatibleDC(paint.Dc()));
    TGdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(paint.Dc(), client.right, client.bottom));
    if (!mem || !bitmap) {
        PaintTo(paint.Dc(), client);
        return;
    }
    TSelectGuard select(mem.Get(), bitmap.Get());
    PaintTo(mem.Get(), client);
    BitBlt(paint.Dc(), 0, 0, client.right, client.bottom, mem.Get(), 0, 0, SRCCOPY);
}

void TQvtParagraf::PaintTo(HDC dc, const RECT& client)
{
    TGdiObject<HBRUSH> background(CreateSolidBrush(ResolveColor(BkColor())));
    FillRect(dc, &client, background.Get());
    const TListaSectiuniEcran* layout = Layout();
    if (!layout)
        return;
    for (const auto& section : layout->Sections) {
        TQvtFont font = RunFont(Style.ForKind(section->Kind).Font, section->Flags);
        TSelectGuard select(dc, m_fonts.Get(font));
        SetTextColor(dc, ResolveColor(font.Color));
        for (const auto& band : section->Bands) {
            for (const TQvtCuvantEcran* f : band->Items()) {
                int level = std::clamp(f->HoverLevel, 0, kHoverLevels);
                COLORREF color = HoverColors()[static_cast<std::size_t>(level)];
                RECT r{f->Bounds.Left, f->Bounds.Top, f->Bounds.Right, f->Bounds.Bottom};
                if (level != 0) {
                    TGdiObject<HBRUSH> brush(CreateSolidBrush(color));
                    FillRect(dc, &r, brush.Get());
                }
                ::SetBkColor(dc, color);
                SetBkMode(dc, OPAQUE);
                std::wstring text = Wide(f->Text);
                ExtTextOutW(dc, r.left, r.top, ETO_CLIPPED | ETO_OPAQUE, &r, text.c_str(),
                            static_cast<UINT>(text.size()), nullptr);
            }
        }
    }
}

void TQvtParagraf::MouseMove(std::int32_t x, std::int32_t y)
{
    // Captured so that moving off the control is seen and fades the link out.
    if (GetCapture() != m_hwnd)
        SetCapture(m_hwnd);
    TrackMouse(x, y);
}

void TQvtParagraf::TrackMouse(std::int32_t x, std::int32_t y)
{
    POINT p{x, y};
    ClientToScreen(m_hwnd, &p);
    if (WindowFromPoint(p) != m_hwnd) {
        UnhoverLink();
        if (GetCapture() == m_hwnd)
            ReleaseCapture();
        return;
    }
    TrackPointer(x, y);
}

void TQvtParagraf::MouseUp(UINT button, std::int32_t x, std::int32_t y)
{
    if (button == WM_RBUTTONUP) {
        Relayout();
        Invalidate();
        return;
    }
    if (button != WM_LBUTTONUP || !Layout())
        return;
    TQvtCuvantEcran* first = LinkAt(x, y, false);
    if (!first || !OnLink)
        return;
    if (GetCapture() == m_hwnd)
        ReleaseCapture();
    const std::int32_t linkId = first->LinkId; // the handler may replace the layout
    OnLink(*this, linkId);
    if (m_hwnd)
        MouseMove(0, 0);
}

} // namespace upd::text
